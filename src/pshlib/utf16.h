#pragma once
// The library's texts are UTF-8 inside; the Windows functions it calls take
// and give UTF-16. Windows only.
#include <string>
#include <string_view>

namespace kvt::psh {

std::wstring utf16(std::string_view utf8);
std::string utf8(std::wstring_view utf16);

}  // namespace kvt::psh
