// vd_kvt.exe itself, run as an operator's script or a scheduled task runs it:
// its output redirected to files, its exit status read. Copies of it run
// from a temporary program folder of each test's own, with or without the
// tests' connector library beside them.
#include <objbase.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/win32.h"
#include "ui/headless/riga_di_comando.h"

namespace kvt::headless {
namespace {

namespace fs = std::filesystem;

// The folder of this test program: the build's tests/ folder.
fs::path testFolder() {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(std::wstring(path, length)).parent_path();
}

fs::path binFolder() {
    return testFolder().parent_path() / L"bin";
}

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Outcome {
    DWORD status = 0;
    std::string out;
    std::string err;
};

// Runs the program with its standard output and error going to files; a
// program that has not ended after two minutes fails the test (and is
// ended), rather than hanging the run.
Outcome run(const fs::path& program, const std::vector<std::wstring>& arguments,
            const fs::path& outputs) {
    std::wstring commandLine = L"\"" + program.wstring() + L"\"";
    for (const std::wstring& argument : arguments) {
        commandLine += L" \"" + argument + L"\"";
    }
    // Files of each run's own: the system may still hold a previous run's.
    static int runs = 0;
    ++runs;
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    const fs::path outFile = outputs / (L"uscita" + std::to_wstring(runs) + L".txt");
    const fs::path errFile = outputs / (L"errore" + std::to_wstring(runs) + L".txt");
    win32::Handle out(::CreateFileW(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                    CREATE_NEW, 0, nullptr));
    win32::Handle err(::CreateFileW(errFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                    CREATE_NEW, 0, nullptr));
    EXPECT_TRUE(out.valid() && err.valid());

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
    PROCESS_INFORMATION process{};
    Outcome outcome;
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                          DETACHED_PROCESS, nullptr, outputs.c_str(), &startup, &process)) {
        ADD_FAILURE() << "vd_kvt.exe non avviato: " << win32::errorText(::GetLastError());
        return outcome;
    }
    win32::Handle processHandle(process.hProcess);
    win32::Handle threadHandle(process.hThread);
    if (::WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.hProcess, 99);
        ::WaitForSingleObject(process.hProcess, INFINITE);
        ADD_FAILURE() << "vd_kvt.exe non è terminato";
    }
    ::GetExitCodeProcess(process.hProcess, &outcome.status);
    out.close();
    err.close();
    outcome.out = readBytes(outFile);
    outcome.err = readBytes(errFile);
    return outcome;
}

// A temporary program folder, removed with everything in it afterwards.
class ProgramFolder {
  public:
    ProgramFolder() {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        path_ = fs::path(temp) / (L"kvt_programma_" + std::to_wstring(::GetCurrentProcessId()) +
                                  L"_" + std::to_wstring(::GetTickCount64()));
        fs::create_directories(path_);
    }
    // A program that has ended may still hold its files for a moment under
    // Wine (after COM was used): the removal is tried again for a while.
    ~ProgramFolder() {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::error_code failed;
            fs::remove_all(path_, failed);
            if (!failed) {
                return;
            }
            ::Sleep(100);
        }
    }
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    const fs::path& path() const { return path_; }
    fs::path program() const { return path_ / L"vd_kvt.exe"; }

    // vd_kvt.exe and PSHLib.dll of the build, and the tests' connector when
    // asked for.
    void install(bool withConnector) {
        fs::copy_file(binFolder() / L"vd_kvt.exe", program());
        fs::copy_file(binFolder() / L"PSHLib.dll", path_ / L"PSHLib.dll");
        if (withConnector) {
            fs::copy_file(testFolder() / L"lklib_prova" / L"LKlib.dll", path_ / L"LKlib.dll");
        }
    }

  private:
    fs::path path_;
};

class VdKvtExeTest : public ::testing::Test {
  protected:
    Outcome runInstalled(const std::vector<std::wstring>& arguments) {
        return run(binFolder() / L"vd_kvt.exe", arguments, folder.path());
    }
    ProgramFolder folder;
};

TEST_F(VdKvtExeTest, VersionHelpAndUsageAreTheLinuxOnesByteForByte) {
    Outcome version = runInstalled({L"--version"});
    EXPECT_EQ(version.status, 0U);
    EXPECT_EQ(version.out, "vd_kvt 1.46\n");
    EXPECT_EQ(version.err, "");

    // Redirected, the text is its UTF-8 bytes with LF line ends ("è").
    Outcome help = runInstalled({L"--help"});
    EXPECT_EQ(help.status, 0U);
    EXPECT_EQ(help.out, testoAiuto());
    EXPECT_NE(help.out.find("password \xc3\xa8 la prima riga"), std::string::npos);

    Outcome none = runInstalled({});
    EXPECT_EQ(none.status, 2U);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err,
              "vd_kvt: questa build non ha finestre; per l'invio non presidiato: vd_kvt.exe "
              "--utente UTENTE [--password-file FILE] --nuovo-invio (vedere vd_kvt.exe --help)\n");

    // An argument with an accent comes through the wide command line.
    Outcome unknown = runInstalled({L"--citt\u00e0"});
    EXPECT_EQ(unknown.status, 2U);
    EXPECT_EQ(unknown.err,
              "vd_kvt: opzione sconosciuta: --citt\xc3\xa0\nProvare 'vd_kvt.exe --help'.\n");
}

TEST_F(VdKvtExeTest, WithoutItsConnectorTheProgramSaysSoAndTouchesNothing) {
    folder.install(false);
    const Outcome outcome =
        run(folder.program(), {L"--utente", L"mrossi", L"--nuovo-invio"}, folder.path());
    EXPECT_EQ(outcome.status, 3U);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "vd_kvt: ...File non trovato: " +
                               win32::narrow((folder.path() / L"LKlib.dll").wstring()) + "\n");
    EXPECT_FALSE(fs::exists(folder.path() / L"kvt"));
}

TEST_F(VdKvtExeTest, ALoginWithoutTheHostsServerFailsWithItsMessage) {
    // The program's COM apartment needs Wine's desktop process, which the
    // first process to need it starts, handing it its standard handles: a
    // desktop started by the program would hold its output files open after
    // it ended. Started here, it holds nothing of the program's.
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    folder.install(true);
    const fs::path studio = folder.path() / L"Studio Citt\u00e0";
    ::SetEnvironmentVariableW(L"KVT_PASSWORD", L"segreto");
    const Outcome outcome =
        run(folder.program(),
            {L"--program-dir", studio.wstring(), L"--utente", L"mrossi", L"--test-linea"},
            folder.path());
    ::SetEnvironmentVariableW(L"KVT_PASSWORD", nullptr);

    EXPECT_EQ(outcome.status, 1U) << outcome.err;
    EXPECT_EQ(outcome.out, "");
    // Not registered here: the adapter's failed start (a server registered
    // on this machine without a practice fails its own way, also here).
    EXPECT_NE(outcome.err.find("vd_kvt: ole_vellopat.start(): "), std::string::npos) << outcome.err;
    // The main window was made in the program folder named with an accent.
    const std::string log = readBytes(studio / L"kvt" / L"log.txt");
    EXPECT_NE(log.find("FormCreate - vd_kvt versione 1.46"), std::string::npos) << log;
}

}  // namespace
}  // namespace kvt::headless
