// The login window's model and the login's work on the main window
// (inizializza), against the host stand-in on a hand-made practice.
#include "app/frm_login.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/frm_main.h"
#include "app_support.h"
#include "host/automation.h"
#include "host/tvellopat.h"
#include "peers/vellodoc/practice.h"
#include "peers/vellodoc/vellodoc_server.h"

namespace kvt {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;
using test::leggi;
using test::righeLog;

// The host server of the stand-in, with every call written down by name, so
// that a test sees the session opened and closed.
class ServerSpia final : public automation::Object {
  public:
    ServerSpia(std::shared_ptr<automation::Object> vero, std::vector<std::string>& chiamate)
        : vero_(std::move(vero)), chiamate_(chiamate) {}
    automation::Variant call(std::string_view metodo,
                             const automation::Arguments& argomenti) override {
        chiamate_.emplace_back(metodo);
        return vero_->call(metodo, argomenti);
    }

  private:
    std::shared_ptr<automation::Object> vero_;
    std::vector<std::string>& chiamate_;
};

// The window system of the login's tests: messages, the hourglass, and what
// the login shows modally, with a hook to act while it is shown.
class FinestreLogin final : public Windowing {
  public:
    void messageBox(const std::string& text, const std::string&, MessageIcon) override {
        messaggi.push_back(text);
    }
    WindowHandle foregroundWindow() override { return 0; }
    void setForegroundWindow(WindowHandle) override {}
    void setHourglass(bool on) override { clessidra.push_back(on); }
    void processMessages() override {}
    void openDocument(const std::string&) override {}
    void showModal(ModalWindow& window) override {
        auto* principale = dynamic_cast<FinestraPrincipaleModale*>(&window);
        ASSERT_NE(principale, nullptr);
        ++modali;
        clessidraAlModale = clessidra.empty() ? false : clessidra.back();
        if (mentreModale) {
            mentreModale(principale->finestra);
        }
    }

    std::vector<std::string> messaggi;
    std::vector<bool> clessidra;
    int modali = 0;
    bool clessidraAlModale = true;
    std::function<void(TfrmMain&)> mentreModale;
};

class OsservatoreLogin final : public LoginObserver {
  public:
    void translucencyChanged(bool traslucida, int opacita) override {
        opacita_.push_back(traslucida ? opacita : -opacita);
    }
    void visibilityChanged(bool visibile) override { visibilita.push_back(visibile); }
    void closeRequested() override { ++chiusure; }
    std::vector<int> opacita_;
    std::vector<bool> visibilita;
    int chiusure = 0;
};

class LoginTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setWindowing(&finestre);
        vellodoc::registerServer();
        vero_ = automation::registerClass(
            "Vellodoc.Server", [this]() -> std::shared_ptr<automation::Object> {
                return std::make_shared<ServerSpia>(vero_(), chiamate);
            });
        studio.aggiungi({.codice = "P1",
                         .cognome = "ROSSI",
                         .nome = "MARIO",
                         .codiceFiscale = "RSSMRA60E12F205X"});
        studio.aggiungi({.codice = "P2",
                         .cognome = "BIANCHI",
                         .nome = "ANNA",
                         .codiceFiscale = "BNCNNA70A41F205Y"});
    }
    void TearDown() override {
        automation::registerClass("Vellodoc.Server", vero_);
        setWindowing(nullptr);
    }

    std::unique_ptr<TfrmLogin> nuovoLogin() {
        TfrmLogin::Impostazioni impostazioni;
        impostazioni.cartellaProgramma = studio.programma();
        impostazioni.connettore = &connettore;
        impostazioni.preparaFinestra = [this](TfrmMain& finestra) {
            ++preparate;
            hostAllaPreparazione = finestra.host() != nullptr;
        };
        auto login = std::make_unique<TfrmLogin>(std::move(impostazioni));
        login->setObserver(&osservatore);
        return login;
    }

    // Appends a value to the host application's key of the registry file.
    void aggiungiUltimoUtente(const std::string& utente) {
        std::ofstream(studio.registro().file(), std::ios::app)
            << "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano]\r\n\"ultimo_utente\"=\""
            << utente << "\"\r\n";
    }

    int formCreate() const {
        int n = 0;
        for (const std::string& riga : righeLog(studio.kvt() / "log.txt")) {
            n += riga.rfind("FormCreate - vd_kvt versione 1.46 - ", 0) == 0;
        }
        return n;
    }

    FinestreLogin finestre;
    OsservatoreLogin osservatore;
    test::ConnettoreDiProva connettore;
    test::Studio studio;
    automation::Factory vero_;
    std::vector<std::string> chiamate;
    int preparate = 0;
    bool hostAllaPreparazione = true;
};

