#pragma once
// The machine type of a Windows executable or library, read from the bytes
// of its headers: what tells a 32-bit library from a 64-bit one before a
// program tries (and fails) to load it.
#include <cstdint>
#include <optional>
#include <string_view>

namespace kvt::pe {

constexpr std::uint16_t kI386 = 0x014C;
constexpr std::uint16_t kAmd64 = 0x8664;
constexpr std::uint16_t kArm64 = 0xAA64;

// How many bytes from the start of a file machine() needs at most.
constexpr std::size_t kHeaderBytes = 64 * 1024;

// The Machine field of the file header: the bytes start with "MZ", the
// 32-bit offset at 0x3C points inside them to "PE\0\0", and the two bytes
// after it are the field. Nothing for anything else (not a Windows image,
// or cut short).
std::optional<std::uint16_t> machine(std::string_view bytes);

// 32 or 64 for the machines of Windows; 0 for any other.
int bits(std::uint16_t machine);

}  // namespace kvt::pe
