#pragma once
// Paths as the program's texts (UTF-8) and as the file system names them.
// Every conversion between the two goes through here: on Windows the
// standard library would read a narrow text in the ANSI code page, not as
// UTF-8, and turn a folder or a name with accents into another one.
#include <filesystem>
#include <string>
#include <string_view>

namespace kvt::paths {

#ifdef _WIN32
// What the program writes between folders, and the file name of the
// pseudonym library that must lie beside the program.
inline constexpr char kSeparator[] = "\\";
inline constexpr char kPshLibFile[] = "PSHLib.dll";
#else
inline constexpr char kSeparator[] = "/";
inline constexpr char kPshLibFile[] = "PSHLib.so";
#endif

// The path that a UTF-8 text names (bytes that are not UTF-8 are taken one
// by one as Latin-1 characters on Windows, as they are elsewhere).
std::filesystem::path fromUtf8(std::string_view text);
// The path as a UTF-8 text.
std::string toUtf8(const std::filesystem::path& path);

// True for the separators the platform accepts ("/" everywhere, "\" too on
// Windows).
constexpr bool isSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

}  // namespace kvt::paths
