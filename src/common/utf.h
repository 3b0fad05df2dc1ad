#pragma once
// UTF-8 (the program's texts) to and from UTF-16 and Windows-1252, for the
// few places where the host's wide texts or the workstation's code page matter.
#include <optional>
#include <string>
#include <string_view>

namespace kvt {

// Bytes that are not valid UTF-8 are taken one by one as Latin-1 characters.
std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);
// The Windows-1252 bytes of a UTF-8 text, or nothing when a character has no
// place in that code page (or the text is not valid UTF-8).
std::optional<std::string> utf8ToWindows1252(std::string_view text);
std::string windows1252ToUtf8(std::string_view bytes);

}  // namespace kvt
