#pragma once
// The connector called from one thread of its own. The connector client
// library keeps a connection between calls and may rely on its thread; a call
// can last as long as the service's time-out. Every call of the program goes
// to one long-lived thread, one at a time, in the order it was made, while
// the calling (window) thread waits through the windowing seam, which keeps
// the window answering.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "app/connettore.h"

namespace kvt {

class ConnettoreSuThread final : public Connettore {
  public:
    // `interno` is called only from the thread of this object, made at the
    // first call; the caller keeps `interno` alive longer than this object.
    explicit ConnettoreSuThread(Connettore& interno);
    // Ends the thread once the calls made have ended.
    ~ConnettoreSuThread() override;
    ConnettoreSuThread(const ConnettoreSuThread&) = delete;
    ConnettoreSuThread& operator=(const ConnettoreSuThread&) = delete;

    // The options dialog is the connector's window: the program's windows
    // take no input while it is open.
    void config() override;
    int connect(const std::string& servizio, const std::string& secondo) override;
    std::string query(const std::string& richiesta, int n, int timeoutSecondi) override;
    int getError() override;
    int disconnect() override;

  private:
    struct Chiamata;
    // Runs `lavoro` on the connector's thread and waits for it; an exception
    // it raises reaches the caller.
    void esegui(const std::function<void()>& lavoro, bool finestraAltrui = false);
    void ciclo();

    Connettore& interno_;
    std::mutex mutex_;
    std::condition_variable arrivata_;
    std::deque<Chiamata*> coda_;
    bool fine_ = false;
    std::thread thread_;
};

}  // namespace kvt
