#pragma once
// What the unattended front end needs of the platform, one file per platform.
#include <string>

namespace kvt::headless {

// A write past the file size limit fails as an error that the program
// reports and goes on from, instead of ending the process without a word
// (SIGXFSZ on POSIX).
void scrittureOltreIlLimiteComeErrori();

// The folder that holds the running executable, without a trailing separator.
std::string cartellaEseguibile();

// True when standard error goes to a terminal (an operator watches the run).
bool erroreStandardSuTerminale();
// The terminal's width in characters; 80 when it cannot be told.
int larghezzaTerminale();

// True when users other than the owner may read the file.
bool leggibileDaAltri(const std::string& file);

// Makes the host application's automation server known to the program: on
// POSIX the host stand-in is registered as "Vellodoc.Server".
void registraHost();

}  // namespace kvt::headless
