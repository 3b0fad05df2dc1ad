#include <windows.h>
// after windows.h
#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "test_support.h"

namespace kvt::test {
namespace {

bool sameSid(PSID sid, const wchar_t* text) {
    PSID other = nullptr;
    if (!::ConvertStringSidToSidW(text, &other)) {
        return false;
    }
    const bool same = ::EqualSid(sid, other) != 0;
    ::LocalFree(other);
    return same;
}

bool isProcessUser(PSID sid) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    const bool same = ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
                      ::EqualSid(sid, reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
    ::CloseHandle(token);
    return same;
}

}  // namespace

bool ownerOnly(const std::filesystem::path& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    bool ownerAllowed = false;
    bool othersAllowed = dacl == nullptr;  // no list at all: everyone may
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!::GetAce(dacl, i, &entry)) {
            othersAllowed = true;
            break;
        }
        const auto* header = static_cast<ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            continue;
        }
        PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart;
        if (isProcessUser(sid)) {
            ownerAllowed = true;
        } else if (!sameSid(sid, L"S-1-5-18")) {
            othersAllowed = true;
        }
    }
    ::LocalFree(descriptor);
    return ownerAllowed && !othersAllowed;
}

}  // namespace kvt::test
