// Workstation seam on Windows: the user's locale (GetLocaleInfoEx, which
// follows what the user chose under Control Panel\International) and the
// ANSI code page (GetACP).
#include "common/win32.h"
#include "common/workstation.h"

namespace kvt::workstation {
namespace {

std::optional<std::string> localeText(LCTYPE item) {
    wchar_t buffer[128];
    const int length = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, item, buffer, 128);
    if (length <= 1) {
        return std::nullopt;
    }
    return win32::narrow(std::wstring_view(buffer, static_cast<std::size_t>(length - 1)));
}

// The UTF-16 form of one character of the text at `pos`, moving past it.
std::wstring nextCharacter(const std::wstring& text, std::size_t& pos) {
    const std::size_t length =
        (text[pos] >= 0xD800 && text[pos] <= 0xDBFF && pos + 1 < text.size()) ? 2 : 1;
    std::wstring character = text.substr(pos, length);
    pos += length;
    return character;
}

// The wide text in the ANSI code page; nothing when a character has no
// exact place in it.
std::optional<std::string> encode(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    const UINT page = ::GetACP();
    // UTF-8 (a system set to it) holds every character, and takes no flags.
    const DWORD flags = page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* const lossy = page == CP_UTF8 ? nullptr : &usedDefault;
    const int size = ::WideCharToMultiByte(page, flags, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, lossy);
    if (size <= 0 || usedDefault) {
        return std::nullopt;
    }
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(page, flags, text.data(), static_cast<int>(text.size()), out.data(), size,
                          nullptr, lossy);
    if (usedDefault) {
        return std::nullopt;
    }
    return out;
}

}  // namespace

LocaleFormats localeFormats() {
    LocaleFormats out;
    out.decimalSeparator = localeText(LOCALE_SDECIMAL);
    out.shortDate = localeText(LOCALE_SSHORTDATE);
    out.longTime = localeText(LOCALE_STIMEFORMAT);
    out.listSeparator = localeText(LOCALE_SLIST);
    return out;
}

unsigned codePage() {
    return ::GetACP();
}

std::optional<std::string> toCodePage(std::string_view text) {
    return encode(win32::wide(text));
}

std::string toCodePageReplacing(std::string_view text) {
    const std::wstring wide = win32::wide(text);
    if (auto whole = encode(wide)) {
        return std::move(*whole);
    }
    std::string out;
    for (std::size_t pos = 0; pos < wide.size();) {
        out += encode(nextCharacter(wide, pos)).value_or("?");
    }
    return out;
}

std::string fromCodePage(std::string_view bytes) {
    if (bytes.empty()) {
        return {};
    }
    const UINT page = ::GetACP();
    const int size =
        ::MultiByteToWideChar(page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (size <= 0) {
        return std::string(bytes);
    }
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(page, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), size);
    return win32::narrow(wide);
}

}  // namespace kvt::workstation
