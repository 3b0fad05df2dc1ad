#include "ui/qt/vista_login.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/qt/aspetto.h"

namespace kvt::qt {
namespace {

constexpr int kLatoLogo = 96;

}  // namespace

class VistaLogin::Osservatore final : public LoginObserver {
  public:
    explicit Osservatore(VistaLogin& vista) : vista_(vista) {}
    void controlChanged(const Control& controllo) override { vista_.specchio_.aggiorna(controllo); }
    void captionChanged(const std::string& titolo) override {
        vista_.setWindowTitle(QString::fromStdString(titolo));
    }
    void repaint() override { vista_.repaint(); }
    void closeRequested() override { vista_.chiusaDalModello(); }
    void translucencyChanged(bool, int opacita) override {
        vista_.setWindowOpacity(opacita / 255.0);
    }
    void visibilityChanged(bool visibile) override { vista_.setVisible(visibile); }

  private:
    VistaLogin& vista_;
};

VistaLogin::VistaLogin(TfrmLogin& login, std::function<void()> allaChiusura)
    // The program's main window, so a top-level window (on the taskbar) with
    // a dialog's frame: title, system menu and close button only.
    : QDialog(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint),
      login_(login),
      allaChiusura_(std::move(allaChiusura)),
      specchio_(*this),
      osservatore_(std::make_unique<Osservatore>(*this)) {
    setObjectName(QStringLiteral("frmLogin"));
    setWindowTitle(QString::fromStdString(login_.caption()));
    costruisci();
    collega();
    fissaDimensione(*this);
    setWindowOpacity(login_.opacita() / 255.0);
    if (QWidget* primo = specchio_.preparaTastiera()) {
        primo->setFocus();
    }
    login_.setObserver(osservatore_.get());
}

VistaLogin::~VistaLogin() {
    login_.setObserver(nullptr);
}

void VistaLogin::costruisci() {
    TfrmLogin& m = login_;
    for (const Control* controllo :
         {static_cast<const Control*>(&m.VelloLogo), static_cast<const Control*>(&m.lblUtente),
          static_cast<const Control*>(&m.txtUtente), static_cast<const Control*>(&m.lblPw),
          static_cast<const Control*>(&m.txtPw), static_cast<const Control*>(&m.cmdOK),
          static_cast<const Control*>(&m.cmdAnulla)}) {
        specchio_.crea(*controllo);
    }

    auto* velloLogo = specchio_.widget<Immagine>(m.VelloLogo);
    velloLogo->setPixmap(logo("vello", kLatoLogo));
    velloLogo->setFixedSize(kLatoLogo, kLatoLogo);

    auto* campi = new QGridLayout;
    campi->setHorizontalSpacing(unita(*this, 0.6));
    campi->addWidget(specchio_.widget(m.lblUtente), 0, 0);
    campi->addWidget(specchio_.widget(m.txtUtente), 0, 1);
    campi->addWidget(specchio_.widget(m.lblPw), 1, 0);
    campi->addWidget(specchio_.widget(m.txtPw), 1, 1);
    specchio_.widget(m.txtUtente)->setMinimumWidth(unita(*this, 12));

    auto* pulsanti = new QHBoxLayout;
    pulsanti->addStretch(1);
    pulsanti->addWidget(specchio_.widget(m.cmdOK));
    pulsanti->addWidget(specchio_.widget(m.cmdAnulla));

    auto* destra = new QVBoxLayout;
    destra->addStretch(1);
    destra->addLayout(campi);
    destra->addSpacing(unita(*this, 0.5));
    destra->addLayout(pulsanti);
    destra->addStretch(1);

    auto* riga = new QHBoxLayout(this);
    riga->setContentsMargins(unita(*this, 0.9), unita(*this, 0.9), unita(*this, 0.9),
                             unita(*this, 0.9));
    riga->setSpacing(unita(*this, 1));
    riga->addWidget(velloLogo, 0, Qt::AlignVCenter);
    riga->addLayout(destra, 1);
}

void VistaLogin::collega() {
    TfrmLogin& m = login_;
    // What is typed goes into the model at once: the attempt reads the boxes there.
    connect(specchio_.widget<QLineEdit>(m.txtUtente), &QLineEdit::textEdited, this,
            [this](const QString& testo) { login_.txtUtente.setText(testo.toStdString()); });
    connect(specchio_.widget<QLineEdit>(m.txtPw), &QLineEdit::textEdited, this,
            [this](const QString& testo) { login_.txtPw.setText(testo.toStdString()); });
    connect(specchio_.widget<QPushButton>(m.cmdOK), &QPushButton::clicked, this,
            [this] { login_.cmdOKClick(); });
    connect(specchio_.widget<QPushButton>(m.cmdAnulla), &QPushButton::clicked, this,
            [this] { login_.cmdAnullaClick(); });
    specchio_.widget<Immagine>(m.VelloLogo)->alDoppioClic = [this] { login_.VelloLogoDblClick(); };
}

void VistaLogin::showEvent(QShowEvent* evento) {
    if (!centrata_) {
        centra(*this);
        centrata_ = true;
    }
    QDialog::showEvent(evento);
}

void VistaLogin::closeEvent(QCloseEvent* evento) {
    if (!login_.chiusa()) {
        login_.cmdAnullaClick();
    }
    // During an attempt the window stays.
    if (login_.chiusa()) {
        evento->accept();
    } else {
        evento->ignore();
    }
}

void VistaLogin::chiusaDalModello() {
    hide();
    if (allaChiusura_) {
        allaChiusura_();
    }
}

}  // namespace kvt::qt
