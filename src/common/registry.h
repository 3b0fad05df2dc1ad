#pragma once
// Registry seam: the program reads values by root, key path and name. On POSIX
// the store is one registry-export file (see reg_file.h); on Windows it is the
// registry itself.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvt::registry {

enum class Root { CurrentUser, LocalMachine, ClassesRoot, Users, CurrentConfig };

enum class ValueType { String, ExpandString, Dword, Qword, Binary, MultiString, Other };

struct Value {
    ValueType type = ValueType::String;
    // String and ExpandString: the text (UTF-8); MultiString: the texts joined by '\0'.
    std::string text;
    // Dword and Qword.
    std::uint64_t number = 0;
    // Binary and Other: the raw bytes; otherType is the type number of an Other value.
    std::vector<std::uint8_t> bytes;
    int otherType = 0;

    static Value string(std::string text) { return {ValueType::String, std::move(text), 0, {}, 0}; }
    static Value dword(std::uint32_t number) { return {ValueType::Dword, {}, number, {}, 0}; }
};

// The value, or nothing when the key or the value does not exist. A key path
// may start with a backslash ("\SOFTWARE\..."); names compare without case.
std::optional<Value> readValue(Root root, std::string_view keyPath, std::string_view name);
bool keyExists(Root root, std::string_view keyPath);

// The canonical name of a root as a registry export writes it.
std::string_view rootName(Root root);
// "HKEY_CURRENT_USER" + "\" + the key path without its leading backslash.
std::string fullKeyName(Root root, std::string_view keyPath);

}  // namespace kvt::registry
