#pragma once
// What the library's main module and the platform's loader hooks tell each
// other: the start and the exit of the library, and the one way a library
// has to tell the operator something.
#include <string>

namespace kvt::psh {

// Run once when a process loads the library, and once when it unloads it.
// The start tells whether the library can serve (it has shown why not).
bool libraryStart();
void libraryExit();

// An information text (PSHAbout) and an error with its title (a failed start).
void showInformation(const std::string& text);
void showError(const std::string& title, const std::string& text);

}  // namespace kvt::psh
