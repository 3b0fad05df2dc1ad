#include "app/frm_login.h"

#include <exception>
#include <memory>
#include <utility>

#include "app/frm_main.h"
#include "common/general_functions.h"
#include "common/windowing.h"

namespace kvt {
namespace {

constexpr const char* kChiaveHost = "\\SOFTWARE\\Quintara-Kelvano";

}  // namespace

EditBox::EditBox(WindowObserver* const& observer, std::string name, int tabOrder, char passwordChar)
    : Control(observer, std::move(name), ControlKind::Edit, "", true, tabOrder),
      passwordChar_(passwordChar) {}

TfrmLogin::TfrmLogin(Impostazioni impostazioni)
    : VelloLogo(observer_, "VelloLogo"),
      lblUtente(observer_, "lblUtente", "Utente", {.bold = true}),
      txtUtente(observer_, "txtUtente", 0),
      lblPw(observer_, "lblPw", "Password", {.bold = true}),
      txtPw(observer_, "txtPw", 1, '*'),
      cmdOK(observer_, "cmdOK", "&OK", true, 2, {.bold = true, .isDefault = true}),
      cmdAnulla(observer_, "cmdAnulla", "&Annulla", true, 3, {.bold = true}),
      impostazioni_(std::move(impostazioni)) {
    FormCreate();
}

void TfrmLogin::setObserver(LoginObserver* observer) {
    observer_ = observer;
    loginObserver_ = observer;
}

void TfrmLogin::FormCreate() {
    // Only read: the program never writes the last user name back.
    txtUtente.setText(
        leggiStringaRegistro(registry::Root::LocalMachine, kChiaveHost, "ultimo_utente"));
}

void TfrmLogin::cmdOKClick() {
    // The window takes no input while an attempt runs.
    if (tentativoInCorso_ || chiusa_) {
        return;
    }
    tentativoInCorso_ = true;
    bool riuscito = false;
    {
        Clessidra clessidra;
        try {
            // A fresh main window for every attempt, gone when it ends, so that
            // nothing of a failed attempt survives into the next one.
            auto finestra = std::make_unique<TfrmMain>(impostazioni_.cartellaProgramma, nullptr,
                                                       impostazioni_.connettore);
            if (impostazioni_.preparaFinestra) {
                impostazioni_.preparaFinestra(*finestra);
            }
            riuscito = finestra->inizializza(txtUtente.text(), txtPw.text(), this);
        } catch (const std::exception& errore) {
            windowing().messageBox(errore.what(), kTitolo, MessageIcon::Error);
        } catch (...) {
            windowing().messageBox("Errore sconosciuto", kTitolo, MessageIcon::Error);
        }
    }
    tentativoInCorso_ = false;
    if (riuscito) {
        // Logged in: the password is of no more use and is not kept.
        txtPw.setText({});
        chiudi();
        return;
    }
    // A failed attempt leaves the window as it was, texts included; if the
    // attempt failed after hiding it, it comes back so the operator can retry.
    impostaVisibile(true);
}

void TfrmLogin::cmdAnullaClick() {
    if (tentativoInCorso_) {
        return;
    }
    chiudi();
}

void TfrmLogin::VelloLogoDblClick() {
    translucida_ = !translucida_;
    if (loginObserver_) {
        loginObserver_->translucencyChanged(translucida_, opacita());
    }
}

void TfrmLogin::nascondi() {
    impostaVisibile(false);
}

void TfrmLogin::impostaVisibile(bool visibile) {
    if (visibile == visibile_) {
        return;
    }
    visibile_ = visibile;
    if (loginObserver_) {
        loginObserver_->visibilityChanged(visibile_);
    }
}

void TfrmLogin::chiudi() {
    if (chiusa_) {
        return;
    }
    chiusa_ = true;
    if (observer_) {
        observer_->closeRequested();
    }
}

}  // namespace kvt
