#pragma once
// The text format of a registry export ("REGEDIT4" or "Windows Registry Editor
// Version 5.00"), which the POSIX registry store keeps in one file, so that an
// office's settings exported on Windows can be dropped in as they are.
#include <filesystem>
#include <list>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>

#include "common/registry.h"

namespace kvt::registry {

class RegFile {
  public:
    struct Entry {
        std::string name;  // empty for the key's default value ("@")
        Value value;
    };
    struct Key {
        std::string name;          // full name, "HKEY_LOCAL_MACHINE\SOFTWARE\..."
        std::list<Entry> entries;  // in the order they were first set
    };

    RegFile() = default;
    // A copy has its own index into its own keys.
    RegFile(const RegFile& other);
    RegFile& operator=(const RegFile& other);
    RegFile(RegFile&&) = default;
    RegFile& operator=(RegFile&&) = default;

    // Malformed lines are skipped; a UTF-16 export (with its byte-order mark)
    // and a Windows-1252 one are both read. Linear in the size of the text.
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
    // In the order they were first named.
    const std::list<Key>& keys() const { return keys_; }

  private:
    struct Reader;
    // A key and its values by lower-cased name: names compare without case,
    // while the names as written stay in keys_ for serialize().
    struct Slot {
        std::list<Key>::iterator key;
        std::unordered_map<std::string, std::list<Entry>::iterator> entries;
    };

    const Slot* findSlot(std::string_view fullName) const;
    Slot& slotFor(std::string_view canonicalName);
    static void setIn(Slot& slot, std::string_view valueName, Value value);
    static bool removeFrom(Slot& slot, std::string_view valueName);
    void removeKeyTree(std::string_view canonicalName);
    void rebuildIndex();

    std::list<Key> keys_;
    // By lower-cased full name; ordered, so that a key's subkeys are one range.
    std::map<std::string, Slot, std::less<>> index_;
};

// Accepts the long root names and their abbreviations (HKCU, HKLM, ...) and
// gives the key name with the long root name; empty when the root is unknown.
std::string canonicalKeyName(std::string_view name);

}  // namespace kvt::registry
