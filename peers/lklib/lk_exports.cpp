// The five functions of LKlib.so and LKlib.dll. The library holds at most
// one connection; every call is written to the connector's log. Calls may
// come from any thread: one that arrives while another is working gets
// ERR_BUSY.
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "connector/lklib.h"
#include "lklib/lk_connection.h"
#include "lklib/lk_log.h"
#include "lklib/lk_options_dialog.h"
#include "lklib/lk_result.h"
#include "lklib/lk_settings.h"

// On Windows the module-definition file names the exports.
#if defined(_WIN32)
#define LK_EXPORT
#else
#define LK_EXPORT __attribute__((visibility("default")))
#endif

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
        // Only plain ASCII: the text comes in the workstation's code page.
        const auto byte = static_cast<unsigned char>(*p);
        shown += (byte < 0x20 || byte > 0x7e) ? '?' : *p;
    }
    return shown + "\"";
}

}  // namespace
}  // namespace kvt::lk

using namespace kvt::lk;

extern "C" {

LK_EXPORT void LK_CALL LKConfig(void) {
    CallTimer timer;
    const std::string outcome = runOptionsDialog();
    // The dialog may have changed where the log goes: read it afresh.
    appendLogLine(readSettings().logFilename, {"LKConfig", "", kOk, outcome, timer.elapsed()});
}

LK_EXPORT int LK_CALL LKConnect(const char* service, const char* second) {
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

LK_EXPORT const char* LK_CALL LKQuery(const char* request, int n, int timeoutSeconds) {
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

LK_EXPORT int LK_CALL LKGetError(void) {
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

LK_EXPORT int LK_CALL LKDisconnect(void) {
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
