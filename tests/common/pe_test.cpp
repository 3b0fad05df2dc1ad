#include "common/pe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace kvt::pe {
namespace {

// `size` bytes: "MZ", the header offset at 0x3C, "PE\0\0" and the machine there.
std::string image(std::uint32_t offset, std::uint16_t field, std::size_t size) {
    std::string bytes = "MZ" + std::string(0x3A, '\0');
    for (int i = 0; i < 32; i += 8) {
        bytes += static_cast<char>(offset >> i);
    }
    bytes.resize(std::max<std::size_t>(bytes.size(), std::min<std::size_t>(offset, size)));
    bytes += std::string("PE\0\0", 4) + static_cast<char>(field) + static_cast<char>(field >> 8);
    return (bytes + std::string(size, '\0')).substr(0, size);
}

TEST(PeTest, MachineAndBitsOfTheHeaderOrNothing) {
    const struct {
        std::string bytes;
        std::optional<std::uint16_t> machine;
    } cases[] = {
        {image(0x80, kI386, 0x200), kI386},
        {image(0x80, kAmd64, 0x86), kAmd64},              // ends with the field
        {std::string(0x200, 'x'), std::nullopt},          // not a PE
        {image(0x80, kAmd64, 0x85), std::nullopt},        // cut short
        {image(0x1000, kI386, 0x200), std::nullopt},      // offset past the end
        {image(0xFFFFFFFE, kI386, 0x200), std::nullopt},  // wrapping around
    };
    for (const auto& c : cases) {
        EXPECT_EQ(machine(c.bytes), c.machine) << &c - cases;
    }
    EXPECT_EQ(bits(kI386), 32);
    EXPECT_EQ(bits(kAmd64), 64);
    EXPECT_EQ(bits(0x0166), 0);  // MIPS
}

}  // namespace
}  // namespace kvt::pe
