#pragma once
// The view of the main window `frmMain`: a fixed-size window (system menu and
// minimise only) centred on the screen, with a widget for every control of
// the model, the project's logo framed beside "Kappa Volta Trasmissioni". It
// mirrors the model as the handlers change it (the run's labels and bar
// patient by patient) and forwards the clicks to the handlers. The login's
// attempt shows it modally (FinestreQt::showModal).
#include <QDialog>
#include <memory>

#include "app/frm_main.h"
#include "ui/qt/specchio_controlli.h"

namespace kvt::qt {

class VistaPrincipale final : public QDialog {
  public:
    explicit VistaPrincipale(TfrmMain& finestra, QWidget* genitore = nullptr);
    ~VistaPrincipale() override;
    VistaPrincipale(const VistaPrincipale&) = delete;
    VistaPrincipale& operator=(const VistaPrincipale&) = delete;

    TfrmMain& modello() const { return finestra_; }

  protected:
    void showEvent(QShowEvent* evento) override;
    // The title-bar button: leaves as "&Uscita" does, without its log line;
    // not while a command runs.
    void closeEvent(QCloseEvent* evento) override;
    // No button answers Escape.
    void reject() override {}

  private:
    class Osservatore;
    void costruisci();
    void collegaComandi();

    TfrmMain& finestra_;
    SpecchioControlli specchio_;
    std::unique_ptr<Osservatore> osservatore_;
    bool centrata_ = false;
};

}  // namespace kvt::qt
