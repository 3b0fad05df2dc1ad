// The Windows seams against the system's own services (under Wine in the
// build): registry values of every type imported with regedit, both views
// of the local machine's keys, the user's regional formats, the ANSI
// code page of the log and the last-visit file.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>

#include "common/errors.h"
#include "common/files.h"
#include "common/general_functions.h"
#include "common/paths.h"
#include "common/registry.h"
#include "common/workstation.h"
#include "test_support.h"

namespace kvt {
namespace {

using registry::Root;
using registry::ValueType;

// Imports a registry export with "regedit /S", as an office's settings are
// imported; the file is written as regedit writes its own (UTF-16LE with a
// byte-order mark).
void importa(const std::u16string& export_) {
    test::TempFolder folder;
    const std::u16string text = u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n" + export_;
    test::writeBytes(folder / "import.reg",
                     std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
    std::wstring command = L"regedit.exe /S \"" + (folder / "import.reg").wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &process));
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    ::GetExitCodeProcess(process.hProcess, &status);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    ASSERT_EQ(status, 0u);
}

// A key name of this test's own, so that runs sharing a prefix never meet.
std::u16string chiaveDiProva() {
    std::random_device random;
    const std::string name = "KvtSeamTest" + std::to_string(random());
    return std::u16string(name.begin(), name.end());
}

std::string utf8(const std::u16string& text) {
    return paths::toUtf8(std::filesystem::path(std::wstring(text.begin(), text.end())));
}

TEST(WindowsRegistryTest, EveryValueTypeReadsBackThroughTheSeam) {
    const std::u16string chiave = u"Software\\" + chiaveDiProva();
    const std::u16string completa = u"HKEY_CURRENT_USER\\" + chiave;
    // "%TEMP%\x" in UTF-16LE; "a", "bè" as a multi-string; type 10 for an
    // unusual one.
    importa(u"[" + completa +
            u"]\r\n"
            u"\"Testo\"=\"Citt\u00E0 \u20AC \\\"cinque\\\"\"\r\n"
            u"\"Espandibile\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,78,00,00,00\r\n"
            u"\"ReqTout\"=dword:0001d4c0\r\n"
            u"\"Grande\"=hex(b):00,00,00,00,01,00,00,00\r\n"
            u"\"Byte\"=hex:31,32,00,ff\r\n"
            u"\"Righe\"=hex(7):61,00,00,00,62,00,e8,00,00,00,00,00\r\n"
            u"\"Altro\"=hex(a):01,02\r\n"
            u"@=\"predefinito\"\r\n");
    const std::string percorso = "\\" + utf8(chiave);

    const auto leggi = [&](const char* nome) {
        return registry::readValue(Root::CurrentUser, percorso, nome).value();
    };
    EXPECT_EQ(leggi("testo").type, ValueType::String);  // names in any case
    EXPECT_EQ(leggi("testo").text, "Citt\xC3\xA0 \xE2\x82\xAC \"cinque\"");
    EXPECT_EQ(leggi("Espandibile").type, ValueType::ExpandString);
    EXPECT_EQ(leggi("Espandibile").text, "%TEMP%\\x");  // as stored, never expanded
    EXPECT_EQ(leggi("ReqTout").type, ValueType::Dword);
    EXPECT_EQ(leggi("ReqTout").number, 120000u);
    EXPECT_EQ(leggi("Grande").type, ValueType::Qword);
    EXPECT_EQ(leggi("Grande").number, std::uint64_t{1} << 32);
    EXPECT_EQ(leggi("Byte").bytes, (std::vector<std::uint8_t>{'1', '2', 0, 0xFF}));
    EXPECT_EQ(leggi("Righe").type, ValueType::MultiString);
    EXPECT_EQ(leggi("Righe").text, std::string("a\0b\xC3\xA8", 5));
    EXPECT_EQ(leggi("Altro").type, ValueType::Other);
    EXPECT_EQ(leggi("Altro").otherType, 10);
    EXPECT_EQ(leggi("Altro").bytes, (std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(leggi("").text, "predefinito");
    EXPECT_FALSE(registry::readValue(Root::CurrentUser, percorso, "Assente"));
    EXPECT_TRUE(registry::keyExists(Root::CurrentUser, percorso));
    EXPECT_FALSE(registry::keyExists(Root::CurrentUser, percorso + "\\Nessuna"));
    EXPECT_FALSE(registry::readValue(Root::LocalMachine, percorso, "Testo"));

    importa(u"[-" + completa + u"]\r\n");
    EXPECT_FALSE(registry::keyExists(Root::CurrentUser, percorso));
}

TEST(WindowsRegistryTest, AValueMissingFromThisProgramsViewIsReadFromTheOther) {
    // A 32-bit host writes in the 32-bit view (WOW6432Node to this 64-bit
    // test); an installer of the other bitness may make the key in the other.
    const std::u16string nome = chiaveDiProva();
    const std::u16string propria = u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\" + nome + u"\\OPZIONI]\r\n";
    const std::u16string altra =
        u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\" + nome + u"\\OPZIONI]\r\n";
    const std::u16string via = u"[-HKEY_LOCAL_MACHINE\\SOFTWARE\\" + nome +
                               u"]\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\" + nome +
                               u"]\r\n";
    const std::u16string regione = u"\"regione\"=\"0";
    const struct {
        std::u16string chiavi;
        const char* letto;
    } casi[] = {
        {propria + regione + u"90\"\r\n", "090"},
        {altra + regione + u"30\"\r\n", "030"},
        {propria + altra + regione + u"30\"\r\n", "030"},  // only the value missing
        {propria + regione + u"90\"\r\n" + altra + regione + u"30\"\r\n", "090"},
        {propria + altra, ""},
    };
    const std::string percorso = "\\SOFTWARE\\" + utf8(nome);
    for (const auto& caso : casi) {
        importa(via + caso.chiavi);
        EXPECT_EQ(leggiStringaRegistro(Root::LocalMachine, percorso + "\\OPZIONI", "regione"),
                  caso.letto);
        EXPECT_TRUE(registry::keyExists(Root::LocalMachine, percorso + "\\OPZIONI"));
    }
    importa(via);
    EXPECT_FALSE(registry::keyExists(Root::LocalMachine, percorso));
}

TEST(WindowsWorkstationTest, TheUsersRegionalFormatsAreRead) {
    const std::string chiave = "Control Panel\\International";
    const workstation::LocaleFormats locale = workstation::localeFormats();
    ASSERT_TRUE(locale.decimalSeparator && locale.shortDate && locale.longTime);
    const struct {
        const char* nome;
        std::string locale;
        std::u16string scelta;
    } valori[] = {{"sDecimal", *locale.decimalSeparator, u"."},
                  {"sShortDate", *locale.shortDate, u"yyyy-MM-dd"},
                  {"sTimeFormat", *locale.longTime, u"H.mm.ss"}};
    // The locale's answers agree with what the user's key holds; the user's
    // choices are set in the prefix and read again, then put back.
    std::u16string scelte = u"[HKEY_CURRENT_USER\\Control Panel\\International]\r\n";
    std::u16string ripristino = scelte;
    for (const auto& valore : valori) {
        const auto letto = registry::readValue(Root::CurrentUser, chiave, valore.nome);
        if (letto) {
            EXPECT_EQ(letto->text, valore.locale) << valore.nome;
        }
        const std::wstring testo = paths::fromUtf8(letto ? letto->text : "").wstring();
        const std::u16string nome(valore.nome, valore.nome + std::strlen(valore.nome));
        scelte += u"\"" + nome + u"\"=\"" + valore.scelta + u"\"\r\n";
        ripristino +=
            u"\"" + nome + u"\"=\"" + std::u16string(testo.begin(), testo.end()) + u"\"\r\n";
    }
    importa(scelte);
    workstation::reload();
    const workstation::Formats formati = workstation::formats();
    const std::string timbro = workstation::logTimeStamp({2009, 3, 15, 9, 3, 5});
    importa(ripristino);
    workstation::reload();
    EXPECT_EQ(formati.decimalSeparator, ".");
    EXPECT_EQ(formati.shortDate, "yyyy-MM-dd");
    EXPECT_EQ(formati.longTime, "H.mm.ss");
    EXPECT_EQ(timbro, "2009-03-15 9:03:05");
}

// The Italian office's code page; Wine's prefix for an Italian or English
// user has it too.
TEST(CodePageTest, TextsAndTheLastVisitFileAreConvertedExactlyOrRefused) {
    ASSERT_EQ(workstation::codePage(), ::GetACP());
    if (::GetACP() != 1252) {
        GTEST_SKIP() << "ANSI code page " << ::GetACP() << ", not 1252";
    }
    EXPECT_EQ(workstation::toCodePage("Citt\xC3\xA0 \xE2\x82\xAC"), "Citt\xE0 \x80");
    EXPECT_EQ(workstation::fromCodePage("Citt\xE0 \x80"), "Citt\xC3\xA0 \xE2\x82\xAC");
    // No best fit: "Ā" is not "A", and a CJK character has no place at all.
    EXPECT_FALSE(workstation::toCodePage("\xC4\x80"));
    EXPECT_FALSE(workstation::toCodePage("\xE6\xBC\xA2"));
    // One "?" for each character without a place, a pair of surrogates too.
    EXPECT_EQ(workstation::toCodePageReplacing("a\xC4\x80"
                                               "b\xF0\x9F\x98\x80"
                                               "c\xC3\xA8?"),
              "a?b?c\xE8?");

    test::TempFolder folder;
    const auto file = folder / "update_new.ini";
    // A file the program wrote before: Windows-1252.
    test::writeBytes(file, "[data_visita]\r\nD\xC8LMRA80A01H501U=2009-03-15\t10:30\r\n");
    EXPECT_EQ(leggiIni(file, "data_visita", "D\xC3\x88LMRA80A01H501U"), "2009-03-15\t10:30");
    scriviIni(file, "data_visita",
              "RSSMR\xC3\x80"
              "80A01H501U",
              "2010-01-01\t08:00");
    const std::string scritto = test::readBytes(file);
    EXPECT_EQ(scritto,
              "[data_visita]\r\nD\xC8LMRA80A01H501U=2009-03-15\t10:30\r\n"
              "RSSMR\xC0"
              "80A01H501U=2010-01-01\t08:00\r\n");
    // "Ā" would be written as "A" by a best fit: another patient's key.
    EXPECT_THROW(scriviIni(file, "data_visita",
                           "RSSMR\xC4\x80"
                           "80A01H501U",
                           "2011-01-01\t08:00"),
                 CodePageError);
    EXPECT_EQ(test::readBytes(file), scritto);
}

TEST(WindowsFilesTest, WhatTheProgramCreatesIsItsOwnersOnly) {
    test::TempFolder folder;
    files::writeAtomically(folder / "a.xml", "a");
    ASSERT_TRUE(files::writeNewPrivate(folder / "b.xml", "b"));
    // A file made by someone else, with the folder's access list, becomes
    // private when the program replaces it.
    test::writeBytes(folder / "c.xml", "c");
    files::writeAtomically(folder / "c.xml", "c2");
    for (const char* nome : {"a.xml", "b.xml", "c.xml"}) {
        EXPECT_TRUE(test::ownerOnly(folder / nome)) << nome;
    }
}

// A virus scanner opens a file just written without delete sharing: a rename
// over it is refused until it lets go. The replacement waits that out; one
// held past the retries fails, and the file keeps its content.
TEST(WindowsFilesTest, AReplacementWaitsOutAnotherProgramsBriefHold) {
    test::TempFolder folder;
    const std::filesystem::path file = folder / "update_new.ini";
    files::writeAtomically(file, "prima");
    const auto trattieni = [&file] {
        return ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    };
    std::thread rilascio([presa = trattieni()] { ::Sleep(300), ::CloseHandle(presa); });
    EXPECT_NO_THROW(files::writeAtomically(file, "dopo"));
    rilascio.join();
    const HANDLE presa = trattieni();
    EXPECT_THROW(files::writeAtomically(file, "mai"), Error);
    ::CloseHandle(presa);
    EXPECT_EQ(files::readAll(file), "dopo");
}

}  // namespace
}  // namespace kvt