TEST_F(LoginTest, ControlsAtStartAndTheLastUserFromTheRegistry) {
    aggiungiUltimoUtente("mrossi");
    const auto login = nuovoLogin();
    EXPECT_EQ(login->caption(), "Vello KVT");
    EXPECT_EQ(login->txtUtente.text(), "mrossi");
    EXPECT_EQ(login->txtPw.text(), "");
    EXPECT_EQ(login->txtPw.passwordChar(), '*');
    EXPECT_EQ(login->txtUtente.passwordChar(), '\0');
    EXPECT_EQ(login->lblUtente.caption(), "Utente");
    EXPECT_EQ(login->lblPw.caption(), "Password");
    EXPECT_TRUE(login->lblUtente.style().bold);
    EXPECT_EQ(login->cmdOK.caption(), "&OK");
    EXPECT_EQ(login->cmdAnulla.caption(), "&Annulla");
    EXPECT_TRUE(login->cmdOK.style().isDefault);
    EXPECT_FALSE(login->cmdAnulla.style().isDefault);
    EXPECT_THAT((std::vector<int>{login->txtUtente.tabOrder(), login->txtPw.tabOrder(),
                                  login->cmdOK.tabOrder(), login->cmdAnulla.tabOrder()}),
                ElementsAre(0, 1, 2, 3));
    EXPECT_EQ(login->opacita(), 255);
    EXPECT_TRUE(login->visibile());
    EXPECT_FALSE(login->chiusa());
    // Nothing else happens at start: no session, no main window.
    EXPECT_TRUE(chiamate.empty());
    EXPECT_FALSE(fs::exists(studio.kvt() / "log.txt"));
}

TEST_F(LoginTest, WithoutTheRegistryValueTheUserBoxStartsEmpty) {
    const auto login = nuovoLogin();
    EXPECT_EQ(login->txtUtente.text(), "");
    EXPECT_TRUE(finestre.messaggi.empty());
}

TEST_F(LoginTest, DoubleClickOnTheLogoTogglesTranslucency) {
    const auto login = nuovoLogin();
    login->VelloLogoDblClick();
    EXPECT_TRUE(login->translucida());
    EXPECT_EQ(login->opacita(), 200);
    login->VelloLogoDblClick();
    EXPECT_FALSE(login->translucida());
    EXPECT_EQ(login->opacita(), 255);
    EXPECT_THAT(osservatore.opacita_, ElementsAre(200, -255));
}

TEST_F(LoginTest, WrongPasswordLeavesTheWindowOpenThenASecondAttemptStartsClean) {
    const auto login = nuovoLogin();
    login->txtUtente.setText("medico");
    login->txtPw.setText("sbagliata");
    login->cmdOKClick();

    EXPECT_FALSE(login->chiusa());
    EXPECT_TRUE(login->visibile());
    EXPECT_EQ(login->txtUtente.text(), "medico");
    EXPECT_EQ(login->txtPw.text(), "sbagliata");
    ASSERT_EQ(finestre.messaggi.size(), 1u);
    EXPECT_THAT(finestre.messaggi[0], HasSubstr("errore in connessione"));
    EXPECT_EQ(finestre.modali, 0);
    EXPECT_THAT(finestre.clessidra, ElementsAre(true, false));
    // The failed start released the host object all the same.
    EXPECT_EQ(chiamate.back(), "Free");

    chiamate.clear();
    login->txtPw.setText("segreta");
    finestre.mentreModale = [&](TfrmMain& finestra) {
        // The login is hidden, the session open and lent to the window.
        EXPECT_FALSE(login->visibile());
        ASSERT_NE(finestra.host(), nullptr);
        EXPECT_TRUE(finestra.host()->connesso);
        finestra.cmdExitClick();
    };
    login->cmdOKClick();

    EXPECT_EQ(finestre.modali, 1);
    EXPECT_FALSE(finestre.clessidraAlModale);
    EXPECT_TRUE(login->chiusa());
    EXPECT_EQ(osservatore.chiusure, 1);
    // A fresh main window for each attempt, and a fresh session.
    EXPECT_EQ(formCreate(), 2);
    EXPECT_EQ(preparate, 2);
    EXPECT_FALSE(hostAllaPreparazione);
    EXPECT_THAT(chiamate, ::testing::Contains("connetti"));
    EXPECT_EQ(chiamate.front(), "new");
    EXPECT_THAT(std::vector<std::string>(chiamate.end() - 3, chiamate.end()),
                ElementsAre("disconnetti", "Destroy", "Free"));
    // The password goes nowhere: not in the log, not in the registry file.
    EXPECT_THAT(leggi(studio.kvt() / "log.txt"), Not(HasSubstr("segreta")));
    EXPECT_THAT(leggi(studio.kvt() / "log.txt"), HasSubstr("cmdExitClick"));
    EXPECT_THAT(leggi(studio.registro().file()), Not(HasSubstr("medico\"")));
}

