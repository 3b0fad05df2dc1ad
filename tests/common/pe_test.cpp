#include "common/pe.h"

#include <gtest/gtest.h>

#include <string>

namespace kvt::pe {
namespace {

// "MZ", the header offset at 0x3C, "PE\0\0" there and the machine after it.
std::string image(std::uint32_t offset, std::uint16_t machineField, std::size_t size) {
    std::string bytes(size, '\0');
    bytes.replace(0, 2, "MZ");
    for (int i = 0; i < 4; ++i) {
        bytes[0x3C + i] = static_cast<char>(offset >> (8 * i));
    }
    const std::string header = std::string("PE\0\0", 4) + static_cast<char>(machineField & 0xFF) +
                               static_cast<char>(machineField >> 8);
    for (std::size_t i = 0; i < header.size() && offset + i < size; ++i) {
        bytes[offset + i] = header[i];
    }
    return bytes;
}

TEST(PeTest, MachineAndBitsOfTheHeaderOrNothing) {
    const struct {
        const char* what;
        std::string bytes;
        std::optional<std::uint16_t> machine;
        int bits;
    } cases[] = {
        {"i386", image(0x80, kI386, 0x200), kI386, 32},
        {"amd64", image(0x80, kAmd64, 0x200), kAmd64, 64},
        {"arm64, header right at the end", image(0x80, kArm64, 0x86), kArm64, 64},
        {"not a PE", std::string(0x200, 'x'), std::nullopt, 0},
        {"no PE signature", image(0x80, kI386, 0x200).replace(0x80, 2, "NE"), std::nullopt, 0},
        {"cut in the machine field", image(0x80, kAmd64, 0x85), std::nullopt, 0},
        {"cut before the offset", image(0x80, kAmd64, 0x200).substr(0, 0x3E), std::nullopt, 0},
        {"offset past the end", image(0x1000, kI386, 0x200), std::nullopt, 0},
        {"offset wrapping around", image(0xFFFFFFFE, kI386, 0x200), std::nullopt, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(machine(c.bytes), c.machine) << c.what;
        EXPECT_EQ(c.machine ? bits(*c.machine) : 0, c.bits) << c.what;
    }
    EXPECT_EQ(bits(0x0166), 0);  // MIPS: none of Windows' own today
}

}  // namespace
}  // namespace kvt::pe
