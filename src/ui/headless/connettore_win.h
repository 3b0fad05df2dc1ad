#pragma once
// vd_kvt.exe and its connector library LKlib.dll at start. The library must
// be of the program's own bitness: the 32-bit connector an office has cannot
// be loaded by the 64-bit program, nor the other way round. The program says
// so and which build to install, instead of finding out at the first sending.
#include <optional>

namespace kvt::headless {

// What every start of vd_kvt.exe does first: takes the current folder out of
// the search for DLLs (a library planted there is never loaded) and, when
// `finestre`, checks the connector as the unattended front end does
// (connettoreMancante) and shows its message in a box. Returns the exit
// status when the program must stop there. Without a connector the windows
// still open: every sending then ends "non connesso".
std::optional<int> avviaConDllSicure(bool finestre);

}  // namespace kvt::headless
