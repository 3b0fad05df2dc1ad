// The two windows through their Qt views, with the host stand-in in the
// process and kvt-collector on 127.0.0.1: logging in, a run watched on the
// main window, message boxes that hold the run, leaving.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <regex>

#include "qt/finestre_support.h"

namespace kvt::qt::test {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::StartsWith;

using namespace std::chrono_literals;

void clicca(QWidget& finestra, const char* nome) {
    auto* pulsante = controllo<QAbstractButton>(finestra, nome);
    ASSERT_NE(pulsante, nullptr) << nome;
    QTest::mouseClick(pulsante, Qt::LeftButton);
}

// "OK:a, KO:b" from the summary's counters.
std::string conteggioDelRiepilogo(const std::string& riepilogo) {
    const auto numero = [&](const std::string& etichetta) {
        std::smatch trovato;
        const std::regex modello(etichetta + "(-?[0-9]+)");
        return std::regex_search(riepilogo, trovato, modello) ? std::stoi(trovato[1].str()) : -1;
    };
    const int ok = numero("Inviati: ") + numero("Già inviati: ");
    const int ko = numero("Scartati dal server:") + numero("Errore creazione:") +
                   numero("Errore connessione invio:");
    return "OK:" + std::to_string(ok) + ", KO:" + std::to_string(ko);
}

// The controls Tab goes through, from the first in the window's focus chain.
std::vector<std::string> ordineTab(QWidget& finestra) {
    std::vector<std::string> nomi;
    QWidget* widget = &finestra;
    do {
        widget = widget->nextInFocusChain();
        if (widget->isVisibleTo(&finestra) && (widget->focusPolicy() & Qt::TabFocus)) {
            nomi.push_back(testo(widget->objectName()));
        }
    } while (widget != &finestra);
    return nomi;
}

using FinestreTest = Finestre;

TEST_F(FinestreTest, EnterNellaPasswordAccedeEIlRunSiVedePazientePerPaziente) {
    generaPratica(6);
    avviaCollettore();
    apriLogin();
    scrivi(kUtente, kPassword);
    EXPECT_EQ(testo(controllo<QLineEdit>(finestraLogin(), "txtPw")->displayText()),
              std::string(std::string(kPassword).size(), '*'));

    Risponditore risponditore;
    std::vector<Campione> campioni;
    Campione dopo;
    bool loginNascosto = false;
    std::string titolo;
    std::vector<QUrl> aperti;
    QuandoAppare scena([&](VistaPrincipale& vista) {
        loginNascosto = !finestraLogin().isVisible();
        titolo = testo(vista.windowTitle());
        Campionatore campionatore(vista);
        // "Nuovo Invio" clicked while the run goes is ignored.
        campionatore.durante = [&] { clicca(vista, "cmdNuovoInvio"); };
        clicca(vista, "cmdInvio");
        campioni = campionatore.campioni();
        dopo = campionatore.adesso();
        Visualizzatore visualizzatore;
        clicca(vista, "cmdLog");
        aperti = visualizzatore.aperti;
        clicca(vista, "cmdExit");
    });
    QTest::keyClick(controllo<QLineEdit>(finestraLogin(), "txtPw"), Qt::Key_Return);

    ASSERT_TRUE(scena.eseguita());
    EXPECT_TRUE(loginNascosto);
    EXPECT_EQ(titolo, "Vello KVT v1.46");
    EXPECT_TRUE(login_->chiusa());
    EXPECT_FALSE(vista_->isVisible());

    // Every patient of the doctor was shown in turn while the run went on,
    // the bar at its number out of the doctor's patients, the hourglass up.
    ASSERT_FALSE(campioni.empty());
    const int pazienti = campioni.back().massimo;
    EXPECT_GT(pazienti, 1);
    int ultimo = 0;
    for (const Campione& c : campioni) {
        if (!c.occupata || c.paz == "---") {
            continue;
        }
        const std::string inizio =
            std::to_string(c.posizione) + " di " + std::to_string(pazienti) + ": ";
        EXPECT_THAT(c.paz, StartsWith(inizio));
        EXPECT_EQ(c.minimo, 0);
        EXPECT_EQ(c.massimo, pazienti);
        EXPECT_THAT(c.fase, StartsWith("Fase "));
        // The window answers during a sending too: the first patient's comes
        // before any count.
        if (c.posizione > 1 || c.conteggio != "---") {
            EXPECT_THAT(c.conteggio, ::testing::MatchesRegex("OK:[0-9]+, KO:[0-9]+"));
        }
        EXPECT_TRUE(c.clessidra);
        EXPECT_GE(c.posizione, ultimo);
        ultimo = c.posizione;
    }
    EXPECT_EQ(ultimo, pazienti);

    // After the run: the summary was shown, the labels back to "---", the
    // counts and the bar where the run left them, the normal cursor.
    ASSERT_FALSE(risponditore.testi().empty());
    const std::string riepilogo = risponditore.testi().back();
    EXPECT_THAT(riepilogo, StartsWith("Procedura terminata.\nInviati: "));
    EXPECT_EQ(dopo.paz, "---");
    EXPECT_EQ(dopo.fase, "---");
    EXPECT_EQ(dopo.conteggio, conteggioDelRiepilogo(riepilogo));
    EXPECT_EQ(dopo.posizione, pazienti);
    EXPECT_FALSE(dopo.occupata);
    EXPECT_FALSE(dopo.clessidra);

    // "Log" opened the log with the desktop's viewer.
    EXPECT_THAT(aperti, ::testing::ElementsAre(
                            QUrl::fromLocalFile(QString::fromStdString(log().string()))));

    const std::string registro = leggiLog();
    EXPECT_EQ(e2e::conta(registro, "START - Pazienti totali: "), 1);
    EXPECT_EQ(e2e::conta(registro, "---Reset"), 0);
    EXPECT_THAT(registro, HasSubstr("cmdExitClick"));
    EXPECT_THAT(registro, ::testing::Not(HasSubstr(kPassword)));
}

TEST_F(FinestreTest, UnAccessoFallitoLasciaLaFinestraConIDueTesti) {
    generaPratica(3);
    avviaCollettore();
    apriLogin();
    scrivi(kUtente, "sbagliata");

    Risponditore risponditore;
    bool principaleApparsa = false;
    {
        QuandoAppare scena([&](VistaPrincipale&) { principaleApparsa = true; });
        // Enter in the user box logs in too.
        QTest::keyClick(controllo<QLineEdit>(finestraLogin(), "txtUtente"), Qt::Key_Enter);
        QApplication::processEvents();
    }
    EXPECT_FALSE(principaleApparsa);
    EXPECT_FALSE(risponditore.testi().empty());
    EXPECT_TRUE(vista_->isVisible());
    EXPECT_FALSE(login_->chiusa());
    EXPECT_EQ(testo(controllo<QLineEdit>(finestraLogin(), "txtUtente")->text()), kUtente);
    EXPECT_EQ(testo(controllo<QLineEdit>(finestraLogin(), "txtPw")->text()), "sbagliata");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // Another attempt with the right password starts a clean session.
    scrivi(kUtente, kPassword);
    QuandoAppare scena([&](VistaPrincipale& vista) { clicca(vista, "cmdExit"); });
    clicca(finestraLogin(), "cmdOK");
    EXPECT_TRUE(scena.eseguita());
    EXPECT_TRUE(login_->chiusa());
}

TEST_F(FinestreTest, UnMessaggioDuranteLInvioLoTrattieneFinoAllaRisposta) {
    generaPratica(6);
    // No collection service: every sending fails, and with the debug switch
    // each failure (and each record lacking mandatory data) is shown while
    // the run waits.
    apriLogin();
    scrivi(kUtente, kPassword);

    Risponditore risponditore;
    Campione alMessaggio, trattenuto;
    std::size_t logAlMessaggio = 0, logTrattenuto = 0;
    bool cursoreNormale = false, trattenutoVisibile = false;
    std::string testoTrattenuto;
    QuandoAppare scena([&](VistaPrincipale& vista) {
        // The hidden switch, as --debug sets it.
        vista.modello().chkDbg.setChecked(true);
        Campionatore campionatore(vista);
        risponditore.trattieni = [&](QMessageBox& scatola) {
            if (!testoTrattenuto.empty()) {
                return false;
            }
            testoTrattenuto = testo(scatola.text());
            alMessaggio = campionatore.adesso();
            logAlMessaggio = leggiLog().size();
            cursoreNormale = QGuiApplication::overrideCursor() == nullptr;
            QTimer::singleShot(500ms, &scatola, [&, s = &scatola] {
                trattenuto = campionatore.adesso();
                logTrattenuto = leggiLog().size();
                trattenutoVisibile = s->isVisible();
                vista.modello().chkDbg.setChecked(false);
                Risponditore::rispondi(*s);
            });
            return true;
        };
        clicca(vista, "cmdInvio");
        clicca(vista, "cmdExit");
    });
    clicca(finestraLogin(), "cmdOK");
    ASSERT_TRUE(scena.eseguita());

    ASSERT_THAT(testoTrattenuto, ::testing::AnyOf(StartsWith("Errore invio/risposta del tracciato"),
                                                  StartsWith("Errore creazione tracciato: ")));
    // The run stood still while the message waited: same patient, same bar,
    // no log line; the operator had the normal cursor to answer with.
    EXPECT_TRUE(trattenutoVisibile);
    EXPECT_TRUE(alMessaggio.occupata);
    EXPECT_EQ(trattenuto, alMessaggio);
    EXPECT_EQ(logTrattenuto, logAlMessaggio);
    EXPECT_TRUE(cursoreNormale);
    EXPECT_THAT(alMessaggio.paz, StartsWith(std::to_string(alMessaggio.posizione) + " di " +
                                            std::to_string(alMessaggio.massimo) + ": "));

    // Answered, the run went on to its end.
    EXPECT_GT(leggiLog().size(), logTrattenuto);
    EXPECT_THAT(risponditore.testi(), Contains(StartsWith("Procedura terminata.")));
    EXPECT_THAT(risponditore.testi().back(), HasSubstr("Errore connessione invio:"));
}

TEST_F(FinestreTest, LaBarraDelTitoloChiudeComeUscitaSenzaLaSuaRiga) {
    generaPratica(3);
    avviaCollettore();
    apriLogin();
    scrivi(kUtente, kPassword);

    Risponditore risponditore;
    bool restaDuranteIlRun = false;
    std::string nascostiDopo;
    QuandoAppare scena([&](VistaPrincipale& vista) {
        Campionatore campionatore(vista);
        campionatore.durante = [&] {
            vista.close();
            restaDuranteIlRun = vista.isVisible();
        };
        clicca(vista, "cmdInvio");
        // The hidden controls stayed hidden through the run.
        for (const char* nome : {"chkDbg", "cmdInvioSingolo"}) {
            auto* widget = vista.findChild<QWidget*>(QString::fromLatin1(nome));
            if (!widget || !widget->isHidden()) {
                nascostiDopo += nome;
            }
        }
        vista.close();
    });
    clicca(finestraLogin(), "cmdOK");

    ASSERT_TRUE(scena.eseguita());
    EXPECT_TRUE(restaDuranteIlRun);
    EXPECT_EQ(nascostiDopo, "");
    EXPECT_TRUE(login_->chiusa());
    const std::string registro = leggiLog();
    EXPECT_THAT(registro, HasSubstr("Procedura terminata."));
    EXPECT_THAT(registro, ::testing::Not(HasSubstr("cmdExitClick")));
}

TEST_F(FinestreTest, IlLogoConDoppioClicRendeTraslucidaLaFinestra) {
    apriLogin();
    auto* logo = controllo<QWidget>(finestraLogin(), "VelloLogo");
    ASSERT_NE(logo, nullptr);
    EXPECT_DOUBLE_EQ(vista_->windowOpacity(), 1.0);
    QTest::mouseDClick(logo, Qt::LeftButton);
    EXPECT_NEAR(vista_->windowOpacity(), 200.0 / 255.0, 0.01);
    EXPECT_TRUE(login_->translucida());
    QTest::mouseDClick(logo, Qt::LeftButton);
    EXPECT_DOUBLE_EQ(vista_->windowOpacity(), 1.0);

    // Escape answers no button: the window stays.
    QTest::keyClick(controllo<QLineEdit>(finestraLogin(), "txtPw"), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_TRUE(vista_->isVisible());
    EXPECT_FALSE(login_->chiusa());
}

TEST_F(FinestreTest, LeFinestreHannoITitoliLOrdineDiTabulazioneEIPulsantiDelModello) {
    generaPratica(2);
    avviaCollettore();
    apriLogin();
    QWidget& login = finestraLogin();
    EXPECT_EQ(testo(login.windowTitle()), "Vello KVT");
    EXPECT_EQ(login.minimumSize(), login.maximumSize());
    // Tab order 0 to 3, the first one with the focus.
    EXPECT_EQ(login.focusWidget(), controllo<QWidget>(login, "txtUtente"));
    EXPECT_THAT(ordineTab(login),
                ::testing::ElementsAre("txtUtente", "txtPw", "cmdOK", "cmdAnulla"));
    auto* cmdOK = controllo<QPushButton>(login, "cmdOK");
    EXPECT_TRUE(cmdOK->isDefault());
    EXPECT_TRUE(cmdOK->font().bold());
    EXPECT_EQ(testo(cmdOK->text()), "&OK");
    // The labels show their whole captions, in bold.
    for (const char* nome : {"lblUtente", "lblPw"}) {
        auto* etichetta = controllo<QLabel>(login, nome);
        EXPECT_TRUE(etichetta->font().bold()) << nome;
        EXPECT_TRUE(etichetta->isVisible()) << nome;
        EXPECT_GE(etichetta->width(), etichetta->fontMetrics().horizontalAdvance(etichetta->text()))
            << nome;
    }

    scrivi(kUtente, kPassword);
    Risponditore risponditore;
    std::vector<std::string> visibili;
    bool fissa = false, nuovoInvioDefault = false, descrizioneGrande = false;
    std::vector<std::string> tabPrincipale;
    QuandoAppare scena([&](VistaPrincipale& vista) {
        fissa = vista.minimumSize() == vista.maximumSize() &&
                !(vista.windowFlags() & Qt::WindowMaximizeButtonHint) &&
                (vista.windowFlags() & Qt::WindowMinimizeButtonHint);
        for (QWidget* w : vista.findChildren<QWidget*>()) {
            if (w->isVisible() && w->objectName().size() > 3 &&
                w->objectName().startsWith(QStringLiteral("cmd"))) {
                visibili.push_back(testo(w->objectName()) + "=" +
                                   testo(static_cast<QAbstractButton*>(w)->text()));
            }
        }
        nuovoInvioDefault = controllo<QPushButton>(vista, "cmdNuovoInvio")->isDefault() &&
                            vista.focusWidget() == controllo<QWidget>(vista, "cmdNuovoInvio");
        tabPrincipale = ordineTab(vista);
        auto* lblDescr = controllo<QLabel>(vista, "lblDescr");
        descrizioneGrande = lblDescr->font().bold() && lblDescr->wordWrap() &&
                            lblDescr->font().pointSizeF() > vista.font().pointSizeF() &&
                            testo(lblDescr->text()) == "Kappa Volta Trasmissioni";
        clicca(vista, "cmdExit");
    });
    clicca(login, "cmdOK");
    ASSERT_TRUE(scena.eseguita());
    EXPECT_TRUE(fissa);
    EXPECT_TRUE(nuovoInvioDefault);
    EXPECT_THAT(tabPrincipale, ::testing::ElementsAre("cmdNuovoInvio", "cmdInvio", "cmdExit",
                                                      "cmdLog", "cmdConnessione", "cmdConfig"));
    EXPECT_TRUE(descrizioneGrande);
    EXPECT_THAT(visibili, ::testing::UnorderedElementsAre(
                              "cmdNuovoInvio=Nuovo Invio", "cmdInvio=Riprendi", "cmdExit=&Uscita",
                              "cmdLog=Log", "cmdConnessione=Test Linea", "cmdConfig=Opzioni"));
}

}  // namespace
}  // namespace kvt::qt::test
