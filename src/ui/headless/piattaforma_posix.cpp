#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "peers/vellodoc/vellodoc_server.h"
#include "ui/headless/piattaforma.h"

namespace kvt::headless {

void scrittureOltreIlLimiteComeErrori() {
    // Ignored, the signal leaves the failing write() with EFBIG, which every
    // writer of the program already handles as a failed write.
    ::signal(SIGXFSZ, SIG_IGN);
}

std::string cartellaEseguibile() {
    std::error_code errore;
    const std::filesystem::path eseguibile =
        std::filesystem::read_symlink("/proc/self/exe", errore);
    if (errore || eseguibile.empty()) {
        return std::filesystem::current_path(errore).string();
    }
    return eseguibile.parent_path().string();
}

bool erroreStandardSuTerminale() {
    return ::isatty(STDERR_FILENO) == 1;
}

int larghezzaTerminale() {
    winsize dimensioni{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &dimensioni) == 0 && dimensioni.ws_col > 0) {
        return dimensioni.ws_col;
    }
    return 80;
}

bool leggibileDaAltri(const std::string& file) {
    struct stat stato {};
    return ::stat(file.c_str(), &stato) == 0 && (stato.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

void registraHost() {
    vellodoc::registerServer();
}

}  // namespace kvt::headless