TEST_F(LoginTest, DoctorWithoutPatientsIsToldAndTheSessionStopped) {
    vellodoc::addUser(studio.database(), "sostituto", "altra", "MMG999");
    const auto login = nuovoLogin();
    login->txtUtente.setText("sostituto");
    login->txtPw.setText("altra");
    login->cmdOKClick();

    EXPECT_THAT(finestre.messaggi,
                ElementsAre("ERRORE: Nessun paziente associato al medico corrente."));
    EXPECT_EQ(finestre.modali, 0);
    EXPECT_FALSE(login->chiusa());
    EXPECT_TRUE(login->visibile());
    EXPECT_THAT(std::vector<std::string>(chiamate.end() - 3, chiamate.end()),
                ElementsAre("disconnetti", "Destroy", "Free"));

    // Other credentials: a new session that finds the patients.
    chiamate.clear();
    login->txtUtente.setText("medico");
    login->txtPw.setText("segreta");
    login->cmdOKClick();
    EXPECT_EQ(finestre.modali, 1);
    EXPECT_TRUE(login->chiusa());
    EXPECT_EQ(chiamate.front(), "new");
}

TEST_F(LoginTest, AnErrorDuringTheAttemptIsShownAndEverythingReleased) {
    const auto login = nuovoLogin();
    login->txtUtente.setText("medico");
    login->txtPw.setText("segreta");
    finestre.mentreModale = [&](TfrmMain&) {
        chiamate.push_back("<errore>");
        throw std::runtime_error("guasto della finestra");
    };
    login->cmdOKClick();

    EXPECT_THAT(finestre.messaggi, ElementsAre("inizializza - Eccezione:guasto della finestra"));
    EXPECT_FALSE(login->chiusa());
    // Hidden for the main window, the login comes back for another try.
    EXPECT_TRUE(login->visibile());
    EXPECT_THAT(osservatore.visibilita, ElementsAre(false, true));
    EXPECT_THAT(std::vector<std::string>(chiamate.end() - 4, chiamate.end()),
                ElementsAre("<errore>", "disconnetti", "Destroy", "Free"));
    EXPECT_EQ(finestre.clessidra.back(), false);
}

TEST_F(LoginTest, NoSecondAttemptWhileOneRuns) {
    const auto login = nuovoLogin();
    login->txtUtente.setText("medico");
    login->txtPw.setText("segreta");
    finestre.mentreModale = [&](TfrmMain& finestra) {
        EXPECT_TRUE(login->tentativoInCorso());
        login->cmdOKClick();
        login->cmdAnullaClick();
        finestra.cmdExitClick();
    };
    login->cmdOKClick();
    EXPECT_EQ(finestre.modali, 1);
    EXPECT_EQ(formCreate(), 1);
    EXPECT_EQ(osservatore.chiusure, 1);
}

TEST_F(LoginTest, AnnullaClosesTheWindow) {
    const auto login = nuovoLogin();
    login->cmdAnullaClick();
    EXPECT_TRUE(login->chiusa());
    EXPECT_EQ(osservatore.chiusure, 1);
    EXPECT_TRUE(chiamate.empty());
}

}  // namespace
}  // namespace kvt
