// The parts of TCryptoAPI that do not depend on the cryptographic service.
#include "pshlib/crypto_api.h"

namespace kvt::psh {

std::string TCryptoAPI::BytesToHex(const std::uint8_t* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace kvt::psh
