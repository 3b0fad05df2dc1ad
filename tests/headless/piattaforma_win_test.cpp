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

// A password file created with the given access list (SDDL, "%U" for the
// user of the process), as an operator's tool would leave it.
class AccessListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        file_ = std::filesystem::path(temp) /
                (L"kvt_password_" + std::to_wstring(::GetCurrentProcessId()) + L".txt");
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove(file_, ignored);
    }

    void create(std::wstring sddl) {
        const std::wstring marker = L"%U";
        for (std::size_t at = sddl.find(marker); at != std::wstring::npos; at = sddl.find(marker)) {
            sddl.replace(at, marker.size(), userSid());
        }
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        ::DeleteFileW(file_.c_str());
        win32::Handle handle(::CreateFileW(file_.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        ::LocalFree(descriptor);
        ASSERT_TRUE(handle.valid());
    }

    std::string file() const { return win32::narrow(file_.wstring()); }

  private:
    static std::wstring userSid() {
        HANDLE token = nullptr;
        ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
        win32::Handle close(token);
        alignas(TOKEN_USER) unsigned char buffer[256];
        DWORD size = 0;
        ::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
        wchar_t* text = nullptr;
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
        std::wstring sid = text ? text : L"";
        ::LocalFree(text);
        return sid;
    }

    std::filesystem::path file_;
};

TEST_F(AccessListTest, OnlyTheOwnerTheSystemAndTheAdministratorsAreNotOthers) {
    create(L"D:P(A;;FA;;;%U)(A;;FA;;;SY)(A;;FA;;;BA)");
    EXPECT_FALSE(leggibileDaAltri(file()));
    create(L"D:P(A;;FA;;;%U)(A;;FA;;;SY)(A;;FR;;;WD)");
    EXPECT_TRUE(leggibileDaAltri(file()));
    create(L"D:P(A;;FA;;;%U)");
    EXPECT_FALSE(leggibileDaAltri(file()));
    // No file, nothing to warn about: reading it fails on its own.
    EXPECT_FALSE(leggibileDaAltri(file() + ".manca"));
}

}  // namespace
}  // namespace kvt::headless
