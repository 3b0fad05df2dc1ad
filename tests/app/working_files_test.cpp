// The working files on the platform's own file system, on POSIX and on
// Windows alike: the folder lock, moves that replace, and a program folder
// whose name has accents, with the log in the workstation's code page.
#include "app/working_files.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include "app/connettore.h"
#include "app/frm_main.h"
#include "common/clock.h"
#include "common/paths.h"
#include "common/test_support.h"
#include "common/workstation.h"

namespace kvt {
namespace {

// A connector that is never reached: the window is only created.
class ConnettoreMuto final : public Connettore {
  public:
    void config() override {}
    int connect(const std::string&, const std::string&) override { return 6; }
    std::string query(const std::string&, int, int) override { return {}; }
    int getError() override { return 6; }
    int disconnect() override { return 0; }
};

std::string cartellaDi(const test::TempFolder& folder, const char* nome) {
    return paths::toUtf8(folder.path()) + paths::kSeparator + nome;
}

TEST(BloccoCartellaTest, OneHolderAtATimeUntilItLetsGo) {
    test::TempFolder folder;
    const std::string cartella = paths::toUtf8(folder.path());
    std::unique_ptr<BloccoCartella> primo;
    std::unique_ptr<BloccoCartella> secondo;
    ASSERT_EQ(BloccoCartella::prendi(cartella, primo), BloccoCartella::Esito::Preso);
    EXPECT_EQ(BloccoCartella::prendi(cartella, secondo), BloccoCartella::Esito::Occupato);
    primo.reset();
    EXPECT_EQ(BloccoCartella::prendi(cartella, secondo), BloccoCartella::Esito::Preso);
    EXPECT_TRUE(esisteFile(cartella + paths::kSeparator + kFileBlocco));
    EXPECT_EQ(BloccoCartella::prendi(cartellaDi(folder, "assente"), primo),
              BloccoCartella::Esito::Impossibile);
}

#if defined(_WIN32)
// A virus scanner reading the lock file neither keeps a run out nor lets a
// second one in.
TEST(BloccoCartellaTest, AReaderOfTheLockFileDoesNotKeepARunOut) {
    test::TempFolder folder;
    const std::filesystem::path file = folder.path() / kFileBlocco;
    constexpr DWORD kTutti = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE lettore =
        ::CreateFileW(file.c_str(), GENERIC_READ, kTutti, nullptr, OPEN_ALWAYS, 0, nullptr);
    std::unique_ptr<BloccoCartella> primo;
    std::unique_ptr<BloccoCartella> secondo;
    EXPECT_EQ(BloccoCartella::prendi(paths::toUtf8(folder.path()), primo),
              BloccoCartella::Esito::Preso);
    EXPECT_EQ(BloccoCartella::prendi(paths::toUtf8(folder.path()), secondo),
              BloccoCartella::Esito::Occupato);
    ::CloseHandle(lettore);
}
#endif

TEST(WorkingFilesTest, FilesInAFolderWithAccents) {
    test::TempFolder folder;
    const std::string cartella =
        cartellaDi(folder, "Citt\xC3\xA0") + paths::kSeparator + "perch\xC3\xA8";
    ASSERT_TRUE(creaCartellaPrivata(cartella));
    EXPECT_TRUE(creaCartellaPrivata(cartella));  // already there
    EXPECT_TRUE(std::filesystem::is_directory(folder.path() /
                                              std::filesystem::path(u8"Citt\u00E0/perch\u00E8")));
    const std::string da = cartella + paths::kSeparator + "\xC3\xA8_kvt.xml";
    const std::string a = cartella + paths::kSeparator + "\xC3\xA0_kvt.xml";

    accodaAFile(da, "uno");
    accodaAFile(da, " due");
    EXPECT_TRUE(esisteFile(da));
    EXPECT_FALSE(fileVuoto(da));
    EXPECT_FALSE(esisteFile(cartella));  // a folder is no file
    const std::optional<DateTime> scritto = dataUltimaScrittura(da);
    ASSERT_TRUE(scritto.has_value());
    EXPECT_TRUE(scritto->isValid());
    EXPECT_EQ(scritto->second % 2, 0);

    accodaAFile(a, "");
    EXPECT_TRUE(fileVuoto(a));
    EXPECT_TRUE(spostaFile(da, a));  // replaces the target in one step
    EXPECT_FALSE(esisteFile(da));
    EXPECT_EQ(test::readBytes(paths::fromUtf8(a)), "uno due");
    EXPECT_FALSE(spostaFile(da, a));
    EXPECT_FALSE(dataUltimaScrittura(da).has_value());
    EXPECT_TRUE(cancellaFile(a));
    EXPECT_TRUE(cancellaFile(a));  // gone already
    EXPECT_THROW(accodaAFile(cartellaDi(folder, "assente") + paths::kSeparator + "log.txt", "x"),
                 std::system_error);
}

TEST(WorkingFilesTest, TheProgramFolderWithAccentsAndTheLogInTheCodePage) {
    test::TempFolder folder;
    test::RecordingWindowing finestre;
    ConnettoreMuto connettore;
    const clock::FixedClock ora({2009, 3, 15, 10, 30, 5});
    const workstation::ScopedFormats formati({",", "dd/MM/yyyy", "HH:mm:ss"});
    const std::string programma = cartellaDi(folder, "Studio Citt\xC3\xA0");
    ASSERT_TRUE(creaCartellaPrivata(programma));

    TfrmMain finestra(programma, nullptr, &connettore);
    EXPECT_EQ(finestra.cartellaProgramma(), programma + paths::kSeparator);
    // A patient's name with a character the code page may not hold.
    finestra.suLog(
        "paz: Ha\xC3\xA8k \xC4\x80"
        "da");
    const std::string log =
        test::readBytes(folder.path() / std::filesystem::path(u8"Studio Citt\u00E0/kvt/log.txt"));
    if (workstation::codePage() != 65001 && workstation::codePage() != 1252) {
        GTEST_SKIP() << "code page " << workstation::codePage();
    }
    const std::string paziente = workstation::codePage() == 1252 ? "paz: Ha\xE8k ?da"
                                                                 : "paz: Ha\xC3\xA8k \xC4\x80"
                                                                   "da";
    EXPECT_TRUE(log.starts_with("FormCreate - vd_kvt versione 1.46 - 15/03/2009 10:30:05\r\n"))
        << log;
    EXPECT_TRUE(log.ends_with(paziente + " - 15/03/2009 10:30:05\r\n")) << log;

    // The check for the pseudonym library names the platform's file, with
    // the platform's separator.
    EXPECT_FALSE(finestra.controlliIniziali());
#ifdef _WIN32
    const std::string libreria = programma + "\\PSHLib.dll";
#else
    const std::string libreria = programma + "/PSHLib.so";
#endif
    ASSERT_FALSE(finestre.messages.empty());
    EXPECT_EQ(finestre.messages.back(), "...File non trovato: " + libreria);
}

}  // namespace
}  // namespace kvt
