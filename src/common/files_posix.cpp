// File helpers on POSIX: open(2) with O_EXCL/O_NOFOLLOW for private files,
// mkstemp + rename for atomic replacement.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/errors.h"
#include "common/files.h"

namespace kvt::files {
namespace {

bool writeAllTo(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t written = ::write(fd, content.data(), content.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

[[noreturn]] void fail(const std::filesystem::path& path, int error) {
    throw Error("Impossibile scrivere il file " + path.string() + ": " + std::strerror(error));
}

}  // namespace

std::optional<std::string> readAll(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    const auto failed = [fd] {
        ::close(fd);
        return std::nullopt;  // a folder, or a read error
    };
    std::string content;
    // A regular file is read straight into a text of its size; whatever it
    // has grown by meanwhile is read on below.
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
        const auto size = static_cast<std::size_t>(status.st_size);
        content.resize(size);
        std::size_t filled = 0;
        while (filled < size) {
            const ssize_t got = ::read(fd, content.data() + filled, size - filled);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                return failed();
            }
            if (got == 0) {
                break;
            }
            filled += static_cast<std::size_t>(got);
        }
        content.resize(filled);
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failed();
        }
        if (got == 0) {
            break;
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return content;
}

struct AtomicFile::State {
    std::filesystem::path requested;  // as given, for messages
    std::filesystem::path path;       // the file replaced (a link's target)
    std::string temporary;
    int fd = -1;

    // Closes and removes the temporary file, then raises.
    [[noreturn]] void discard(int error) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
        ::unlink(temporary.c_str());
        fail(requested, error);
    }
};

AtomicFile::AtomicFile(const std::filesystem::path& requested) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.requested = requested;
    s.path = requested;
    std::error_code ec;
    if (std::filesystem::is_symlink(s.path, ec)) {
        s.path = std::filesystem::weakly_canonical(s.path, ec);
        if (ec) {
            fail(requested, ec.value());
        }
    }
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat existing {};
    if (::stat(s.path.c_str(), &existing) == 0) {
        mode = existing.st_mode & 07777;
    }

    const std::filesystem::path folder = s.path.has_parent_path() ? s.path.parent_path() : ".";
    s.temporary = (folder / ("." + s.path.filename().string() + ".XXXXXX")).string();
    s.fd = ::mkstemp(s.temporary.data());
    if (s.fd < 0) {
        fail(requested, errno);
    }
    if (::fchmod(s.fd, mode) != 0) {
        s.discard(errno);
    }
}

AtomicFile::~AtomicFile() {
    if (state_->fd >= 0) {
        ::close(state_->fd);
        ::unlink(state_->temporary.c_str());
    }
}

void AtomicFile::write(std::string_view content) {
    State& s = *state_;
    if (s.fd < 0) {
        fail(s.requested, EBADF);
    }
    if (!writeAllTo(s.fd, content)) {
        s.discard(errno);
    }
}

void AtomicFile::commit() {
    State& s = *state_;
    if (s.fd < 0) {
        fail(s.requested, EBADF);
    }
    // No fsync: the rename alone is what keeps readers from half a file, and
    // forcing each file to the disk cost a journal commit for every upload,
    // answer and last-visit file, so that a sending spent most of its time
    // waiting on the disk. Everything written this way can be made again: the
    // next new sending rebuilds what a power cut may have left empty.
    const int fd = s.fd;
    s.fd = -1;
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(s.temporary.c_str());
        fail(s.requested, error);
    }
    if (::rename(s.temporary.c_str(), s.path.c_str()) != 0) {
        const int error = errno;
        ::unlink(s.temporary.c_str());
        fail(s.requested, error);
    }
}

void writeAtomically(const std::filesystem::path& path, std::string_view content) {
    AtomicFile file(path);
    file.write(content);
    file.commit();
}

bool writeNewPrivate(const std::filesystem::path& path, std::string_view content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    if (fd < 0) {
        return false;
    }
    // The creation mask can only take bits away; make sure of the two we need.
    const bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && writeAllTo(fd, content);
    if (::close(fd) != 0 || !ok) {
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

bool isInterruptedWriteName(std::string_view name) {
    // "." + the target's name + "." + the six characters mkstemp chose.
    constexpr std::size_t kSuffix = 7;
    if (name.size() < kSuffix + 2 || name.front() != '.' || name[name.size() - kSuffix] != '.') {
        return false;
    }
    for (std::size_t i = name.size() - kSuffix + 1; i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
            return false;
        }
    }
    return true;
}

int removeInterruptedWrites(const std::filesystem::path& folder) {
    int removed = 0;
    try {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            std::error_code kind;
            if (entry.is_regular_file(kind) &&
                isInterruptedWriteName(entry.path().filename().string()) &&
                ::unlink(entry.path().c_str()) == 0) {
                ++removed;
            }
        }
    } catch (const std::filesystem::filesystem_error&) {
        // A folder that cannot be read to the end keeps what was not reached.
    }
    return removed;
}

}  // namespace kvt::files
