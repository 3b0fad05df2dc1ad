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

TEST(CaricamentoRitardatoTest, AMissingConnectorIsNeverConnected) {
    ASSERT_EQ(::GetFileAttributesW(besideTheTest(L"kvt_assente.dll").c_str()),
              INVALID_FILE_ATTRIBUTES);
    LKConfig();
    EXPECT_EQ(LKConnect("KVT", ""), 14);
    EXPECT_EQ(LKQuery("<vekRichiesta/>", 255, 90), nullptr);
    EXPECT_EQ(LKGetError(), 14);
    EXPECT_EQ(LKDisconnect(), 14);
    // Once answered, the same answer from then on.
    EXPECT_EQ(LKConnect("KVT", ""), 14);
}

TEST(CaricamentoRitardatoTest, APseudonymLibraryThatRefusesToStartGivesNoPseudonym) {
    // It is there, and it refuses.
    const std::wstring library = besideTheTest(L"kvt_rifiutata.dll");
    ASSERT_NE(::GetFileAttributesW(library.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(::LoadLibraryW(library.c_str()), nullptr);

    EXPECT_EQ(PSHCalc("RSSMRA80A01H501U"), nullptr);
    EXPECT_EQ(PSHCalc("RSSMRA80A01H501U"), nullptr);
}

}  // namespace
