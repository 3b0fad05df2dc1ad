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

void writeAtomically(const std::filesystem::path& requested, std::string_view content) {
    std::filesystem::path path = requested;
    std::error_code ec;
    if (std::filesystem::is_symlink(path, ec)) {
        path = std::filesystem::weakly_canonical(path, ec);
        if (ec) {
            fail(requested, ec.value());
        }
    }
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) {
        mode = existing.st_mode & 07777;
    }

    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    std::string pattern = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        fail(requested, errno);
    }
    const auto discard = [&](int error) {
        ::close(fd);
        ::unlink(pattern.c_str());
        fail(requested, error);
    };
    // No fsync: the rename alone is what keeps readers from half a file, and
    // forcing each file to the disk cost a journal commit for every upload,
    // answer and last-visit file, so that a sending spent most of its time
    // waiting on the disk. Everything written this way can be made again: the
    // next new sending rebuilds what a power cut may have left empty.
    if (::fchmod(fd, mode) != 0 || !writeAllTo(fd, content)) {
        discard(errno);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(pattern.c_str());
        fail(requested, error);
    }
    if (::rename(pattern.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(pattern.c_str());
        fail(requested, error);
    }
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
