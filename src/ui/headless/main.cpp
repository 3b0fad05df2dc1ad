// vd_kvt without a window front end: every command line is the unattended
// one. A build with windows has its own main, which opens the login window
// when no command option is given and hands the rest to runHeadless.
#include <string>

#include "ui/headless/headless.h"
#include "ui/headless/piattaforma.h"

int main(int argc, char** argv) {
    using namespace kvt::headless;
    if (chiedeFinestre(argc, argv)) {
        const std::string eseguibile = kEseguibile;
        scrivi(Flusso::Errore,
               "vd_kvt: questa build non ha finestre; per l'invio non presidiato: " + eseguibile +
                   " --utente UTENTE [--password-file FILE] --nuovo-invio (vedere " + eseguibile +
                   " --help)\n");
        return kUsoErrato;
    }
    return runHeadless(argc, argv);
}
