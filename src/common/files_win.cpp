// File helpers on Windows: the wide Win32 file API; a temporary file created
// exclusively beside the target, flushed, then MoveFileExW over it, retried
// while another program holds one of the two files. What the program
// creates gets an access list of its owner's (see win32::privateSecurity).
#include <algorithm>
#include <atomic>
#include <cstdint>

#include "common/errors.h"
#include "common/files.h"
#include "common/paths.h"
#include "common/win32.h"

namespace kvt::files {
namespace {

// WriteFile takes at most a DWORD at a time; a gigabyte keeps well below.
constexpr std::size_t kLargestWrite = std::size_t{1} << 30;

bool writeAllTo(HANDLE file, std::string_view content) {
    while (!content.empty()) {
        DWORD written = 0;
        const auto piece = static_cast<DWORD>(std::min(content.size(), kLargestWrite));
        if (!::WriteFile(file, content.data(), piece, &written, nullptr) || written == 0) {
            return false;
        }
        content.remove_prefix(written);
    }
    return true;
}

[[noreturn]] void fail(const std::filesystem::path& path, DWORD error) {
    throw Error("Impossibile scrivere il file " + paths::toUtf8(path) + ": " +
                win32::errorText(error));
}

// Six letters and digits, different at every call of the process and, with
// the process id and the performance counter, between processes.
std::wstring randomSuffix() {
    static std::atomic<std::uint64_t> counter{0};
    LARGE_INTEGER ticks{};
    ::QueryPerformanceCounter(&ticks);
    std::uint64_t x = static_cast<std::uint64_t>(ticks.QuadPart) ^
                      (std::uint64_t{::GetCurrentProcessId()} << 40) ^
                      (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    // splitmix64: neighbouring inputs give unrelated names.
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    constexpr wchar_t kAlphabet[] =
        L"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::wstring suffix;
    for (int i = 0; i < 6; ++i) {
        suffix += kAlphabet[x % 62];
        x /= 62;
    }
    return suffix;
}

// The errors of a rename while a virus scanner, an indexer or a backup has
// one of the two files open without delete sharing: gone once it lets go.
bool isPassingHold(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_LOCK_VIOLATION;
}

// Access denied also answers for what no waiting mends: a folder or a
// read-only file where the file should go. Not retried, so that a run does
// not wait seconds for each patient on it.
bool neverPasses(DWORD error, const std::filesystem::path& to) {
    const DWORD attributes = ::GetFileAttributesW(to.c_str());
    return error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0;
}

// MoveFileExW, written through, with the hold's retries; the last error.
DWORD moveRetrying(const std::filesystem::path& from, const std::filesystem::path& to) {
    DWORD wait = static_cast<DWORD>(kHoldRetry.firstMs);
    DWORD waited = 0;
    for (;;) {
        if (::MoveFileExW(from.c_str(), to.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return ERROR_SUCCESS;
        }
        const DWORD error = ::GetLastError();
        if (!isPassingHold(error) || neverPasses(error, to) ||
            waited >= static_cast<DWORD>(kHoldRetry.totalMs)) {
            return error;
        }
        ::Sleep(wait);
        waited += wait;
        wait = std::min(wait * 2, static_cast<DWORD>(kHoldRetry.longestMs));
    }
}

}  // namespace

std::error_code moveReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    const DWORD error = moveRetrying(from, to);
    return error == ERROR_SUCCESS
               ? std::error_code()
               : std::error_code(static_cast<int>(error), std::system_category());
}

std::optional<std::string> readAll(const std::filesystem::path& path) {
    // Others may read, write, rename or remove the file meanwhile, as on
    // POSIX: an atomic replacement of it never waits on a reader.
    win32::Handle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) {
        return std::nullopt;  // missing, no access, or a folder
    }
    std::string content;
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) {
        content.reserve(static_cast<std::size_t>(size.QuadPart));
    }
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        content.append(buffer, got);
    }
    return content;
}

struct AtomicFile::State {
    detail::Target target;
    std::filesystem::path temporary;
    win32::Handle file;
    bool open = false;

    // Closes and removes the temporary file, then raises.
    [[noreturn]] void discard(DWORD error) {
        file.close();
        open = false;
        ::DeleteFileW(temporary.c_str());
        fail(target.requested, error);
    }
};

AtomicFile::AtomicFile(const std::filesystem::path& requested, Replace how)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    std::error_code ec;
    s.target = detail::targetOf(requested, how, ec);
    if (ec) {
        fail(requested, static_cast<DWORD>(ec.value()));
    }
    const std::filesystem::path folder =
        s.target.path.has_parent_path() ? s.target.path.parent_path() : ".";
    for (int attempt = 0;; ++attempt) {
        s.temporary = folder / (L"." + s.target.path.filename().native() + L"." + randomSuffix());
        s.file.reset(::CreateFileW(s.temporary.c_str(), GENERIC_WRITE, 0, win32::privateSecurity(),
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (s.file.valid()) {
            break;
        }
        const DWORD error = ::GetLastError();
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt >= 100) {
            fail(requested, error);
        }
    }
    s.open = true;
}

AtomicFile::~AtomicFile() {
    if (state_->open) {
        state_->file.close();
        ::DeleteFileW(state_->temporary.c_str());
    }
}

void AtomicFile::write(std::string_view content) {
    State& s = *state_;
    if (!s.open) {
        fail(s.target.requested, ERROR_INVALID_HANDLE);
    }
    if (!writeAllTo(s.file.get(), content)) {
        s.discard(::GetLastError());
    }
}

void AtomicFile::commit() {
    State& s = *state_;
    if (!s.open) {
        fail(s.target.requested, ERROR_INVALID_HANDLE);
    }
    // The content is flushed before the rename: NTFS journals the rename but
    // not the data, so that after a power cut the new name can stand at full
    // size with nothing but zeros in it, the old content gone. The rename
    // itself is written through. Every file written here is private already
    // (see the constructor).
    s.open = false;
    DWORD error = ERROR_SUCCESS;
    if (!::FlushFileBuffers(s.file.get())) {
        error = ::GetLastError();
    }
    if (!s.file.close() && error == ERROR_SUCCESS) {
        error = ::GetLastError();
    }
    if (error == ERROR_SUCCESS) {
        error = moveRetrying(s.temporary, s.target.path);
    }
    if (error != ERROR_SUCCESS) {
        ::DeleteFileW(s.temporary.c_str());
        fail(s.target.requested, error);
    }
}

bool writeNewPrivate(const std::filesystem::path& path, std::string_view content) {
    // CREATE_NEW fails for any existing name, a link included.
    win32::Handle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, win32::privateSecurity(),
                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return false;
    }
    const bool ok = writeAllTo(file.get(), content);
    if (!file.close() || !ok) {
        ::DeleteFileW(path.c_str());
        return false;
    }
    return true;
}

}  // namespace kvt::files
