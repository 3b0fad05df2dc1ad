#include "app/connettore_su_thread.h"

#include <exception>

#include "common/windowing.h"

namespace kvt {

struct ConnettoreSuThread::Chiamata {
    const std::function<void()>& lavoro;
    std::exception_ptr errore;
    Attesa attesa;
};

ConnettoreSuThread::ConnettoreSuThread(Connettore& interno) : interno_(interno) {}

ConnettoreSuThread::~ConnettoreSuThread() {
    {
        const std::lock_guard blocco(mutex_);
        fine_ = true;
    }
    arrivata_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ConnettoreSuThread::esegui(const std::function<void()>& lavoro, bool finestraAltrui) {
    Chiamata chiamata{lavoro, nullptr, {}};
    bool dalConnettore = false;
    {
        const std::lock_guard blocco(mutex_);
        if (!thread_.joinable()) {
            thread_ = std::thread(&ConnettoreSuThread::ciclo, this);
        }
        dalConnettore = std::this_thread::get_id() == thread_.get_id();
        if (!dalConnettore) {
            // A call made while another waits (through the messages handled
            // meanwhile) queues behind it: the order stays the callers'.
            coda_.push_back(&chiamata);
        }
    }
    if (dalConnettore) {
        // A call the connector makes itself, from its own thread.
        lavoro();
        return;
    }
    arrivata_.notify_one();
    try {
        windowing().waitFor(chiamata.attesa, finestraAltrui);
    } catch (...) {
        // The connector's thread still holds the call: it ends first.
        chiamata.attesa.attendi();
        throw;
    }
    if (chiamata.errore) {
        std::rethrow_exception(chiamata.errore);
    }
}

void ConnettoreSuThread::ciclo() {
    for (;;) {
        Chiamata* chiamata = nullptr;
        {
            std::unique_lock blocco(mutex_);
            arrivata_.wait(blocco, [this] { return fine_ || !coda_.empty(); });
            if (coda_.empty()) {
                return;
            }
            chiamata = coda_.front();
            coda_.pop_front();
        }
        try {
            chiamata->lavoro();
        } catch (...) {
            chiamata->errore = std::current_exception();
        }
        chiamata->attesa.concludi();
    }
}

void ConnettoreSuThread::config() {
    esegui([this] { interno_.config(); }, true);
}

int ConnettoreSuThread::connect(const std::string& servizio, const std::string& secondo) {
    int risultato = 0;
    esegui([&] { risultato = interno_.connect(servizio, secondo); });
    return risultato;
}

std::string ConnettoreSuThread::query(const std::string& richiesta, int n, int timeoutSecondi) {
    std::string risposta;
    esegui([&] { risposta = interno_.query(richiesta, n, timeoutSecondi); });
    return risposta;
}

int ConnettoreSuThread::getError() {
    int risultato = 0;
    esegui([&] { risultato = interno_.getError(); });
    return risultato;
}

int ConnettoreSuThread::disconnect() {
    int risultato = 0;
    esegui([&] { risultato = interno_.disconnect(); });
    return risultato;
}

}  // namespace kvt
