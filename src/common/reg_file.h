#pragma once
// The text format of a registry export ("REGEDIT4" or "Windows Registry Editor
// Version 5.00"), which the POSIX registry store keeps in one file, so that an
// office's settings exported on Windows can be dropped in as they are.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/registry.h"

namespace kvt::registry {

class RegFile {
  public:
    struct Entry {
        std::string name;  // empty for the key's default value ("@")
        Value value;
    };
    struct Key {
        std::string name;  // full name, "HKEY_LOCAL_MACHINE\SOFTWARE\..."
        std::vector<Entry> entries;
    };

    // Malformed lines are skipped; a UTF-16 export (with its byte-order mark)
    // and a Windows-1252 one are both read.
    static RegFile parse(std::string_view content);
    // A missing or unreadable file is an empty registry.
    static RegFile load(const std::filesystem::path& path);

    std::string serialize() const;
    // Writes a temporary file beside the target and renames it into place;
    // raises kvt::Error on failure.
    void saveAtomically(const std::filesystem::path& path) const;

    const Key* findKey(std::string_view fullName) const;
    const Value* find(std::string_view fullKeyName, std::string_view valueName) const;
    void set(std::string_view fullKeyName, std::string_view valueName, Value value);
    bool remove(std::string_view fullKeyName, std::string_view valueName);
    const std::vector<Key>& keys() const { return keys_; }

  private:
    Key& keyFor(std::string_view fullName);
    void removeKeyTree(std::string_view fullName);

    std::vector<Key> keys_;
};

// Accepts the long root names and their abbreviations (HKCU, HKLM, ...) and
// gives the key name with the long root name; empty when the root is unknown.
std::string canonicalKeyName(std::string_view name);

}  // namespace kvt::registry
