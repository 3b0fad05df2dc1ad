// The unattended front end's Windows platform: the password file's bytes
// and its access list, against the system's own services.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/win32.h"
#include "ui/headless/piattaforma.h"

namespace kvt::headless {
namespace {

TEST(PiattaformaWinTest, PasswordBytesAreUtf8OrElseTheAnsiCodePage) {
    EXPECT_EQ(testoDaiByte(""), "");
    EXPECT_EQ(testoDaiByte("segreto"), "segreto");
    EXPECT_EQ(testoDaiByte("perch\xc3\xa9"), "perch\xc3\xa9");
    if (::GetACP() != 1252) {
        GTEST_SKIP() << "code page " << ::GetACP() << ", not Windows-1252";
    }
    // What Notepad saves as "ANSI" on an Italian workstation.
    EXPECT_EQ(testoDaiByte("perch\xe9 \x80"), "perch\xc3\xa9 \xe2\x82\xac");
}

// A password file created with the given access list (SDDL entries after
// the one that grants the user of the process everything), as an operator's
// tool would leave it.
class AccessListTest : public ::testing::Test {
  protected:
    void TearDown() override { ::DeleteFileW(file_.c_str()); }

    std::string file(const std::wstring& others) {
        HANDLE token = nullptr;
        ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
        win32::Handle close(token);
        alignas(TOKEN_USER) unsigned char user[256];
        DWORD size = 0;
        wchar_t* sid = nullptr;
        EXPECT_TRUE(::GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
                    ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid));
        const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid ? sid : L"") + L")" + others;
        ::LocalFree(sid);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        ::DeleteFileW(file_.c_str());
        EXPECT_TRUE(win32::Handle(::CreateFileW(file_.c_str(), GENERIC_WRITE, 0, &attributes,
                                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr))
                        .valid());
        ::LocalFree(descriptor);
        return win32::narrow(file_.wstring());
    }

    std::filesystem::path file_ = std::filesystem::temp_directory_path() /
                                  (L"kvt_password_" + std::to_wstring(::GetCurrentProcessId()));
};

TEST_F(AccessListTest, OnlyTheOwnerTheSystemAndTheAdministratorsAreNotOthers) {
    EXPECT_FALSE(leggibileDaAltri(file(L"(A;;FA;;;SY)(A;;FA;;;BA)")));
    EXPECT_TRUE(leggibileDaAltri(file(L"(A;;FA;;;SY)(A;;FR;;;WD)")));
    EXPECT_FALSE(leggibileDaAltri(file(L"")));
    // No file, nothing to warn about: reading it fails on its own.
    EXPECT_FALSE(leggibileDaAltri(win32::narrow(file_.wstring()) + ".manca"));
}

}  // namespace
}  // namespace kvt::headless
