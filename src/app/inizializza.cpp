// The login's work on a new main window: the host session, the doctor's
// patients, and the modal display of the window while the operator works.
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "app/frm_login.h"
#include "app/frm_main.h"
#include "common/windowing.h"
#include "host/tvellopat.h"

namespace kvt {
namespace {

constexpr const char* kNessunPaziente = "ERRORE: Nessun paziente associato al medico corrente.";

// The program's current host adapter for as long as one attempt lasts: made
// with the typed credentials, lent to the window, and on every way out the
// session stopped, the loan ended and the adapter released.
class HostDelTentativo {
  public:
    HostDelTentativo(TfrmMain& finestra, const std::string& utente, const std::string& password)
        : finestra_(finestra), host_(std::make_unique<Tvellopat>()) {
        host_->utente = utente;
        host_->password = password;
        finestra_.setHost(host_.get());
    }
    ~HostDelTentativo() {
        finestra_.setHost(nullptr);
        try {
            host_->stop();
        } catch (...) {
            // stop never fails towards its caller; a window system that does
            // must not keep the adapter alive.
        }
        // The password goes with the adapter; its bytes do not stay behind.
        host_->password.assign(host_->password.size(), '\0');
        host_.reset();
    }
    HostDelTentativo(const HostDelTentativo&) = delete;
    HostDelTentativo& operator=(const HostDelTentativo&) = delete;

    Tvellopat& adapter() const { return *host_; }

  private:
    TfrmMain& finestra_;
    std::unique_ptr<Tvellopat> host_;
};

}  // namespace

bool TfrmMain::inizializza(const std::string& utente, const std::string& password,
                           TfrmLogin* login) {
    bool risultato = false;
    std::optional<HostDelTentativo> host;
    try {
        host.emplace(*this, utente, password);
        // A failed start has shown the adapter's own message.
        if (host->adapter().start()) {
            const std::string medico = host->adapter().leggi_attributo("userid_utente");
            const int pazienti = host->adapter().carica(
                "codice_medico =" + medico + "|" + "tipo_di_convenzione=S", "alfabetico");
            // A negative count is no list either.
            if (pazienti <= 0) {
                windowing().messageBox(kNessunPaziente, "Vello KVT", MessageIcon::Error);
            } else {
                windowing().setHourglass(false);
                if (login) {
                    login->nascondi();
                }
                FinestraPrincipaleModale modale(*this);
                windowing().showModal(modale);
                risultato = true;
            }
        }
    } catch (const std::exception& errore) {
        risultato = false;
        windowing().messageBox(std::string("inizializza - Eccezione:") + errore.what(), "Vello KVT",
                               MessageIcon::Error);
    } catch (...) {
        risultato = false;
        windowing().messageBox("inizializza - Eccezione:", "Vello KVT", MessageIcon::Error);
    }
    // The session is stopped and the adapter released on every way out,
    // after the message of an error.
    host.reset();
    return risultato;
}

}  // namespace kvt
