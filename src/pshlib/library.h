#pragma once
// What the library's main module and the platform's loader hooks tell each
// other: the start and the exit of the library, and the one way a library
// has to tell the operator something.
#include <string>

namespace kvt::psh {

// The start acquires the cryptographic service (and shows why it cannot);
// it tells whether the library can serve. The exit releases the service.
bool libraryStart();
void libraryExit();

// Runs the start once per process before the first pseudonym, where the
// platform starts the library on first use rather than when it is loaded
// (Windows: nothing of the service under the loader's lock); a no-op where
// the loader hook started it already.
void startOnFirstUse();

// An information text (PSHAbout) and an error with its title (a failed start).
void showInformation(const std::string& text);
void showError(const std::string& title, const std::string& text);

}  // namespace kvt::psh
