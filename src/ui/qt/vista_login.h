#pragma once
// The view of the login window `frmLogin`: a fixed-size dialog centred on the
// screen, the logo `VelloLogo` (a double click switches the translucency),
// the user and password boxes (the password shown as "*"), "&OK" pressed by
// Enter in either box and "&Annulla"; Escape does nothing. It hides while the
// main window is shown and closes when the model closes, which ends the
// program.
#include <QDialog>
#include <functional>
#include <memory>

#include "app/frm_login.h"
#include "ui/qt/specchio_controlli.h"

namespace kvt::qt {

class VistaLogin final : public QDialog {
  public:
    // `allaChiusura`: what ends the program once the window has closed.
    explicit VistaLogin(TfrmLogin& login, std::function<void()> allaChiusura = {});
    ~VistaLogin() override;
    VistaLogin(const VistaLogin&) = delete;
    VistaLogin& operator=(const VistaLogin&) = delete;

    TfrmLogin& modello() const { return login_; }

  protected:
    void showEvent(QShowEvent* evento) override;
    // The title-bar button closes the window as "&Annulla" does.
    void closeEvent(QCloseEvent* evento) override;
    // No button answers Escape.
    void reject() override {}

  private:
    class Osservatore;
    void costruisci();
    void collega();
    void chiusaDalModello();

    TfrmLogin& login_;
    std::function<void()> allaChiusura_;
    SpecchioControlli specchio_;
    std::unique_ptr<Osservatore> osservatore_;
    bool centrata_ = false;
};

}  // namespace kvt::qt
