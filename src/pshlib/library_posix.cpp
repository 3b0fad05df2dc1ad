// The library's loader hooks and messages on POSIX.
#include <cstdio>
#include <cstdlib>

#include "pshlib/library.h"

namespace kvt::psh {
namespace {

void unloadHook() {
    libraryExit();
}

// The exit is registered with atexit from inside the start rather than as an
// ELF destructor: a shared object's atexit handler runs when the object is
// unloaded (dlclose) or at process exit, whichever comes first, and at exit
// it runs before OpenSSL's own clean-up, which was registered earlier by the
// start's first OpenSSL call. An ELF destructor would run after that
// clean-up and release providers of a library already shut down.
// A shared object cannot refuse to load: after a failed start it stays
// loaded and PSHCalc answers null.
__attribute__((constructor)) void loadHook() {
    libraryStart();
    std::atexit(unloadHook);
}

}  // namespace

void startOnFirstUse() {}

void showInformation(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void showError(const std::string& title, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    std::fflush(stderr);
}

}  // namespace kvt::psh
