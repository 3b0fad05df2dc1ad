#pragma once
// Whole-file reads and the two safe ways the program writes files that may
// hold patient data: replacing a file atomically, and creating a new private
// file. Contents are bytes (on POSIX the workstation's code page is UTF-8).
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace kvt::files {

// The whole content, or nothing when the file cannot be opened or read.
std::optional<std::string> readAll(const std::filesystem::path& path);

// Writes the content to a temporary file in the same folder, forces it to the
// disk and renames it over the target (the rename forced to the disk too), so
// that no reader ever sees half a file and no power cut leaves the target
// named but empty or filled with zeros. An existing file
// keeps its permission bits; a new one is readable and writable by its owner
// only (0600); on Windows every file written so gets an access list of its
// owner's, new or not. A symbolic link is followed: its target is replaced. Raises
// kvt::Error with a readable reason on failure; the target is then unchanged.
//
// Replace::PrivateDurable is for settings that hold secrets and cannot be
// made again: the file is readable by its owner only whatever it was before,
// and its permissions are forced to the disk with its content.
enum class Replace { Keeping, PrivateDurable };
void writeAtomically(const std::filesystem::path& path, std::string_view content,
                     Replace how = Replace::Keeping);

// The same replacement, for content written a piece at a time: the pieces go
// to the temporary file, and commit() renames it over the target. A file not
// committed (an error, an exception) is removed and the target is unchanged.
// Every failure raises kvt::Error with a readable reason.
class AtomicFile {
  public:
    explicit AtomicFile(const std::filesystem::path& path, Replace how = Replace::Keeping);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void write(std::string_view content);
    void commit();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Moves a file by renaming it within its file system, replacing `to` in one
// step, and forces the rename to the disk before returning. On Windows a
// rename refused because another program (a virus scanner, an indexer, a
// backup) holds one of the two files for a moment is tried again for a few
// seconds (kHoldRetry); a folder or a read-only file in the way is not
// waited for. The system's error when it could not be done; the file is
// then where it was.
std::error_code moveReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

// How long a rename waits out another program's hold on Windows: the waits
// double from the first up to the longest, until their sum passes the total.
struct HoldRetry {
    int firstMs;
    int longestMs;
    int totalMs;
};
inline constexpr HoldRetry kHoldRetry{25, 1000, 4500};

// True when the content holds a zero byte: none of the program's text or XML
// files ever does, while a power cut on NTFS can leave a file at its full
// size with nothing but zeros in it.
inline bool holdsZeroByte(std::string_view content) {
    return content.find('\0') != std::string_view::npos;
}

// Creates a file that must not exist yet (an existing file or link makes it
// fail), readable and writable by its owner only, and writes the content.
// False on any failure; a partly written file is removed.
bool writeNewPrivate(const std::filesystem::path& path, std::string_view content);

// Removes from the folder (not its subfolders) the temporary files that a
// process killed inside `writeAtomically` (or an `AtomicFile`) left behind:
// they hold part of a file and were never renamed into place. Only for
// folders whose writers are all stopped (the caller holds their lock). Gives
// how many were removed.
int removeInterruptedWrites(const std::filesystem::path& folder);

// True when the name is one `writeAtomically` and `AtomicFile` give their
// temporary files.
bool isInterruptedWriteName(std::string_view name);

namespace detail {
// What a replacement writes: the path as given (for messages), the file it
// replaces (a symbolic link's target, else the path itself), and whether the
// content is forced to the disk.
struct Target {
    std::filesystem::path requested;
    std::filesystem::path path;
    bool durable = false;
};
Target targetOf(const std::filesystem::path& path, Replace how, std::error_code& ec);
}  // namespace detail

}  // namespace kvt::files
