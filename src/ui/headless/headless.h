#pragma once
// The unattended front end of vd_kvt: logs in as the login window would, clicks
// the commands given on the command line in order, and leaves as "&Uscita"
// does. Messages go to standard error and are answered at once; the run's
// summary goes to standard output. A window front end takes the case without
// command options (chiedeFinestre) and hands every other one to runHeadless.
#include <string>

namespace kvt::headless {

enum StatoUscita : int {
    kFatto = 0,
    kAccessoFallito = 1,
    kUsoErrato = 2,
    kFattoConErrori = 3,
};

// True when the command line asks for the windows: no option but
// --program-dir. A command line that cannot be read is not such a case:
// runHeadless reports it.
bool chiedeFinestre(int argc, char** argv);

// The program folder the command line names (--program-dir, made absolute),
// else the executable's folder.
std::string cartellaProgramma(int argc, char** argv);

// What every front end does once at start, before the first window: makes
// the host's automation server known (on POSIX, the host stand-in), and
// writes past the file size limit fail as errors rather than end the process.
void preparaProcesso();

// Runs vd_kvt without windows (preparaProcesso included); the exit status.
int runHeadless(int argc, char** argv);

}  // namespace kvt::headless
