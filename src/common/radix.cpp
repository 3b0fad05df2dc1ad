#include "common/radix.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "common/errors.h"
#include "common/utf.h"

namespace kvt {
namespace {

// The one record of the last conversion error, shared by every caller.
std::string erroreConversione;

constexpr std::string_view kDigits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::string_view kHexDigits = "0123456789ABCDEF";

bool isBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

}  // namespace

std::int32_t string2int(std::string_view text, std::int32_t radix) {
    const std::string description =
        "Tools.string2int(" + std::string(text) + ", " + std::to_string(radix) + ")";
    if (radix < 2 || radix > 36) {
        erroreConversione =
            description + ": radice conversione non consentita ( deve essere >= 2 e <= 36 )";
        return 0;
    }
    if (text.empty()) {
        return 0;
    }
    std::uint32_t sign = 1;
    if (text.front() == '-') {
        sign = static_cast<std::uint32_t>(-1);
        text.remove_prefix(1);
    }
    // Unsigned arithmetic gives the 32-bit wrap-around without undefined behaviour.
    std::uint32_t accumulator = 0;
    for (char c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        const auto value = kDigits.find(c);
        if (value == std::string_view::npos || static_cast<std::int32_t>(value) >= radix) {
            erroreConversione = description + ": carattere non consentito";
            return 0;
        }
        accumulator =
            accumulator * static_cast<std::uint32_t>(radix) + static_cast<std::uint32_t>(value);
    }
    return static_cast<std::int32_t>(accumulator * sign);
}

std::string ultimoErrore() {
    std::string last;
    last.swap(erroreConversione);
    return last;
}

std::string string2hex(std::string_view text) {
    std::string hex;
    for (const char16_t unit : utf8ToUtf16(text)) {
        const unsigned high = unit / 16;
        if (high < kHexDigits.size()) {
            hex += kHexDigits[high];
        }
        hex += kHexDigits[unit % 16];
    }
    return hex;
}

std::int32_t str2int(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isBlankOrControl(text[first])) {
        ++first;
    }
    while (last > first && isBlankOrControl(text[last - 1])) {
        --last;
    }
    if (first == last) {
        return 0;
    }
    // The text as given: leading blanks and a sign are accepted, anything after
    // the last digit is not.
    const std::string given(text);
    std::size_t pos = 0;
    while (pos < given.size() && given[pos] == ' ') {
        ++pos;
    }
    if (pos < given.size() && (given[pos] == '+' || given[pos] == '-')) {
        ++pos;
    }
    const std::size_t digitsStart = pos;
    while (pos < given.size() && given[pos] >= '0' && given[pos] <= '9') {
        ++pos;
    }
    if (pos == digitsStart || pos != given.size()) {
        throw ConversionError("'" + given + "' is not a valid integer value");
    }
    errno = 0;
    const long long value = std::strtoll(given.c_str(), nullptr, 10);
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) {
        throw ConversionError("'" + given + "' is not a valid integer value");
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace kvt
