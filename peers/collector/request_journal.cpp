#include "collector/request_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kvt::collector {
namespace {

std::string_view orDash(std::string_view text) {
    return text.empty() ? "-" : text;
}

}  // namespace

RequestJournal::RequestJournal(const std::filesystem::path& file) {
    if (file.empty()) {
        return;
    }
    fd_ = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        throw std::runtime_error("impossibile aprire il giornale " + file.string() + ": " +
                                 std::strerror(errno));
    }
}

RequestJournal::~RequestJournal() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::string RequestJournal::line(std::string_view receipt, const Verdict& verdict,
                                 std::size_t bytes, bool stored, std::string_view fault) {
    std::string text;
    for (const std::string_view field :
         {receipt, orDash(verdict.pseudonym), orDash(verdict.requestCode),
          orDash(verdict.patientCode)}) {
        text.append(field).push_back('\t');
    }
    text += std::to_string(bytes);
    text += stored ? "\tarchiviato\t" : "\tnon archiviato\t";
    text.append(orDash(fault));
    return text;
}

void RequestJournal::record(std::string_view receipt, const Verdict& verdict, std::size_t bytes,
                            bool stored, std::string_view fault) {
    if (fd_ < 0) {
        return;
    }
    const std::string text = line(receipt, verdict, bytes, stored, fault) + '\n';
    // One write per line, appended: lines of concurrent requests never mix.
    const std::lock_guard<std::mutex> lock(mutex_);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd_, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        done += static_cast<std::size_t>(written);
    }
}

}  // namespace kvt::collector
