// vd_kvt: without command options, the login window and then the main window;
// with them (or --help, --version), the unattended front end. Without a
// display there are no windows: the program says how to run unattended.
#include <cstdio>

#include "ui/headless/headless.h"
#include "ui/qt/programma_qt.h"

int main(int argc, char** argv) {
    if (!kvt::headless::chiedeFinestre(argc, argv)) {
        return kvt::headless::runHeadless(argc, argv);
    }
    if (!kvt::qt::displayDisponibile()) {
        std::fputs(
            "vd_kvt: nessun display per le finestre; per l'invio non presidiato: vd_kvt --utente "
            "UTENTE [--password-file FILE] --nuovo-invio (vedere vd_kvt --help)\n",
            stderr);
        return kvt::headless::kUsoErrato;
    }
    return kvt::qt::avviaFinestre(argc, argv);
}
