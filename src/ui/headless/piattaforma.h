#pragma once
// What the unattended front end needs of the platform, one file per platform.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvt::headless {

// The program as its messages name it in examples of how to run it.
extern const char* const kEseguibile;

// The arguments of the command line (without the program's own name) as
// UTF-8 texts. On Windows the process's own command line is read again in
// its wide form, so that an accent survives whatever the ANSI code page.
std::vector<std::string> argomentiProgramma(int argc, char** argv);

enum class Flusso { Uscita, Errore };
// Writes a UTF-8 text on standard output or standard error at once. To a
// Windows console it goes as characters (accents show right); anywhere else
// (a file, a pipe, a scheduled task's log) as the bytes themselves.
void scrivi(Flusso flusso, std::string_view testo);

// Gives an unattended run of the windowed vd_kvt.exe its caller's console
// for standard output and error that have nowhere to go: a windowed program
// gets no console of its own. Streams already redirected (a file, a pipe)
// stay as they are. Nothing to do on POSIX.
void usaConsoleDelChiamante();

// The value of an environment variable as UTF-8; nothing when it is not set.
std::optional<std::string> variabileAmbiente(const char* nome);
// Takes the variable out of the process's environment, its bytes overwritten
// first: a secret read from it reaches no child process and no later reader.
void dimenticaVariabileAmbiente(const char* nome);

// Keeps the process's memory, which holds the password for a while and the
// records being built, out of core dumps (on Linux also out of the reach of
// other processes of the same user through /proc and ptrace).
void nessunaCopiaDellaMemoria();

// The text of bytes read from a file that the operator wrote: bytes that are
// valid UTF-8 are taken as they are; on Windows any others are read in the
// ANSI code page (what Notepad writes on older systems).
std::string testoDaiByte(std::string byte);

// A write past the file size limit fails as an error that the program
// reports and goes on from, instead of ending the process without a word
// (SIGXFSZ on POSIX).
void scrittureOltreIlLimiteComeErrori();

// The folder that holds the running executable, without a trailing separator.
std::string cartellaEseguibile();

// True when standard error goes to a terminal (an operator watches the run)
// that can redraw the progress line.
bool erroreStandardSuTerminale();
// The terminal's width in characters; 80 when it cannot be told.
int larghezzaTerminale();

// True when users other than the owner may read the file.
bool leggibileDaAltri(const std::string& file);
// What the operator does about such a file.
extern const char* const kRimedioLeggibile;

// Makes the host application's automation server known to the program: on
// POSIX the host stand-in is registered as "Vellodoc.Server".
void registraHost();

// The message for a connector library that cannot be used: none found
// (named beside the executable), of the other bitness, or not loading;
// nothing when it loads. On Windows it is looked for as the loader looks
// for it (connettore_win.cpp); on POSIX the system's loader has already
// refused to start the program without it.
std::optional<std::string> connettoreMancante();

}  // namespace kvt::headless
