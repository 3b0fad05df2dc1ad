// What one late-bound call on the host's automation server costs: the same
// call ("leggi_attributo" of the current patient, the run's most frequent)
// on the host stand-in compiled into this program, then through COM's
// IDispatch into vellodoc_server.dll, as vd_kvt.exe makes it. The difference
// is the dispatch's own cost (VARIANTs, BSTRs, Invoke) for an in-process
// server; an out-of-process host adds a round trip between processes.
//
//   kvt-dispatch-cost [CALLS]      the practice from the registry, the
//                                  password from KVT_PASSWORD, user "demo"
//
// Prints one line of JSON: {"calls":N,"in_process_ns":X,"com_ns":Y}.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "host/automation.h"
#include "peers/vellodoc/vellodoc_server.h"

namespace {

using kvt::automation::Variant;

// Nanoseconds per call of `calls` reads of one attribute, over a session
// with the doctor's patient list loaded.
double nanosecondsPerCall(long calls) {
    const char* password = std::getenv("KVT_PASSWORD");
    auto server = kvt::automation::createObject("Vellodoc.Server");
    server->call("new", {});
    const std::string refused =
        server->call("connetti", {Variant::text("demo"), Variant::text(password ? password : "")})
            .toText();
    if (!refused.empty()) {
        throw std::runtime_error(refused);
    }
    server->call("carica", {Variant::text("codice_medico =MMG001|tipo_di_convenzione=S"),
                            Variant::text("alfabetico")});
    const Variant attribute = Variant::text("cognome");
    std::size_t characters = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < calls; ++i) {
        characters += server->call("leggi_attributo", {attribute}).toText().size();
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    server->call("disconnetti", {});
    if (characters == 0) {
        throw std::runtime_error("leggi_attributo non ha dato nulla");
    }
    return std::chrono::duration<double, std::nano>(elapsed).count() / static_cast<double>(calls);
}

}  // namespace

int main(int argc, char** argv) {
    const long calls = argc > 1 ? std::atol(argv[1]) : 200000;
    if (calls <= 0) {
        std::fprintf(stderr, "uso: kvt-dispatch-cost [CHIAMATE]\n");
        return 2;
    }
    try {
        kvt::vellodoc::registerServer();
        const double inProcess = nanosecondsPerCall(calls);
        // Without the in-process class, the name is a COM ProgID.
        kvt::automation::registerClass("Vellodoc.Server", nullptr);
        const double com = nanosecondsPerCall(calls);
        std::printf("{\"calls\":%ld,\"in_process_ns\":%.1f,\"com_ns\":%.1f}\n", calls, inProcess,
                    com);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kvt-dispatch-cost: %s\n", error.what());
        return 1;
    }
    return 0;
}
