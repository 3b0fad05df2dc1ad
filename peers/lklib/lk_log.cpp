#include "lklib/lk_log.h"

#include <cstdio>
#include <ctime>

#include "common/clock.h"
#include "connector/connector_texts.h"

namespace kvt::lk {

std::string formatLogLine(std::chrono::system_clock::time_point when, const CallRecord& record) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() %
        1000;
    const DateTime local = clock::fromTimeT(seconds);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.year,
                  local.month, local.day, local.hour, local.minute, local.second,
                  static_cast<int>(millis));
    std::string line = stamp;
    line += ' ';
    line += record.call;
    line += '(';
    line += record.arguments;
    line += ") = ";
    line += std::to_string(record.result);
    line += ' ';
    line += descriviCodice(record.result);
    line += " [";
    if (!record.details.empty()) {
        line += record.details;
        line += ", ";
    }
    line += std::to_string(record.elapsed.count());
    line += " ms]";
    return line;
}

void appendLogLine(const std::string& path, const CallRecord& record) {
    if (path.empty()) {
        return;
    }
    std::string line = formatLogLine(std::chrono::system_clock::now(), record);
    // One line may not span several: libcurl's reasons are single lines, but
    // keep the log readable whatever comes.
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    line += '\n';
    appendToLogFile(path, line);
}

}  // namespace kvt::lk
