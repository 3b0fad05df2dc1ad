#include "qt/finestre_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "ui/headless/headless.h"
#include "ui/qt/aspetto.h"
#include "ui/qt/programma_qt.h"

namespace kvt::qt::test {

using namespace std::chrono_literals;

namespace {

// The offscreen platform cannot raise windows or make them translucent, and
// says so every time; the tests read the widgets' own state instead.
QtMessageHandler predefinito = nullptr;

void filtraAvvisi(QtMsgType tipo, const QMessageLogContext& contesto, const QString& testo) {
    if (testo.startsWith(QStringLiteral("This plugin does not support"))) {
        return;
    }
    if (predefinito) {
        predefinito(tipo, contesto, testo);
    }
}

}  // namespace

void preparaApplicazione() {
    if (QApplication::instance()) {
        return;
    }
    predefinito = qInstallMessageHandler(filtraAvvisi);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char nome[] = "qt_test";
    static char* argv[] = {nome, nullptr};
    static QApplication* applicazione = new QApplication(argc, argv);
    ripristinaLocale();
    QApplication::setQuitOnLastWindowClosed(false);
    applicaAspetto(*applicazione);
    headless::preparaProcesso();
}

std::string testo(const QString& testo) {
    return testo.toStdString();
}

Risponditore::Risponditore() {
    timer_.setInterval(10);
    timer_.callOnTimeout([this] { guarda(); });
    timer_.start();
}

void Risponditore::rispondi(QMessageBox& scatola) {
    QTest::mouseClick(scatola.button(QMessageBox::Ok), Qt::LeftButton);
}

void Risponditore::guarda() {
    auto* scatola = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!scatola || scatola == trattenuta_.data() || !scatola->isVisible()) {
        return;
    }
    testi_.push_back(testo(scatola->text()));
    if (trattieni && trattieni(*scatola)) {
        trattenuta_ = scatola;
        return;
    }
    trattenuta_ = nullptr;
    rispondi(*scatola);
}

QuandoAppare::QuandoAppare(std::function<void(VistaPrincipale&)> azione)
    : azione_(std::move(azione)) {
    timer_.setInterval(10);
    timer_.callOnTimeout([this] {
        for (QWidget* finestra : QApplication::topLevelWidgets()) {
            auto* vista = dynamic_cast<VistaPrincipale*>(finestra);
            if (vista && vista->isVisible() && !eseguita_) {
                timer_.stop();
                eseguita_ = true;
                azione_(*vista);
                return;
            }
        }
    });
    timer_.start();
}

Campionatore::Campionatore(VistaPrincipale& vista) : vista_(vista) {
    timer_.setInterval(0);
    timer_.callOnTimeout([this] {
        const Campione campione = adesso();
        if (campioni_.empty() || !(campioni_.back() == campione)) {
            campioni_.push_back(campione);
        }
        if (campione.occupata && durante) {
            const auto azione = std::move(durante);
            durante = nullptr;
            azione();
        }
    });
    timer_.start();
}

Campione Campionatore::adesso() const {
    Campione c;
    c.paz = testo(controllo<QLabel>(vista_, "lblPaz")->text());
    c.fase = testo(controllo<QLabel>(vista_, "lblFase")->text());
    c.conteggio = testo(controllo<QLabel>(vista_, "lblConteggio")->text());
    const auto* barra = controllo<QProgressBar>(vista_, "pBar");
    c.minimo = barra->minimum();
    c.massimo = barra->maximum();
    c.posizione = barra->value();
    c.occupata = vista_.modello().occupata();
    const QCursor* cursore = QGuiApplication::overrideCursor();
    c.clessidra = cursore && cursore->shape() == Qt::WaitCursor;
    return c;
}

Visualizzatore::Visualizzatore() {
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "apri");
}

Visualizzatore::~Visualizzatore() {
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

Guardiano::Guardiano(std::chrono::seconds limite) {
    timer_.setSingleShot(true);
    timer_.callOnTimeout([limite] {
        std::fprintf(stderr, "Test fermato dopo %lld s: una finestra è rimasta aperta.\n",
                     static_cast<long long>(limite.count()));
        std::fflush(stderr);
        std::_Exit(1);
    });
    timer_.start(std::chrono::duration_cast<std::chrono::milliseconds>(limite));
}

void Finestre::SetUp() {
    E2e::SetUp();
    preparaApplicazione();
    ::setenv("KVT_REGISTRY", registro().c_str(), 1);
    installato_ = std::make_unique<WindowingInstallato>(finestre_);
    guardiano_ = std::make_unique<Guardiano>(120s);
}

void Finestre::TearDown() {
    vista_.reset();
    login_.reset();
    installato_.reset();
    guardiano_.reset();
}

void Finestre::apriLogin() {
    TfrmLogin::Impostazioni impostazioni;
    impostazioni.cartellaProgramma = programma().string();
    login_ = std::make_unique<TfrmLogin>(std::move(impostazioni));
    vista_ = std::make_unique<VistaLogin>(*login_);
    vista_->show();
    QApplication::processEvents();
}

void Finestre::scrivi(const std::string& utente, const std::string& password) {
    // As an operator does: select what the box holds and type over it.
    for (const auto& [nome, testo] :
         {std::pair{"txtUtente", utente}, std::pair{"txtPw", password}}) {
        auto* casella = controllo<QLineEdit>(*vista_, nome);
        casella->setFocus();
        QTest::keyClick(casella, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(casella, Qt::Key_Backspace);
        QTest::keyClicks(casella, QString::fromStdString(testo));
    }
}

}  // namespace kvt::qt::test
