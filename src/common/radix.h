#pragma once
// Conversions between texts and numbers, with the one program-wide record of
// the last conversion error (read and cleared by ultimoErrore).
#include <cstdint>
#include <string>
#include <string_view>

namespace kvt {

// Digits in radix 2..36 to a 32-bit integer that wraps on overflow; 0 and a
// recorded error on any failure. Never raises.
std::int32_t string2int(std::string_view text, std::int32_t radix);
// The last conversion error; afterwards it is empty.
std::string ultimoErrore();
// Two upper-case hexadecimal digits per UTF-16 code unit of the (UTF-8) text;
// a code unit of 256 or more gives only its low digit.
std::string string2hex(std::string_view text);
// A decimal text to an integer; a blank text is 0. Raises ConversionError for
// anything else that is not a 32-bit whole number (a trailing blank included).
std::int32_t str2int(std::string_view text);

}  // namespace kvt
