// vd_kvt.exe: without command options, the login window and then the main
// window; with them (or --help, --version), the unattended front end. Where
// no window can be made (no desktop), the program says how to run unattended.
// vd_kvt.exe is a windowed program (no console flashes when Explorer starts
// it); vd_kvt.com, built from the same code as a console program, is the one
// a command prompt finds first, and waits for.
#include <optional>
#include <string>

#include "ui/headless/connettore_win.h"
#include "ui/headless/headless.h"
#include "ui/headless/piattaforma.h"
#include "ui/win32/viste_win.h"

int main(int argc, char** argv) {
    using namespace kvt::headless;
    const bool finestre = chiedeFinestre(argc, argv);
    if (!finestre) {
        // A windowed program: the unattended run writes to its caller's
        // console unless its output is redirected.
        usaConsoleDelChiamante();
    }
    if (const std::optional<int> fermo = avviaConDllSicure(finestre)) {
        return *fermo;
    }
    if (!finestre) {
        return runHeadless(argc, argv);
    }
    const std::string cartella = cartellaProgramma(argc, argv);
    preparaProcesso();
    const int esito = kvt::win32::avviaFinestre(cartella);
    if (esito != kvt::win32::kNessunaFinestra) {
        return esito;
    }
    const std::string eseguibile = kEseguibile;
    usaConsoleDelChiamante();
    scrivi(Flusso::Errore,
           "vd_kvt: nessun display per le finestre; per l'invio non presidiato: " + eseguibile +
               " --utente UTENTE [--password-file FILE] --nuovo-invio "
               "(vedere " +
               eseguibile + " --help)\n");
    return kUsoErrato;
}
