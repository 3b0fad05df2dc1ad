#pragma once
// The frame of the window tests: one offscreen QApplication for the process,
// the Qt windowing installed, the host stand-in registered, and helpers that
// act inside the modal loops the way an operator would: answer message
// boxes, act once the main window shows, sample the window during a run, and
// end a test that hangs.
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/frm_login.h"
#include "e2e/e2e_support.h"
#include "ui/qt/finestre_qt.h"
#include "ui/qt/vista_login.h"
#include "ui/qt/vista_principale.h"

class QWidget;

namespace kvt::qt::test {

// The process's application (platform "offscreen"), made at first use.
void preparaApplicazione();

std::string testo(const QString& testo);

// The widget of a window by its control's name.
template <class W>
W* controllo(QWidget& finestra, const char* nome) {
    return finestra.findChild<W*>(QString::fromLatin1(nome));
}

// Answers the message boxes as they appear, keeping their texts. `trattieni`
// may keep one open (returns true): the test answers it with rispondi().
class Risponditore {
  public:
    Risponditore();
    std::function<bool(QMessageBox&)> trattieni;
    const std::vector<std::string>& testi() const { return testi_; }
    static void rispondi(QMessageBox& scatola);

  private:
    void guarda();
    QTimer timer_;
    // The box held open; null again once it is gone.
    QPointer<QMessageBox> trattenuta_;
    std::vector<std::string> testi_;
};

// Runs the action once, inside the main window's modal loop, as soon as the
// main window is shown.
class QuandoAppare {
  public:
    explicit QuandoAppare(std::function<void(VistaPrincipale&)> azione);
    bool eseguita() const { return eseguita_; }

  private:
    QTimer timer_;
    std::function<void(VistaPrincipale&)> azione_;
    bool eseguita_ = false;
};

// What the main window's widgets showed at one moment of a run.
struct Campione {
    std::string paz, fase, conteggio;
    int minimo = 0, massimo = 0, posizione = 0;
    bool occupata = false;
    bool clessidra = false;
    bool operator==(const Campione&) const = default;
};

// Samples the view whenever the window system gets to process its messages
// (between patients), keeping each different picture once.
class Campionatore {
  public:
    explicit Campionatore(VistaPrincipale& vista);
    Campione adesso() const;
    const std::vector<Campione>& campioni() const { return campioni_; }
    // Runs once at the next sample taken while a command runs.
    std::function<void()> durante;

  private:
    VistaPrincipale& vista_;
    QTimer timer_;
    std::vector<Campione> campioni_;
};

// Stands for the desktop's viewer: receives the files the program opens.
class Visualizzatore : public QObject {
    Q_OBJECT
  public:
    Visualizzatore();
    ~Visualizzatore() override;
    std::vector<QUrl> aperti;

  public slots:
    void apri(const QUrl& url) { aperti.push_back(url); }
};

// Ends the process with a failure when a test outlasts its limit: a modal
// window nobody closes would otherwise hold it.
class Guardiano {
  public:
    explicit Guardiano(std::chrono::seconds limite);

  private:
    QTimer timer_;
};

// Every test has its practice, program folder, registry and collector (see
// E2e); the login window is made on the program folder with the Qt windowing.
class Finestre : public e2e::E2e {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Makes the login model and its view and shows it.
    void apriLogin();
    // Types the user name and the password into the boxes.
    void scrivi(const std::string& utente, const std::string& password);

    QWidget& finestraLogin() { return *vista_; }
    std::string leggiLog() const { return e2e::leggi(log()); }

    FinestreQt finestre_;
    std::unique_ptr<WindowingInstallato> installato_;
    std::unique_ptr<TfrmLogin> login_;
    std::unique_ptr<VistaLogin> vista_;
    std::unique_ptr<Guardiano> guardiano_;
};

}  // namespace kvt::qt::test
