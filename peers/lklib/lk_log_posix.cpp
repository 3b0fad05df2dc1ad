#include <fcntl.h>
#include <unistd.h>

#include "lklib/lk_log.h"

namespace kvt::lk {

void appendToLogFile(const std::string& path, const std::string& line) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    // O_APPEND makes one write one line, even with several writers.
    [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
    ::close(fd);
}

}  // namespace kvt::lk
