#pragma once
// The library's version record: written into the library file by the build,
// read back from the file at run time, so that a library whose record was
// stripped or damaged says so ("1.00") instead of claiming a version.
#include <cstdint>
#include <optional>
#include <string>

namespace kvt::psh {

// The fixed part of the version record. Each version is two 32-bit words:
// major << 16 | minor, then release << 16 | build.
struct FixedVersion {
    std::uint32_t fileVersionMS = 0;
    std::uint32_t fileVersionLS = 0;
    std::uint32_t productVersionMS = 0;
    std::uint32_t productVersionLS = 0;
};

// The text when the version record cannot be read.
inline constexpr const char* kUnknownVersion = "1.00";

// "major.minor.release.build" of the product version, in decimal.
std::string productVersionText(const FixedVersion& version);

// The file this library was loaded from; empty when it cannot be told.
std::string libraryPath();

// The fixed part of the version record of the library file at path; nothing
// when the file, the record or its fixed part cannot be read.
std::optional<FixedVersion> readFixedVersion(const std::string& path);

// The product version text of this library, or kUnknownVersion.
std::string versionText();

}  // namespace kvt::psh
