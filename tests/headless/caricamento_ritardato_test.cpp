// The delay-load failure hook of vd_kvt.exe: a library that cannot be loaded
// never ends the process; its functions answer as no library would.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "connector/lklib.h"  // here from kvt_assente.dll, which does not exist
#include "pshlib/pshlib.h"    // here from kvt_rifiutata.dll, which refuses to start

namespace {

std::wstring besideTheTest(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + name;
}

TEST(CaricamentoRitardatoTest, ALibraryMissingOrRefusingToStartAnswersAsNoLibrary) {
    ASSERT_EQ(::GetFileAttributesW(besideTheTest(L"kvt_assente.dll").c_str()),
              INVALID_FILE_ATTRIBUTES);
    // The pseudonym library is there, and it refuses.
    const std::wstring refusing = besideTheTest(L"kvt_rifiutata.dll");
    ASSERT_NE(::GetFileAttributesW(refusing.c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(::LoadLibraryW(refusing.c_str()), nullptr);

    // Asked twice: once answered, the same answer from then on.
    for (int time = 0; time < 2; ++time) {
        LKConfig();
        EXPECT_EQ(LKConnect("KVT", ""), 14);
        EXPECT_EQ(LKQuery("<vekRichiesta/>", 255, 90), nullptr);
        EXPECT_EQ(LKGetError(), 14);
        EXPECT_EQ(LKDisconnect(), 14);
        EXPECT_EQ(PSHCalc("RSSMRA80A01H501U"), nullptr);
    }
}

}  // namespace
