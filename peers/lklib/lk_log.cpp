#include "lklib/lk_log.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

#include "common/clock.h"
#include "connector/connector_texts.h"

namespace kvt::lk {
namespace {

// Where a word of a text ends: blanks and the quotes and brackets that
// messages put around what they quote.
bool isWordBreak(char c) {
    return std::isspace(static_cast<unsigned char>(c)) ||
           std::string_view("'\"`<>()").find(c) != std::string_view::npos;
}

std::string withoutUserInformation(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    while (!text.empty()) {
        if (isWordBreak(text.front())) {
            result += text.front();
            text.remove_prefix(1);
            continue;
        }
        const auto end = std::find_if(text.begin(), text.end(), isWordBreak);
        const std::string_view word = text.substr(0, std::size_t(end - text.begin()));
        text.remove_prefix(word.size());
        const std::size_t at = word.rfind('@');
        if (at == std::string_view::npos) {
            result += word;
            continue;
        }
        const std::size_t scheme = word.find("://");
        const std::size_t from = (scheme != std::string_view::npos && scheme < at) ? scheme + 3 : 0;
        result += word.substr(0, from);
        result += word.substr(at + 1);
    }
    return result;
}

// Removing one occurrence may join the halves around it into another, of
// the same secret or of another one: until none is left.
void removeEvery(std::string& text, std::span<const std::string> secrets) {
    for (bool removed = true; removed;) {
        removed = false;
        for (const std::string& secret : secrets) {
            for (std::size_t at = secret.empty() ? std::string::npos : text.find(secret);
                 at != std::string::npos; at = text.find(secret)) {
                text.erase(at, secret.size());
                removed = true;
            }
        }
    }
}

}  // namespace

std::string withoutSecrets(std::string_view text, std::span<const std::string> secrets) {
    // The secrets first, so that one holding a blank cannot split a word and
    // keep its start out of the user information; again at the end, in case
    // leaving the user information out joined one together.
    std::string result(text);
    removeEvery(result, secrets);
    result = withoutUserInformation(result);
    removeEvery(result, secrets);
    return result;
}

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
    CallRecord scrubbed = record;
    scrubbed.details = withoutSecrets(record.details);
    std::string line = formatLogLine(std::chrono::system_clock::now(), scrubbed);
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
