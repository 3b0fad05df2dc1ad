#include "host/tvellopat.h"

#include <optional>

#include "common/errors.h"
#include "common/radix.h"
#include "common/windowing.h"

namespace kvt {
namespace {

using automation::Arguments;
using automation::Variant;

constexpr std::string_view kHostClass = "Vellodoc.Server";
constexpr std::string_view kEccezione = ": eccezione";
constexpr std::string_view kCrLf = "\r\n";
const std::string kHostPerso =
    "Il programma di cartella clinica non risponde più o è stato chiuso.";

// Remembers the window in front when made and brings it back when it goes,
// so that a host call that raises the host's own windows cannot leave them
// in front of the program's window.
class ForegroundFrame {
  public:
    ForegroundFrame() : window_(windowing().foregroundWindow()) {}
    ~ForegroundFrame() {
        if (window_ == 0) {
            return;
        }
        try {
            windowing().setForegroundWindow(window_);
        } catch (...) {
            // Losing the foreground is no reason to lose the call's outcome.
        }
    }
    ForegroundFrame(const ForegroundFrame&) = delete;
    ForegroundFrame& operator=(const ForegroundFrame&) = delete;

  private:
    WindowHandle window_;
};

// Runs the host calls of `body` inside one foreground frame; false when any
// of them failed, whatever the failure, except a lost host, which goes on to
// the caller: a neutral answer would pass for the host's own.
template <class Body>
bool framed(Body&& body) {
    ForegroundFrame frame;
    try {
        body();
        return true;
    } catch (const HostPerso&) {
        throw;
    } catch (...) {
        return false;
    }
}

// Messages come once the frame has put the program's window back in front.
void show(const std::string& text) {
    windowing().messageBox(text);
}

std::string failureText(std::string_view operation) {
    return std::string(operation) + std::string(kEccezione);
}

Variant text(const std::string& value) {
    return Variant::text(value);
}

// The argument list of the host methods that take one omitted argument.
const Arguments& omitted() {
    static const Arguments arguments{Variant::missing()};
    return arguments;
}

}  // namespace

Tvellopat::~Tvellopat() {
    try {
        stop();
    } catch (...) {
        // A window system that fails while the adapter goes must not end the program.
    }
}

Variant Tvellopat::callHost(std::string_view method, const Arguments& arguments) {
    if (perso_) {
        throw HostPerso(kHostPerso);
    }
    if (!server) {
        throw Error("Nessun oggetto " + std::string(kHostClass));
    }
    try {
        return server->call(method, arguments);
    } catch (const HostPerso&) {
        perso_ = true;
        throw;
    }
}

std::string Tvellopat::textCall(std::string_view operation, std::string_view method,
                                const Arguments& arguments) {
    std::string result;
    if (!framed([&] { result = callHost(method, arguments).toText(); })) {
        show(failureText(operation));
        return {};
    }
    return result;
}

bool Tvellopat::doneCall(std::string_view operation, std::string_view method,
                         const Arguments& arguments) {
    if (!framed([&] { callHost(method, arguments); })) {
        show(failureText(operation));
        return false;
    }
    return true;
}

bool Tvellopat::start() {
    constexpr std::string_view operation = "ole_vellopat.start()";
    // A session still open is closed first, so that no host object is dropped
    // without being released.
    if (server || connesso) {
        stop();
    }
    // A new session starts with a host that may be back.
    perso_ = false;
    std::string answer;
    bool answered = false;
    try {
        answered = framed([&] {
            server = automation::createObject(kHostClass);
            callHost("new", {});
            answer = callHost("connetti", {text(utente), text(password)}).toText();
        });
    } catch (const HostPerso&) {
        // At login a lost host is one more reason the session did not open.
    }
    if (!answered) {
        show(failureText(operation));
        return false;
    }
    if (!answer.empty()) {
        // The server stays, so that stop still releases it.
        connesso = false;
        show(std::string(operation) + ": errore in connessione" + std::string(kCrLf) +
             std::string(kCrLf) + "  " + answer);
        return false;
    }
    connesso = true;
    return true;
}

bool Tvellopat::stop() {
    if (!connesso && !server) {
        return true;
    }
    if (perso_) {
        // Nothing to tell a host that is gone: the reference is dropped.
        connesso = false;
        server.reset();
        return true;
    }
    // A failure leaves the rest for the next stop; nothing is shown.
    try {
        framed([&] {
            if (connesso) {
                callHost("disconnetti", omitted());
                connesso = false;
            }
            if (server) {
                callHost("Destroy", omitted());
                callHost("Free", omitted());
                server.reset();
            }
        });
    } catch (const HostPerso&) {
        connesso = false;
        server.reset();
    }
    return true;
}

bool Tvellopat::is_on() {
    if (perso_) {
        throw HostPerso(kHostPerso);
    }
    if (!server) {
        return false;
    }
    return framed([&] { callHost("get_error", omitted()); });
}

bool Tvellopat::select_single(const std::string& codice) {
    if (!is_on()) {
        return false;
    }
    return doneCall("Tvellopat.select_single()", "select_single", {text(codice)});
}

std::int32_t Tvellopat::carica(const std::string& filtro, const std::string& ordine) {
    if (!is_on()) {
        return 0;
    }
    std::int32_t count = 0;
    if (!framed([&] { count = callHost("carica", {text(filtro), text(ordine)}).toInteger(); })) {
        show(failureText("Tvellopat.carica()"));
        return 0;
    }
    return count;
}

bool Tvellopat::skip() {
    if (!is_on()) {
        return false;
    }
    return doneCall("Tvellopat.skip()", "skip", omitted());
}

std::string Tvellopat::leggi_attributo(const std::string& attributo) {
    if (!is_on()) {
        return {};
    }
    return textCall("Tvellopat.leggi_attributo()", "leggi_attributo", {text(attributo)});
}

std::string Tvellopat::new_object(const std::string& classe, const std::string& nome) {
    if (!is_on()) {
        return {};
    }
    return textCall("Tvellopat.new_object()", "new_object", {text(classe), text(nome)});
}

std::string Tvellopat::call_method_pipe(const std::string& handle, const std::string& metodo,
                                        const std::string& lista_parametri) {
    // Made only for a message: every row and column of the record passes here.
    const auto description = [&] {
        return "Tvellopat.call_method_pipe(" + handle + ", " + metodo + ", " + lista_parametri +
               ")";
    };
    if (!is_on()) {
        return {};
    }
    std::string result;
    std::optional<std::string> failure;
    {
        // Only the program's own errors are caught here (every failed host
        // call is one); anything else is a fault of the program and goes on,
        // as does a lost host.
        ForegroundFrame frame;
        try {
            result =
                callHost("call_method_pipe", {text(handle), text(metodo), text(lista_parametri)})
                    .toText();
        } catch (const HostPerso&) {
            throw;
        } catch (const Error& error) {
            failure = description() + std::string(kEccezione) + error.what();
        }
    }
    if (failure) {
        show(*failure);
        return {};
    }
    // The counts the host hands back must be decimal numbers; a bad one is
    // reported but passed on, the caller decides what it is worth.
    if (metodo == "carica" || metodo == "rowcount") {
        ultimoErrore();
        string2int(result, 10);
        if (!ultimoErrore().empty()) {
            show(description() + std::string(kEccezione) + ": " + std::string(kCrLf) +
                 "s_handle = " + handle + std::string(kCrLf) + "s_metodo = " + metodo +
                 std::string(kCrLf) + "s_lista_parametri = " + lista_parametri);
        }
    }
    return result;
}

std::string Tvellopat::destroy_object(const std::string& handle) {
    return textCall("Tvellopat.destroy_object()", "destroy_object", {text(handle)});
}

std::string Tvellopat::sql_dump_string(const std::string& modo, const std::string& sql) {
    return textCall("Tgate_vellopat.sql_dump_string()", "sql_dump_string", {text(modo), text(sql)});
}

}  // namespace kvt
