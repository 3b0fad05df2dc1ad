#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include "peers/vellodoc/vellodoc_server.h"
#include "ui/headless/piattaforma.h"

namespace kvt::headless {

const char* const kEseguibile = "vd_kvt";
const char* const kRimedioLeggibile = "chmod 600";

std::vector<std::string> argomentiProgramma(int argc, char** argv) {
    std::vector<std::string> argomenti;
    for (int i = 1; i < argc; ++i) {
        argomenti.emplace_back(argv[i]);
    }
    return argomenti;
}

void scrivi(Flusso flusso, std::string_view testo) {
    std::FILE* file = flusso == Flusso::Uscita ? stdout : stderr;
    std::fwrite(testo.data(), 1, testo.size(), file);
    std::fflush(file);
}

void usaConsoleDelChiamante() {
    // Nothing to do: a POSIX program keeps the standard streams it was given.
}

std::optional<std::string> variabileAmbiente(const char* nome) {
    if (const char* valore = std::getenv(nome)) {
        return std::string(valore);
    }
    return std::nullopt;
}

void dimenticaVariabileAmbiente(const char* nome) {
    if (char* valore = std::getenv(nome)) {
        std::memset(valore, 0, std::strlen(valore));
    }
    ::unsetenv(nome);
}

// The sanitizers inspect the process from a helper thread through ptrace,
// which a process that is not dumpable refuses.
#if defined(__SANITIZE_ADDRESS__)
#define KVT_CON_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KVT_CON_SANITIZER 1
#endif
#endif

void nessunaCopiaDellaMemoria() {
    const rlimit nessuna{0, 0};
    ::setrlimit(RLIMIT_CORE, &nessuna);
#if defined(__linux__) && !defined(KVT_CON_SANITIZER)
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

std::string testoDaiByte(std::string byte) {
    // The workstation's code page is UTF-8.
    return byte;
}

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

std::optional<std::string> connettoreMancante() {
    return std::nullopt;
}

}  // namespace kvt::headless
