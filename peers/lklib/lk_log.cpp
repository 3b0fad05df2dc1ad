#include "lklib/lk_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "connector/connector_texts.h"

namespace kvt::lk {

std::string formatLogLine(std::chrono::system_clock::time_point when, const CallRecord& record) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
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
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    // O_APPEND makes one write one line, even with several writers.
    [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

}  // namespace kvt::lk
