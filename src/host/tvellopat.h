#pragma once
// The host adapter: the one way the program talks to the host clinical-record
// application through its automation server "Vellodoc.Server". Every
// operation turns a failed host call into a neutral result (false, 0 or the
// empty text), as a rule after showing it in a modal message box. The one
// failure that leaves the adapter is a lost host (kvt::HostPerso: its process
// gone, or a call unanswered past the limit): the adapter then stays lost,
// every later call raises it again at once and shows nothing, so that no
// record is built from neutral answers of a host that is not there. While a host call runs, the
// host may bring its own windows to the front: the window that was in front before the call is
// brought back after it, whatever the outcome.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "host/automation.h"

namespace kvt {

class Tvellopat {
  public:
    Tvellopat() = default;
    // Closes the session (stop) before the adapter goes.
    ~Tvellopat();
    Tvellopat(const Tvellopat&) = delete;
    Tvellopat& operator=(const Tvellopat&) = delete;

    // The host automation object; null when there is none.
    std::shared_ptr<automation::Object> server;
    // True from a successful "connetti" until stop.
    bool connesso = false;
    // Host user name and password, written by the creator before start.
    std::string utente;
    std::string password;

    // Creates the host object and opens the session with utente and password;
    // true when the session is open.
    bool start();
    // Closes the session and releases the host object; always true, silent.
    bool stop();
    // True when the host object exists and answers; silent. Raises
    // kvt::HostPerso when the host is lost.
    bool is_on();
    // True once a host call found the host gone; until the next start.
    bool perso() const { return perso_; }

    // Makes the patient with this code the current one.
    bool select_single(const std::string& codice);
    // Loads the patient list; the number of patients, 0 on failure.
    std::int32_t carica(const std::string& filtro, const std::string& ordine);
    // Moves the patient cursor to the next patient.
    bool skip();
    // One attribute of the current patient or of the session.
    std::string leggi_attributo(const std::string& attributo);
    // Creates an object on the host; its handle, empty on failure.
    std::string new_object(const std::string& classe, const std::string& nome);
    // Calls a method of a host object; its result as text, empty on failure.
    std::string call_method_pipe(const std::string& handle, const std::string& metodo,
                                 const std::string& lista_parametri);
    // Releases a host object.
    std::string destroy_object(const std::string& handle);
    // Runs an SQL text on the host database; the rows as text.
    std::string sql_dump_string(const std::string& modo, const std::string& sql);

  private:
    bool perso_ = false;

    // One host call on server; raises kvt::Error when there is no server or
    // the call fails, kvt::HostPerso when the host is (or was found) lost.
    automation::Variant callHost(std::string_view method, const automation::Arguments& arguments);
    // A host call whose failure shows `operation` + ": eccezione" and gives
    // the empty text; the result converted to text otherwise.
    std::string textCall(std::string_view operation, std::string_view method,
                         const automation::Arguments& arguments);
    // A host call whose failure shows `operation` + ": eccezione"; true when
    // it returned.
    bool doneCall(std::string_view operation, std::string_view method,
                  const automation::Arguments& arguments);
};

}  // namespace kvt
