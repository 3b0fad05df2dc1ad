// Registry seam on POSIX: the registry-export file named by $KVT_REGISTRY,
// else $XDG_CONFIG_HOME/vd_kvt/registry.reg, else ~/.config/vd_kvt/registry.reg.
// The file is parsed once and kept until it changes: every read looks at its
// inode, size and modification time (to the nanosecond), so a file lkconfig
// has replaced (always a new inode) is seen by the very next read; a file
// modified too recently for its time to tell is compared byte by byte.
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <mutex>

#include "common/files.h"
#include "common/reg_file.h"
#include "common/registry.h"
#include "common/registry_store.h"

namespace kvt::registry {

std::filesystem::path storePath() {
    if (const char* explicitPath = std::getenv("KVT_REGISTRY"); explicitPath && *explicitPath) {
        return explicitPath;
    }
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::filesystem::path(home) / ".config";
    } else {
        base = ".";
    }
    return base / "vd_kvt" / "registry.reg";
}

namespace {

// What tells one version of the store file from another.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};

    bool operator==(const FileStamp& other) const {
        return exists == other.exists && device == other.device && inode == other.inode &&
               size == other.size && modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

// File systems keep modification times in ticks of their own, up to the two
// seconds of FAT: a rewrite in place, of the same size and within one tick,
// leaves the stamp as it was.
constexpr time_t kCoarsestTick = 2;

timespec wallClockNow() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

// True when the file was last modified at least a tick before it was read: a
// later change cannot then share its modification time.
bool modifiedBefore(const FileStamp& stamp, const timespec& readAt) {
    const time_t settledUntil = readAt.tv_sec - kCoarsestTick;
    return stamp.modified.tv_sec < settledUntil ||
           (stamp.modified.tv_sec == settledUntil && stamp.modified.tv_nsec < readAt.tv_nsec);
}

FileStamp stampOf(const std::filesystem::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return {};
    }
    return {true, status.st_dev, status.st_ino, status.st_size, status.st_mtim};
}

// The parsed store, shared by every thread that reads the registry (the
// connector may read from its own).
class StoreCache {
  public:
    template <typename Use>
    auto withFile(Use&& use) {
        const std::lock_guard lock(mutex_);
        refresh();
        return use(file_);
    }

  private:
    // The stamp is taken before the file is read: a change made in between
    // is read now and, its stamp differing, read again next time. A file
    // changed too recently for its stamp to be trusted is read again and
    // compared, and parsed only when its bytes differ.
    void refresh() {
        std::filesystem::path path = storePath();
        const FileStamp stamp = stampOf(path);
        const bool samePath = loaded_ && path == path_;
        if (samePath && stamp == stamp_ && modifiedBefore(stamp_, readAt_)) {
            return;
        }
        const timespec readAt = wallClockNow();
        std::string content = stamp.exists ? files::readAll(path).value_or("") : "";
        if (!samePath || content != content_) {
            file_ = RegFile::parse(content);
            content_ = std::move(content);
        }
        path_ = std::move(path);
        stamp_ = stamp;
        readAt_ = readAt;
        loaded_ = true;
    }

    std::mutex mutex_;
    bool loaded_ = false;
    std::filesystem::path path_;
    FileStamp stamp_;
    timespec readAt_{};
    std::string content_;
    RegFile file_;
};

StoreCache& storeCache() {
    static StoreCache cache;
    return cache;
}

}  // namespace

std::optional<Value> readValue(Root root, std::string_view keyPath, std::string_view name) {
    return storeCache().withFile([&](const RegFile& file) -> std::optional<Value> {
        if (const Value* value = file.find(fullKeyName(root, keyPath), name)) {
            return *value;
        }
        return std::nullopt;
    });
}

bool keyExists(Root root, std::string_view keyPath) {
    return storeCache().withFile(
        [&](const RegFile& file) { return file.findKey(fullKeyName(root, keyPath)) != nullptr; });
}

}  // namespace kvt::registry
