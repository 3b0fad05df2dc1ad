#pragma once
// An initialisation (INI) file with the semantics of the Windows profile
// functions: "[section]" lines and "key=value" lines; section and key names
// compared without regard to ASCII case and without their surrounding blanks;
// the first section of a name and the first key of a name in it count. A
// value read loses its surrounding blanks (spaces and TABs) and one pair of
// matching surrounding quotes (" or '); anything inside, a TAB included, is
// kept byte for byte. Lines starting with ";" are comments.
//
// Editing keeps every other line byte for byte, in order, with its own line
// end. A changed key keeps its line and its spelling; a new key goes after the
// last non-blank line of its section; a new section is appended at the end of
// the file, after one empty line. New lines end like the file's first line, or
// in CR LF for a new file. A UTF-8 byte-order mark is kept.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvt {

class IniFile {
  public:
    static IniFile parse(std::string_view content);
    // Nothing when the file cannot be read; a missing file is an empty one
    // only when missingIsEmpty is set.
    static std::optional<IniFile> load(const std::filesystem::path& path, bool missingIsEmpty);

    // A key as the file tells keys apart, as the Windows profile functions
    // do: without the blanks around it and in lower case.
    static std::string comparableKey(std::string_view key);
    // True when a line of the file can hold the key (see set).
    static bool validKey(std::string_view key);

    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    // Raises kvt::Error for what a line of the file cannot hold: a blank name,
    // a line break anywhere, "]" in a section name, "=" in a key, or a key
    // starting with "[" or ";".
    void set(std::string_view section, std::string_view key, std::string_view value);

    std::string serialize() const;
    // Replaces the file atomically (a new file is readable by its owner only);
    // raises kvt::Error on failure.
    void save(const std::filesystem::path& path) const;

  private:
    struct Line {
        std::string text;  // without its line end
        std::string end;   // "\r\n", "\n", "\r" or "" (last line)
    };
    // The index of the section's header line, or npos.
    std::size_t findSection(std::string_view section) const;
    // The index of the key's line within the section starting at header, or npos.
    std::size_t findKey(std::size_t header, std::string_view key) const;
    std::string newLineEnd() const;

    std::vector<Line> lines_;
    bool byteOrderMark_ = false;
};

}  // namespace kvt
