// The platform-independent half of the version record.
#include "pshlib/version_info.h"

namespace kvt::psh {

std::string productVersionText(const FixedVersion& version) {
    return std::to_string(version.productVersionMS >> 16) + "." +
           std::to_string(version.productVersionMS & 0xFFFF) + "." +
           std::to_string(version.productVersionLS >> 16) + "." +
           std::to_string(version.productVersionLS & 0xFFFF);
}

std::string versionText() {
    const std::string path = libraryPath();
    if (path.empty()) {
        return kUnknownVersion;
    }
    const std::optional<FixedVersion> version = readFixedVersion(path);
    return version ? productVersionText(*version) : kUnknownVersion;
}

}  // namespace kvt::psh
