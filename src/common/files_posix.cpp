// File helpers on POSIX: open(2) with O_EXCL/O_NOFOLLOW for private files,
// mkstemp + fdatasync + rename + the folder's fsync for durable replacement.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/errors.h"
#include "common/files.h"
#include "common/paths.h"

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
    throw Error("Impossibile scrivere il file " + paths::toUtf8(path) + ": " +
                std::strerror(error));
}

std::filesystem::path folderOf(const std::filesystem::path& path) {
    return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

// Forces the folder's entries to the disk: a rename into or out of it is
// lost with the power until then. Zero, or the system's error number.
int syncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    const int error = ::fsync(fd) != 0 ? errno : 0;
    ::close(fd);
    return error;
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
    detail::Target target;
    std::string temporary;
    int fd = -1;

    // Closes and removes the temporary file, then raises.
    [[noreturn]] void discard(int error) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
        ::unlink(temporary.c_str());
        fail(target.requested, error);
    }
};

AtomicFile::AtomicFile(const std::filesystem::path& requested, Replace how)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    std::error_code ec;
    s.target = detail::targetOf(requested, how, ec);
    if (ec) {
        fail(requested, ec.value());
    }
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat existing {};
    if (!s.target.durable && ::stat(s.target.path.c_str(), &existing) == 0) {
        mode = existing.st_mode & 07777;
    }

    const std::filesystem::path folder =
        s.target.path.has_parent_path() ? s.target.path.parent_path() : ".";
    s.temporary = (folder / ("." + s.target.path.filename().native() + ".XXXXXX")).native();
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
        fail(s.target.requested, EBADF);
    }
    if (!writeAllTo(s.fd, content)) {
        s.discard(errno);
    }
}

void AtomicFile::commit() {
    State& s = *state_;
    if (s.fd < 0) {
        fail(s.target.requested, EBADF);
    }
    // The content reaches the disk before the rename, and the rename before
    // the caller goes on: otherwise a power cut can leave the new name with
    // no content, or the old content under a state the caller went on from.
    // A private file's mode must survive as well, hence fsync for it.
    const int fd = s.fd;
    s.fd = -1;
    int error = 0;
    if ((s.target.durable ? ::fsync(fd) : ::fdatasync(fd)) != 0) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(s.temporary.c_str());
        fail(s.target.requested, error);
    }
    if (::rename(s.temporary.c_str(), s.target.path.c_str()) != 0) {
        const int error = errno;
        ::unlink(s.temporary.c_str());
        fail(s.target.requested, error);
    }
    if (const int error = syncFolder(folderOf(s.target.path)); error != 0) {
        fail(s.target.requested, error);
    }
}

std::error_code moveReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return {errno, std::generic_category()};
    }
    // Each folder the rename touched, forced to the disk: one journal commit,
    // the second folder has nothing left to write.
    const std::filesystem::path target = folderOf(to);
    const std::filesystem::path source = folderOf(from);
    int error = syncFolder(target);
    if (error == 0 && source != target) {
        error = syncFolder(source);
    }
    return error == 0 ? std::error_code() : std::error_code(error, std::generic_category());
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

}  // namespace kvt::files
