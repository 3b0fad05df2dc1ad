// The parts of the file helpers that are the same on every platform: the
// names of the temporary files and their clean-up.
#include "common/files.h"

#include "common/paths.h"

namespace kvt::files {

void writeAtomically(const std::filesystem::path& path, std::string_view content, Replace how) {
    AtomicFile file(path, how);
    file.write(content);
    file.commit();
}

detail::Target detail::targetOf(const std::filesystem::path& path, Replace how,
                                std::error_code& ec) {
    Target target{path, path, how == Replace::PrivateDurable};
    if (std::filesystem::is_symlink(path, ec)) {
        target.path = std::filesystem::weakly_canonical(path, ec);
    } else {
        ec.clear();  // a path that does not exist yet is replaced as it is
    }
    return target;
}

bool isInterruptedWriteName(std::string_view name) {
    // "." + the target's name + "." + six letters or digits chosen at random.
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
            std::error_code removal;
            if (entry.is_regular_file(kind) &&
                isInterruptedWriteName(paths::toUtf8(entry.path().filename())) &&
                std::filesystem::remove(entry.path(), removal)) {
                ++removed;
            }
        }
    } catch (const std::filesystem::filesystem_error&) {
        // A folder that cannot be read to the end keeps what was not reached.
    }
    return removed;
}

}  // namespace kvt::files
