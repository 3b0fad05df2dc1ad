#include "common/paths.h"

#include "common/utf.h"

namespace kvt::paths {

#ifdef _WIN32

std::filesystem::path fromUtf8(std::string_view text) {
    const std::u16string wide = utf8ToUtf16(text);
    return std::filesystem::path(std::wstring(wide.begin(), wide.end()));
}

std::string toUtf8(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    return utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

#else

std::filesystem::path fromUtf8(std::string_view text) {
    return std::filesystem::path(std::string(text));
}

std::string toUtf8(const std::filesystem::path& path) {
    return path.native();
}

#endif

}  // namespace kvt::paths
