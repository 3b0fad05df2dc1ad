#pragma once
// The collection service's store: the latest accepted upload of each
// pseudonym, one file "<PSEUDONYM>.xml" per patient, kept byte for byte as
// received and replaced atomically.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kvt::collector {

struct StoredUpload {
    std::string pseudonym;
    std::filesystem::file_time_type received;
    std::uintmax_t size = 0;
};

class UploadStore {
  public:
    // Creates the folder (readable by its owner only) when missing and clears
    // temporary files left by an interrupted write; raises std::runtime_error
    // when the folder cannot be used.
    explicit UploadStore(std::filesystem::path folder);

    // Writes a temporary file beside the target and renames it into place, so
    // that a reader sees the previous upload or the new one, never a part.
    // Gives false when the upload could not be written.
    bool store(std::string_view pseudonym, std::string_view upload);

    const std::filesystem::path& folder() const { return folder_; }

  private:
    std::filesystem::path folder_;
    std::atomic<std::uint64_t> sequence_{0};
};

// What a store folder holds, by pseudonym; temporary files are left out.
std::vector<StoredUpload> listStore(const std::filesystem::path& folder);

// The listing `kvt-collector --list` prints.
std::string formatListing(const std::vector<StoredUpload>& uploads);

}  // namespace kvt::collector
