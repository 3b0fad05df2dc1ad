// vd_kvt without a window front end: every command line is the unattended
// one. A build with windows has its own main, which opens the login window
// when no command option is given and hands the rest to runHeadless.
#include <cstdio>

#include "ui/headless/headless.h"

int main(int argc, char** argv) {
    if (kvt::headless::chiedeFinestre(argc, argv)) {
        std::fputs(
            "vd_kvt: questa build non ha finestre; per l'invio non presidiato: vd_kvt --utente "
            "UTENTE [--password-file FILE] --nuovo-invio (vedere vd_kvt --help)\n",
            stderr);
        return kvt::headless::kUsoErrato;
    }
    return kvt::headless::runHeadless(argc, argv);
}
