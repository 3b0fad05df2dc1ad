#pragma once
// What every client test of PSHLib shares, the Windows smoke program included:
// the types of the three exports and the pseudonyms expected on every
// platform (pseudonym_vectors.inc).
#include <string>
#include <string_view>

#include "pshlib/pshlib.h"

namespace kvt::test {

using PSHCalcFunction = const char*(PSH_CALL*)(const char*);
using PSHVersionFunction = const char*(PSH_CALL*)(void);
using PSHAboutFunction = void(PSH_CALL*)(void);

struct PseudonymVector {
    const char* codeHex;
    const char* pseudonym;
};

inline constexpr PseudonymVector kPseudonymVectors[] = {
#include "pshlib/pseudonym_vectors.inc"
};

// The bytes written as pairs of hexadecimal digits.
inline std::string bytesOfHex(std::string_view hex) {
    const auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
    }
    return bytes;
}

}  // namespace kvt::test
