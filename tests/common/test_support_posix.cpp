#include <sys/stat.h>

#include "test_support.h"

namespace kvt::test {

bool ownerOnly(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & 0777) == 0600;
}

}  // namespace kvt::test
