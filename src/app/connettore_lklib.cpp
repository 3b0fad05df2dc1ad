#include "app/connettore.h"
#include "app/connettore_su_thread.h"
#include "connector/lklib.h"

namespace kvt {
namespace {

class ConnettoreLKlib final : public Connettore {
  public:
    void config() override { LKConfig(); }
    int connect(const std::string& servizio, const std::string& secondo) override {
        return LKConnect(servizio.c_str(), secondo.c_str());
    }
    std::string query(const std::string& richiesta, int n, int timeoutSecondi) override {
        const char* risposta = LKQuery(richiesta.c_str(), n, timeoutSecondi);
        return risposta ? std::string(risposta) : std::string();
    }
    int getError() override { return LKGetError(); }
    int disconnect() override { return LKDisconnect(); }
};

}  // namespace

Connettore& connettoreLKlib() {
    // The library first, so that its thread has ended before it goes.
    static ConnettoreLKlib libreria;
    static ConnettoreSuThread connettore(libreria);
    return connettore;
}

}  // namespace kvt
