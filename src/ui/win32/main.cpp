// vd_kvt.exe: without command options, the login window and then the main
// window; with them (or --help, --version), the unattended front end. Where
// no window can be made (no desktop), the program says how to run unattended.
#include <string>

#include "ui/headless/headless.h"
#include "ui/headless/piattaforma.h"
#include "ui/win32/viste_win.h"

int main(int argc, char** argv) {
    using namespace kvt::headless;
    if (!chiedeFinestre(argc, argv)) {
        return runHeadless(argc, argv);
    }
    const std::string cartella = cartellaProgramma(argc, argv);
    preparaProcesso();
    const int esito = kvt::win32::avviaFinestre(cartella);
    if (esito != kvt::win32::kNessunaFinestra) {
        return esito;
    }
    const std::string eseguibile = kEseguibile;
    scrivi(Flusso::Errore,
           "vd_kvt: nessun display per le finestre; per l'invio non presidiato: " + eseguibile +
               " --utente UTENTE [--password-file FILE] --nuovo-invio "
               "(vedere " +
               eseguibile + " --help)\n");
    return kUsoErrato;
}
