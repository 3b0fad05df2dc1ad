// The connector called from the main window: every call runs on one other
// thread, in the order made, while the window handles its messages; a click
// that arrives meanwhile starts no second command.
#include "app/connettore_su_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/frm_main.h"
#include "common/test_support.h"

namespace kvt {
namespace {

std::atomic<int> pompe{0};

// Records each call and its thread. A connection ends only once the caller
// has pumped: it cannot end unless the caller pumps while it is pending.
class ConnettoreRegistrato final : public Connettore {
  public:
    void config() override { registra("config"); }
    int connect(const std::string&, const std::string&) override {
        registra("connect");
        while (pompe == 0) {
            std::this_thread::yield();
        }
        return 0;
    }
    std::string query(const std::string& richiesta, int, int) override {
        registra("query");
        return richiesta;
    }
    int getError() override {
        registra("getError");
        throw std::runtime_error("guasto nel connettore");
    }
    int disconnect() override {
        registra("disconnect");
        return 0;
    }
    void registra(const char* nome) {
        chiamate.emplace_back(nome);
        thread.insert(std::this_thread::get_id());
    }
    std::vector<std::string> chiamate;
    std::set<std::thread::id> thread;
};

// A wait that pumps; an operator's clicks arrive at the first pump.
class FinestrePompate final : public test::RecordingWindowing {
  public:
    void waitFor(Attesa& attesa, bool finestraAltrui) override {
        altrui.push_back(finestraAltrui);
        for (auto azione = std::exchange(clic, nullptr); !attesa.conclusa(); ++pompe) {
            if (azione) {
                std::exchange(azione, nullptr)();
            }
        }
    }
    std::function<void()> clic;
    std::vector<bool> altrui;
};

TEST(ConnettoreSuThread, CallsRunInOrderOnOneOtherThreadWhileTheWindowPumpsAndRefusesCommands) {
    test::TempFolder cartella;
    ConnettoreRegistrato registrato;
    FinestrePompate finestre;
    {
        ConnettoreSuThread connettore(registrato);
        TfrmMain finestra(cartella.path().string(), nullptr, &connettore);
        registrato.chiamate.clear();
        finestre.altrui.clear();
        finestre.clic = [&finestra] {
            finestra.cmdNuovoInvioClick();
            finestra.cmdConnessioneClick();
            finestra.cmdConfigClick();
            finestra.cmdExitClick();
        };
        finestra.cmdConnessioneClick();
        EXPECT_FALSE(finestra.chiusa());
        EXPECT_EQ(finestre.messages,
                  std::vector<std::string>{"Connessione stabilita con successo."});

        connettore.config();
        EXPECT_EQ(connettore.query("<richiesta/>", 255, 90), "<richiesta/>");
        EXPECT_THROW(connettore.getError(), std::runtime_error);
        EXPECT_EQ(registrato.chiamate, (std::vector<std::string>{"connect", "disconnect", "config",
                                                                 "query", "getError"}));
        // Only the options dialog is a window of the connector's own.
        EXPECT_EQ(finestre.altrui, (std::vector<bool>{false, false, true, false, false}));
    }
    ASSERT_EQ(registrato.thread.size(), 1U);
    EXPECT_NE(*registrato.thread.begin(), std::this_thread::get_id());
}

}  // namespace
}  // namespace kvt
