#include "ui/qt/vista_principale.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <exception>

#include "common/windowing.h"
#include "ui/qt/aspetto.h"

namespace kvt::qt {
namespace {

// The buttons and the handlers their clicks call.
struct Comando {
    Button TfrmMain::*pulsante;
    void (TfrmMain::*gestore)();
};
const Comando kComandi[] = {
    {&TfrmMain::cmdNuovoInvio, &TfrmMain::cmdNuovoInvioClick},
    {&TfrmMain::cmdInvio, &TfrmMain::cmdInvioClick},
    {&TfrmMain::cmdExit, &TfrmMain::cmdExitClick},
    {&TfrmMain::cmdLog, &TfrmMain::cmdLogClick},
    {&TfrmMain::cmdConnessione, &TfrmMain::cmdConnessioneClick},
    {&TfrmMain::cmdConfig, &TfrmMain::cmdConfigClick},
    {&TfrmMain::cmdInvioSingolo, &TfrmMain::cmdInvioSingoloClick},
};

constexpr int kLatoLogo = 64;

// A handler's failure reaches the operator as a message; it never leaves
// through the window system's event loop.
template <class Azione>
void esegui(Azione&& azione) {
    try {
        azione();
    } catch (const std::exception& errore) {
        windowing().messageBox(errore.what(), "Vello KVT", MessageIcon::Error);
    } catch (...) {
        windowing().messageBox("Errore sconosciuto", "Vello KVT", MessageIcon::Error);
    }
}

}  // namespace

class VistaPrincipale::Osservatore final : public WindowObserver {
  public:
    explicit Osservatore(VistaPrincipale& vista) : vista_(vista) {}
    void controlChanged(const Control& controllo) override { vista_.specchio_.aggiorna(controllo); }
    void captionChanged(const std::string& titolo) override {
        vista_.setWindowTitle(QString::fromStdString(titolo));
    }
    void repaint() override { vista_.repaint(); }
    void closeRequested() override { vista_.accept(); }

  private:
    VistaPrincipale& vista_;
};

VistaPrincipale::VistaPrincipale(TfrmMain& finestra, QWidget* genitore)
    : QDialog(genitore, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                            Qt::WindowCloseButtonHint),
      finestra_(finestra),
      specchio_(*this),
      osservatore_(std::make_unique<Osservatore>(*this)) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QString::fromStdString(finestra_.caption()));
    costruisci();
    collegaComandi();
    fissaDimensione(*this);
    if (QWidget* primo = specchio_.preparaTastiera()) {
        primo->setFocus();
    }
    finestra_.setObserver(osservatore_.get());
}

VistaPrincipale::~VistaPrincipale() {
    finestra_.setObserver(nullptr);
}

void VistaPrincipale::costruisci() {
    TfrmMain& m = finestra_;
    // Every control of the model gets its widget, in the model's order.
    for (const Control* controllo : m.controlli()) {
        specchio_.crea(*controllo);
    }

    // The logo in its bevel, beside the project's name.
    auto* bvlKvt = new QFrame(this);
    bvlKvt->setObjectName(QStringLiteral("bvlKvt"));
    bvlKvt->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bvlKvt->setLineWidth(1);
    auto* cornice = new QVBoxLayout(bvlKvt);
    cornice->setContentsMargins(unita(*this, 0.3), unita(*this, 0.3), unita(*this, 0.3),
                                unita(*this, 0.3));
    auto* imgKvt = specchio_.widget<QLabel>(m.imgKvt);
    imgKvt->setPixmap(logo("kvt", kLatoLogo));
    imgKvt->setFixedSize(kLatoLogo, kLatoLogo);
    cornice->addWidget(imgKvt);
    bvlKvt->setVisible(m.imgKvt.visible());

    auto* lblDescr = specchio_.widget<QLabel>(m.lblDescr);
    auto* testata = new QHBoxLayout;
    testata->setSpacing(unita(*this, 0.8));
    testata->addWidget(bvlKvt, 0, Qt::AlignTop);
    testata->addWidget(lblDescr, 1);

    auto* comandi = new QHBoxLayout;
    comandi->addWidget(specchio_.widget(m.cmdNuovoInvio));
    comandi->addWidget(specchio_.widget(m.cmdInvio));
    comandi->addWidget(specchio_.widget(m.cmdInvioSingolo));
    comandi->addStretch(1);
    comandi->addWidget(specchio_.widget(m.cmdExit));

    auto* strumenti = new QHBoxLayout;
    strumenti->addWidget(specchio_.widget(m.cmdLog));
    strumenti->addWidget(specchio_.widget(m.cmdConnessione));
    strumenti->addWidget(specchio_.widget(m.cmdConfig));
    strumenti->addStretch(1);
    strumenti->addWidget(specchio_.widget(m.chkDbg));

    // The run's labels: a long patient name is cut at the window's edge, the
    // window keeps its size.
    for (const Label* etichetta : {&m.lblPaz, &m.lblFase, &m.lblConteggio}) {
        specchio_.widget(*etichetta)->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    auto* pBar = specchio_.widget(m.pBar);
    pBar->setMinimumWidth(unita(*this, 22));

    auto* colonna = new QVBoxLayout(this);
    colonna->setContentsMargins(unita(*this, 0.9), unita(*this, 0.9), unita(*this, 0.9),
                                unita(*this, 0.9));
    colonna->addLayout(testata);
    colonna->addSpacing(unita(*this, 0.5));
    colonna->addLayout(comandi);
    colonna->addSpacing(unita(*this, 0.3));
    colonna->addWidget(specchio_.widget(m.lblPaz));
    colonna->addWidget(specchio_.widget(m.lblFase));
    colonna->addWidget(specchio_.widget(m.lblConteggio));
    colonna->addWidget(pBar);
    colonna->addSpacing(unita(*this, 0.2));
    colonna->addLayout(strumenti);
}

void VistaPrincipale::collegaComandi() {
    for (const Comando& comando : kComandi) {
        auto* pulsante = specchio_.widget<QAbstractButton>(finestra_.*comando.pulsante);
        const auto gestore = comando.gestore;
        connect(pulsante, &QAbstractButton::clicked, this,
                [this, gestore] { esegui([&] { (finestra_.*gestore)(); }); });
    }
    // The switch's state is the model's before its handler runs.
    auto* chkDbg = specchio_.widget<QCheckBox>(finestra_.chkDbg);
    connect(chkDbg, &QCheckBox::clicked, this, [this](bool spuntata) {
        esegui([&] {
            finestra_.chkDbg.setChecked(spuntata);
            finestra_.chkDbgClick();
        });
    });
}

void VistaPrincipale::showEvent(QShowEvent* evento) {
    if (!centrata_) {
        centra(*this);
        centrata_ = true;
    }
    QDialog::showEvent(evento);
}

void VistaPrincipale::closeEvent(QCloseEvent* evento) {
    // A command in progress keeps the window: the run would lose it.
    if (finestra_.occupata()) {
        evento->ignore();
        return;
    }
    evento->accept();
}

}  // namespace kvt::qt
