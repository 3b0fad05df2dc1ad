#pragma once
// What the Windows parts of the seams share: wide names for the program's
// UTF-8 texts, the system's error texts, and the security that keeps the
// working files to their owner. Included only by *_win.cpp files.
#include <windows.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf.h"

namespace kvt::win32 {

// wchar_t is UTF-16 on Windows.
inline std::wstring wide(std::string_view utf8) {
    const std::u16string text = utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}
inline std::string narrow(std::wstring_view text) {
    return utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

// The SID of the user the process runs as, held in `space`; null when it
// cannot be told.
PSID processUser(std::vector<unsigned char>& space);

// The system's text for an error code (GetLastError), without its line end.
std::string errorText(DWORD code);

// The security that keeps what the program creates to the user of the
// process and SYSTEM: an access list protected from inheritance, what POSIX
// gives with modes 0600/0700 (Wine keeps the list, and gives the Unix file
// mode 0750: it counts the user for the owner and the group). Made once (the
// user does not change, and files are created at every log line); null when
// it could not be made, and the system's default security applies.
SECURITY_ATTRIBUTES* privateSecurity();

// An open handle closed when it goes out of scope.
class Handle {
  public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }
    // Closes now; false when CloseHandle failed.
    bool close();
    // Closes what it held and takes the new handle.
    void reset(HANDLE handle) {
        close();
        handle_ = handle;
    }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace kvt::win32
