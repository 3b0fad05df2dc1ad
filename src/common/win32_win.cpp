#include "common/win32.h"

#include <sddl.h>

#include <vector>

namespace kvt::win32 {

std::string errorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length ? std::wstring(buffer, length) : std::wstring();
    if (buffer) {
        ::LocalFree(buffer);
    }
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                             text.back() == L'.')) {
        text.pop_back();
    }
    if (text.empty()) {
        return "errore " + std::to_string(code);
    }
    return narrow(text);
}

PSID processUser(std::vector<unsigned char>& space) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return nullptr;
    }
    const Handle closing(token);
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    space.assign(size ? size : 1, 0);
    if (!::GetTokenInformation(token, TokenUser, space.data(), size, &size)) {
        return nullptr;
    }
    return reinterpret_cast<TOKEN_USER*>(space.data())->User.Sid;
}

namespace {

// The string form of the process user's SID ("S-1-5-21-..."), or empty.
std::wstring userSid() {
    std::vector<unsigned char> space;
    const PSID sid = processUser(space);
    wchar_t* text = nullptr;
    if (!sid || !::ConvertSidToStringSidW(sid, &text)) {
        return {};
    }
    std::wstring result = text;
    ::LocalFree(text);
    return result;
}

class PrivateSecurity {
  public:
    PrivateSecurity();
    ~PrivateSecurity();
    PrivateSecurity(const PrivateSecurity&) = delete;
    PrivateSecurity& operator=(const PrivateSecurity&) = delete;

    SECURITY_ATTRIBUTES* attributes() { return descriptor_ ? &attributes_ : nullptr; }

  private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
};

PrivateSecurity::PrivateSecurity() {
    const std::wstring sid = userSid();
    if (sid.empty()) {
        return;
    }
    // Protected (P): nothing is inherited from the folder above. Folders pass
    // the same entries on to what is created inside them (OICI). SYSTEM keeps
    // the access the system's own services (backup, indexing) need, as root
    // keeps it on POSIX; an administrator can still take the file over.
    const std::wstring sddl = L"D:P(A;OICI;FA;;;" + sid + L")(A;OICI;FA;;;SY)";
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                &descriptor_, nullptr)) {
        descriptor_ = nullptr;
        return;
    }
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = descriptor_;
    attributes_.bInheritHandle = FALSE;
}

PrivateSecurity::~PrivateSecurity() {
    if (descriptor_) {
        ::LocalFree(descriptor_);
    }
}

}  // namespace

SECURITY_ATTRIBUTES* privateSecurity() {
    static PrivateSecurity security;
    return security.attributes();
}

bool Handle::close() {
    if (!valid()) {
        return true;
    }
    const bool ok = ::CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return ok;
}

}  // namespace kvt::win32
