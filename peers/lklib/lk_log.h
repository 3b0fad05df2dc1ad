#pragma once
// The connector's own log: one line per call with its outcome and how long it
// took. Never the request, the answer, the token or proxy credentials.
#include <chrono>
#include <span>
#include <string>
#include <string_view>

namespace kvt::lk {

struct CallRecord {
    std::string_view call;  // "LKConnect", "LKQuery", ...
    std::string arguments;  // what may be shown of the arguments
    int result = 0;
    std::string details;  // HTTP status, sizes, libcurl's reason
    std::chrono::milliseconds elapsed{0};
};

// The text as it may be logged: the user information of every URL in it
// left out ("http://user:pw@host" -> "http://host", "user:pw@host" ->
// "host"), and every occurrence of each secret. A word's user information
// runs from after its first "://" (else from its start) to its last '@'.
std::string withoutSecrets(std::string_view text, std::span<const std::string> secrets = {});

// "2024-05-01 10:22:33.123 LKQuery(KVT, 255, 90) = 0 ERR_OK: ... [HTTP 200, 12 ms]"
std::string formatLogLine(std::chrono::system_clock::time_point when, const CallRecord& record);

// Appends the line to the file, created readable by its owner only; a log
// that cannot be written is silently left out, never a failure of the call.
// The details go in without any URL's user information.
void appendLogLine(const std::string& path, const CallRecord& record);

// The platform's part: appends the whole line in one write, so that lines of
// several writers never mix.
void appendToLogFile(const std::string& path, const std::string& line);

}  // namespace kvt::lk
