// The five functions of LKlib.so. The library holds at most one connection;
// every call is written to the connector's log. Calls may come from any
// thread: one that arrives while another is working gets ERR_BUSY.
#include <dlfcn.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "connector/lklib.h"
#include "lklib/lk_connection.h"
#include "lklib/lk_log.h"
#include "lklib/lk_result.h"
#include "lklib/lk_settings.h"

extern char** environ;

namespace kvt::lk {
namespace {

struct State {
    std::mutex busy;
    std::unique_ptr<Connection> connection;
    std::string logFilename;  // of the open connection's settings
    std::string answer;       // valid until the next LKQuery
    std::atomic<int> lastQueryResult{kNotConnected};
};

State& state() {
    static State* instance = new State;  // never destroyed: calls may come at exit
    return *instance;
}

class CallTimer {
  public:
    std::chrono::milliseconds elapsed() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start_);
    }

  private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

std::string quoted(const char* text) {
    if (!text) {
        return "null";
    }
    std::string shown = "\"";
    for (const char* p = text; *p && shown.size() < 70; ++p) {
        shown += (static_cast<unsigned char>(*p) < 0x20) ? '?' : *p;
    }
    return shown + "\"";
}

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

// Runs the options dialog beside the library and waits for it to close.
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

}  // namespace
}  // namespace kvt::lk

using namespace kvt::lk;

extern "C" {

__attribute__((visibility("default"))) void LKConfig(void) {
    CallTimer timer;
    const std::string outcome = runOptionsDialog();
    // The dialog may have changed where the log goes: read it afresh.
    appendLogLine(readSettings().logFilename, {"LKConfig", "", kOk, outcome, timer.elapsed()});
}

__attribute__((visibility("default"))) int LKConnect(const char* service, const char* second) {
    CallTimer timer;
    State& s = state();
    const std::string arguments = quoted(service) + ", " + quoted(second);
    std::unique_lock lock(s.busy, std::try_to_lock);
    if (!lock.owns_lock()) {
        appendLogLine(readSettings().logFilename,
                      {"LKConnect", arguments, kBusy, "altra chiamata in corso", timer.elapsed()});
        return kBusy;
    }
    Settings settings = readSettings();
    const std::string logFilename = settings.logFilename;
    if (s.connection) {
        appendLogLine(logFilename,
                      {"LKConnect", arguments, kBusy, "connessione gia' aperta", timer.elapsed()});
        return kBusy;
    }
    auto connection = std::make_unique<Connection>(std::move(settings), service ? service : "");
    const Connection::Outcome outcome = connection->open();
    if (outcome.result == kOk) {
        s.connection = std::move(connection);
        s.logFilename = logFilename;
    }
    appendLogLine(logFilename,
                  {"LKConnect", arguments, outcome.result, outcome.details(), timer.elapsed()});
    return outcome.result;
}

__attribute__((visibility("default"))) const char* LKQuery(const char* request, int n,
                                                           int timeoutSeconds) {
    CallTimer timer;
    State& s = state();
    const std::string arguments =
        (request ? std::to_string(std::strlen(request)) + " byte" : std::string("null")) + ", " +
        std::to_string(n) + ", " + std::to_string(timeoutSeconds);
    std::unique_lock lock(s.busy, std::try_to_lock);
    if (!lock.owns_lock()) {
        appendLogLine(readSettings().logFilename,
                      {"LKQuery", arguments, kBusy, "altra chiamata in corso", timer.elapsed()});
        return nullptr;
    }
    s.answer.clear();
    if (!s.connection) {
        s.lastQueryResult = kNotConnected;
        appendLogLine(readSettings().logFilename,
                      {"LKQuery", arguments, kNotConnected, "", timer.elapsed()});
        return nullptr;
    }
    if (!request) {
        s.lastQueryResult = kInvalid;
        appendLogLine(s.logFilename,
                      {"LKQuery", arguments, kInvalid, "richiesta nulla", timer.elapsed()});
        return nullptr;
    }
    std::string answer;
    const Connection::Outcome outcome =
        s.connection->query(std::string_view(request), timeoutSeconds, answer);
    s.lastQueryResult = outcome.result;
    appendLogLine(s.logFilename,
                  {"LKQuery", arguments, outcome.result, outcome.details(), timer.elapsed()});
    if (outcome.result != kOk) {
        return nullptr;
    }
    s.answer = std::move(answer);
    return s.answer.c_str();
}

__attribute__((visibility("default"))) int LKGetError(void) {
    CallTimer timer;
    State& s = state();
    const int result = s.lastQueryResult;
    std::unique_lock lock(s.busy, std::try_to_lock);
    if (lock.owns_lock()) {
        appendLogLine(s.connection ? s.logFilename : readSettings().logFilename,
                      {"LKGetError", "", result, "", timer.elapsed()});
    }
    return result;
}

__attribute__((visibility("default"))) int LKDisconnect(void) {
    CallTimer timer;
    State& s = state();
    std::unique_lock lock(s.busy, std::try_to_lock);
    if (!lock.owns_lock()) {
        appendLogLine(readSettings().logFilename,
                      {"LKDisconnect", "", kBusy, "altra chiamata in corso", timer.elapsed()});
        return kBusy;
    }
    const bool wasOpen = s.connection != nullptr;
    const std::string logFilename = wasOpen ? s.logFilename : readSettings().logFilename;
    s.connection.reset();
    appendLogLine(logFilename,
                  {"LKDisconnect", "", kOk,
                   wasOpen ? "connessione chiusa" : "nessuna connessione aperta", timer.elapsed()});
    return kOk;
}

}  // extern "C"
