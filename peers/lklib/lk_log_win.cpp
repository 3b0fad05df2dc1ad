#include "common/win32.h"
#include "lklib/lk_log.h"

namespace kvt::lk {

void appendToLogFile(const std::string& path, const std::string& line) {
    // The log is read with the office's other text files: in the ANSI code
    // page, as the program's own log.
    const std::wstring text = win32::wide(line);
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    if (size <= 0) {
        return;
    }
    std::string bytes(std::size_t(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    // Append-only access makes each write land at the end, as O_APPEND does;
    // a new log gets the owner's private access list.
    win32::Handle file(::CreateFileW(win32::wide(path).c_str(), FILE_APPEND_DATA,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     win32::privateSecurity(), OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
    if (!file.valid()) {
        return;
    }
    DWORD written = 0;
    ::WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

}  // namespace kvt::lk
