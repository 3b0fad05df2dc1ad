// LKConfig on POSIX: lkconfig, the Qt dialog beside the library, run as a
// program of its own.
#include <dlfcn.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "connector/lklib.h"
#include "lklib/lk_options_dialog.h"

extern char** environ;

namespace kvt::lk {
namespace {

bool hasDisplay() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return set("DISPLAY") || set("WAYLAND_DISPLAY") ||
           (platform && std::string_view(platform) == "offscreen");
}

std::filesystem::path libraryFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LKConfig), &info) == 0 || !info.dli_fname) {
        return {};
    }
    return std::filesystem::path(info.dli_fname).parent_path();
}

}  // namespace

std::string runOptionsDialog() {
    if (!hasDisplay()) {
        return "nessun display: finestra non aperta";
    }
    const std::filesystem::path program = libraryFolder() / "lkconfig";
    if (::access(program.c_str(), X_OK) != 0) {
        return "lkconfig non trovato accanto alla libreria";
    }
    std::string path = program.string();
    char* argv[] = {path.data(), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, path.c_str(), nullptr, nullptr, argv, environ) != 0) {
        return "lkconfig non avviato";
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return "lkconfig terminato con stato " +
           std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

}  // namespace kvt::lk
