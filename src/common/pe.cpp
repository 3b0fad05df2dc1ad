#include "common/pe.h"

namespace kvt::pe {
namespace {

std::uint32_t littleEndian(std::string_view bytes, std::size_t at, std::size_t size) {
    std::uint32_t number = 0;
    for (std::size_t i = size; i > 0; --i) {
        number = (number << 8) | static_cast<unsigned char>(bytes[at + i - 1]);
    }
    return number;
}

}  // namespace

std::optional<std::uint16_t> machine(std::string_view bytes) {
    constexpr std::size_t kOffsetField = 0x3C;
    if (bytes.size() < kOffsetField + 4 || bytes.substr(0, 2) != "MZ") {
        return std::nullopt;
    }
    const std::uint32_t header = littleEndian(bytes, kOffsetField, 4);
    // Compared by subtraction: an offset near 4 GiB must not wrap around.
    if (header > bytes.size() || bytes.size() - header < 6 ||
        bytes.substr(header, 4) != std::string_view("PE\0\0", 4)) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(littleEndian(bytes, header + 4, 2));
}

int bits(std::uint16_t machine) {
    switch (machine) {
        case kI386:
        case 0x01C4:  // ARM Thumb-2
            return 32;
        case kAmd64:
        case kArm64:
        case 0x0200:  // Itanium
            return 64;
        default:
            return 0;
    }
}

}  // namespace kvt::pe
