#pragma once
// The connector as the window uses it: the five functions of the connector
// client library behind one small interface, so that a test can stand in for
// the library (or wrap it) without a network. The program's own connector is
// `connettoreLKlib()`, which calls the library's functions unchanged, each on
// the program's one connector thread (connettore_su_thread.h).
#include <string>

namespace kvt {

class Connettore {
  public:
    virtual ~Connettore() = default;
    // The connector's options dialog; returns when it is closed.
    virtual void config() = 0;
    virtual int connect(const std::string& servizio, const std::string& secondo) = 0;
    // The answer of the service; a null answer of the library reads as the
    // empty text. The library keeps ownership of its text: this copies it.
    virtual std::string query(const std::string& richiesta, int n, int timeoutSecondi) = 0;
    virtual int getError() = 0;
    virtual int disconnect() = 0;
};

// The connector client library (LKlib) itself, called on its own thread.
Connettore& connettoreLKlib();

}  // namespace kvt
