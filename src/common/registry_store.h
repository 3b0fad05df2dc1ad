#pragma once
// Where the POSIX registry store lives, for its one writer (lkconfig) and for
// tools that prepare a registry file.
#include <filesystem>

namespace kvt::registry {

std::filesystem::path storePath();

}  // namespace kvt::registry
