#include "collector/upload_store.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "collector/request_check.h"

namespace kvt::collector {
namespace {

constexpr std::string_view kTemporaryPrefix = ".tmp-";
constexpr std::string_view kExtension = ".xml";

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string localTime(std::filesystem::file_time_type when) {
    const auto system = std::chrono::file_clock::to_sys(when);
    const std::time_t seconds = std::chrono::system_clock::to_time_t(system);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

}  // namespace

UploadStore::UploadStore(std::filesystem::path folder) : folder_(std::move(folder)) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder_, error)) {
        std::filesystem::create_directories(folder_, error);
        if (error) {
            throw std::runtime_error("cartella di archivio non creata: " + folder_.string());
        }
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace, error);
    }
    if (::access(folder_.c_str(), W_OK | X_OK) != 0) {
        throw std::runtime_error("cartella di archivio non scrivibile: " + folder_.string());
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
        if (entry.path().filename().string().starts_with(kTemporaryPrefix)) {
            std::filesystem::remove(entry.path(), error);
        }
    }
}

bool UploadStore::store(std::string_view pseudonym, std::string_view upload) {
    // Only a checked pseudonym names a file: nothing else can reach a path.
    if (!isPseudonym(pseudonym)) {
        return false;
    }
    const std::filesystem::path target =
        folder_ / (std::string(pseudonym) + std::string(kExtension));
    const std::filesystem::path temporary =
        folder_ / (std::string(kTemporaryPrefix) + std::to_string(::getpid()) + "-" +
                   std::to_string(sequence_.fetch_add(1)));
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    bool ok = writeAll(fd, upload);
    ok = (::close(fd) == 0) && ok;
    if (!ok || std::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::vector<StoredUpload> listStore(const std::filesystem::path& folder) {
    std::vector<StoredUpload> uploads;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file(error) || !name.ends_with(kExtension)) {
            continue;
        }
        const std::string pseudonym = name.substr(0, name.size() - kExtension.size());
        if (!isPseudonym(pseudonym)) {
            continue;
        }
        StoredUpload upload{pseudonym, entry.last_write_time(error), entry.file_size(error)};
        if (!error) {
            uploads.push_back(std::move(upload));
        }
    }
    std::sort(uploads.begin(), uploads.end(), [](const StoredUpload& a, const StoredUpload& b) {
        return a.pseudonym < b.pseudonym;
    });
    return uploads;
}

std::string formatListing(const std::vector<StoredUpload>& uploads) {
    std::string out = "pseudonimo                                ricevuto il          byte\n";
    for (const StoredUpload& upload : uploads) {
        out += upload.pseudonym;
        out += "  ";
        out += localTime(upload.received);
        out += "  ";
        out += std::to_string(upload.size);
        out += '\n';
    }
    out += std::to_string(uploads.size()) +
           (uploads.size() == 1 ? " tracciato archiviato\n" : " tracciati archiviati\n");
    return out;
}

}  // namespace kvt::collector
