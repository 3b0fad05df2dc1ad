// PSHLib.dll as Windows clients see it: loaded with LoadLibraryW, its exports
// by ordinal and by name called through WINAPI pointers, the tables of its
// file, and a start that fails.
#include <windows.h>
// CryptoAPI needs the types of windows.h first.
#include <wincrypt.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "pshlib/crypto_api.h"
#include "pshlib/loaded_library.h"
#include "pshlib/pshlib_client.h"

namespace {

using namespace kvt::test;

constexpr const wchar_t* kRsaProvider = L"Microsoft Enhanced Cryptographic Provider v1.0";

struct Export {
    WORD ordinal;
    const char* name;
};
constexpr Export kExports[] = {{1, "PSHCalc"}, {2, "PSHVersion"}, {3, "PSHAbout"}};

void* entryAt(const LoadedLibrary& library, WORD ordinal) {
    return reinterpret_cast<void*>(
        GetProcAddress(static_cast<HMODULE>(library.handle()), MAKEINTRESOURCEA(ordinal)));
}

TEST(PSHLibDll, ExportsItsEntryPointsByOrdinalAndByNameForWinapiCallers) {
    LoadedLibrary library(PSHLIB_PATH);
    ASSERT_TRUE(library.loaded()) << library.error();
    for (const Export& expected : kExports) {
        EXPECT_NE(entryAt(library, expected.ordinal), nullptr) << expected.name;
        EXPECT_EQ(entryAt(library, expected.ordinal), library.entry(expected.name))
            << expected.name;
    }
    EXPECT_EQ(entryAt(library, 4), nullptr);
    EXPECT_EQ(library.entry("PSHCalc@4"), nullptr);
    EXPECT_EQ(library.entry("_PSHCalc@4"), nullptr);

    const auto calc = reinterpret_cast<PSHCalcFunction>(entryAt(library, 1));
    const auto version = reinterpret_cast<PSHVersionFunction>(entryAt(library, 2));
    ASSERT_NE(calc, nullptr);
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version(), "1.0.0.2");
    for (const PseudonymVector& vector : kPseudonymVectors) {
        EXPECT_STREQ(calc(bytesOfHex(vector.codeHex).c_str()), vector.pseudonym) << vector.codeHex;
    }
    // The program's own link reaches the same library: one result buffer.
    EXPECT_EQ(calc("A"), PSHCalc("B"));
}

// What the DLL file itself declares, read from the loaded image's tables.
TEST(PSHLibDll, ExportsOnlyItsEntryPointsAndImportsOnlySystemLibraries) {
    LoadedLibrary library(PSHLIB_PATH);
    ASSERT_TRUE(library.loaded()) << library.error();
    const auto* base = static_cast<const unsigned char*>(library.handle());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY* directories = nt->OptionalHeader.DataDirectory;

    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
        base + directories[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
    EXPECT_STREQ(reinterpret_cast<const char*>(base + exports->Name), "PSHLib.dll");
    EXPECT_EQ(exports->Base, 1u);
    EXPECT_EQ(exports->NumberOfFunctions, 3u);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    const auto* indexes = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
    std::map<std::string, DWORD> byName;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        byName[reinterpret_cast<const char*>(base + names[i])] = exports->Base + indexes[i];
    }
    EXPECT_EQ(byName,
              (std::map<std::string, DWORD>{{"PSHCalc", 1}, {"PSHVersion", 2}, {"PSHAbout", 3}}));

    // The runtime is linked in: no mingw DLL (libgcc, libstdc++, winpthread).
    const std::set<std::string> system = {"ADVAPI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL",
                                          "USER32.DLL", "VERSION.DLL"};
    std::set<std::string> imported;
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
             base + directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
         entry->Name != 0; ++entry) {
        std::string name = reinterpret_cast<const char*>(base + entry->Name);
        for (char& c : name) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        imported.insert(name);
    }
    EXPECT_THAT(imported, ::testing::IsSubsetOf(system));
    EXPECT_THAT(imported, ::testing::Contains("ADVAPI32.DLL"));
}

// (Tests running beside this one may create the container again at any
// moment: what must hold is the state after the start.)
TEST(TCryptoAPI, CreatesItsKeyContainerWhenMissing) {
    HCRYPTPROV provider = 0;
    CryptAcquireContextW(&provider, L"Connector2", kRsaProvider, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
    kvt::psh::TCryptoAPI crypto;
    EXPECT_TRUE(crypto.Ready);
    ASSERT_TRUE(CryptAcquireContextW(&provider, L"Connector2", kRsaProvider, PROV_RSA_FULL, 0));
    CryptReleaseContext(provider, 0);
}

TEST(TCryptoAPI, LastErrorTextIsTheSystemsTextWithoutBlanksAtItsEnds) {
    const kvt::psh::TCryptoAPI crypto;
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    for (const DWORD code :
         {static_cast<DWORD>(ERROR_ACCESS_DENIED), static_cast<DWORD>(ERROR_INVALID_PARAMETER),
          static_cast<DWORD>(NTE_BAD_KEYSET)}) {
        SetLastError(code);
        const std::string text = crypto.LastErrorText();
        ASSERT_FALSE(text.empty()) << code;
        EXPECT_FALSE(isBlank(text.front()) || isBlank(text.back())) << text;
        EXPECT_EQ(GetLastError(), code);
    }
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(crypto.LastErrorText(), "");
}

}  // namespace
