// vd_kvt.exe itself, run as an operator's script or a scheduled task runs it:
// its output redirected to files, its exit status read. Copies of it run
// from a temporary program folder of each test's own, with or without the
// tests' connector library beside them.
#include <objbase.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

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

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Outcome {
    DWORD status = 0;
    std::string out;
    std::string err;
};

class VdKvtExeTest : public ::testing::Test {
  protected:
    VdKvtExeTest() {
        wchar_t path[MAX_PATH];
        tests_ = fs::path(std::wstring(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH)))
                     .parent_path();
        folder_ = fs::temp_directory_path() /
                  (L"kvt_programma_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                   std::to_wstring(::GetTickCount64()));
        fs::create_directories(folder_);
        // A copy of vd_kvt.exe, its console twin and PSHLib.dll of the build,
        // without the connector unless a test puts the tests' own there.
        for (const wchar_t* file : {L"vd_kvt.exe", L"vd_kvt.com", L"PSHLib.dll"}) {
            fs::copy_file(tests_.parent_path() / L"bin" / file, folder_ / file);
        }
        // The build's bin/, which holds a connector, off the DLL search.
        wchar_t system[MAX_PATH];
        ::SetEnvironmentVariableW(
            L"PATH", std::wstring(system, ::GetSystemDirectoryW(system, MAX_PATH)).c_str());
    }
    // A program that has ended may still hold its files for a moment under
    // Wine (after COM was used): the removal is tried again for a while.
    ~VdKvtExeTest() override {
        std::error_code failed;
        for (int attempt = 0; attempt < 100 && (fs::remove_all(folder_, failed), failed);
             ++attempt) {
            ::Sleep(100);
        }
    }

    // Runs the program with its standard output and error going to files; a
    // program that has not ended after two minutes fails the test (and is
    // ended), rather than hanging the run.
    Outcome run(const std::vector<std::wstring>& arguments) {
        const fs::path program = folder_ / L"vd_kvt.exe";
        std::wstring commandLine = L"\"" + program.wstring() + L"\"";
        for (const std::wstring& argument : arguments) {
            commandLine += L" \"" + argument + L"\"";
        }
        // Files of each run's own: the system may still hold a previous run's.
        ++runs_;
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
        const std::wstring run = std::to_wstring(runs_);
        const fs::path outFile = folder_ / (L"uscita" + run + L".txt");
        const fs::path errFile = folder_ / (L"errore" + run + L".txt");
        const auto create = [&](const fs::path& file) {
            return ::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                 CREATE_NEW, 0, nullptr);
        };
        win32::Handle out(create(outFile));
        win32::Handle err(create(errFile));
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
                              DETACHED_PROCESS, nullptr, folder_.c_str(), &startup, &process)) {
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

    // Runs the command line in a console of its own, no standard handles handed
    // down (as a command prompt starts a program); the console's text as output.
    Outcome inConsole(std::wstring commandLine) {
        ::FreeConsole();
        EXPECT_TRUE(::AllocConsole());
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        Outcome outcome;
        EXPECT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0,
                                     nullptr, folder_.c_str(), &startup, &process));
        win32::Handle processHandle(process.hProcess), threadHandle(process.hThread);
        ::WaitForSingleObject(process.hProcess, 120000);
        ::GetExitCodeProcess(process.hProcess, &outcome.status);
        win32::Handle screen(::CreateFileW(L"CONOUT$", GENERIC_READ, FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
        std::wstring text(1 << 16, L' ');
        DWORD read = 0;
        ::ReadConsoleOutputCharacterW(screen.get(), text.data(), DWORD(text.size()), {}, &read);
        outcome.out = win32::narrow(text.substr(0, read));
        ::FreeConsole();
        return outcome;
    }

    fs::path tests_;  // the build's tests/ folder, this program's
    fs::path folder_;
    int runs_ = 0;
};

TEST_F(VdKvtExeTest, TextsAndStatusesAreTheLinuxOnesByteForByte) {
    // Redirected, the texts are their UTF-8 bytes with LF line ends; an
    // argument with an accent comes through the wide command line. (Without
    // a command the program opens its login window: the end-to-end case
    // Accesso.UsageHelpAndVersion runs it without a display.)
    const struct {
        std::vector<std::wstring> arguments;
        DWORD status;
        std::string out, err;
    } cases[] = {
        {{L"--version"}, 0, "vd_kvt 1.46\n", ""},
        {{L"--help"}, 0, testoAiuto(), ""},
        {{L"--citt\u00e0"},
         2,
         "",
         "vd_kvt: opzione sconosciuta: --citt\xc3\xa0\nProvare 'vd_kvt.exe --help'.\n"},
        // Without its connector the program says so.
        {{L"--utente", L"mrossi", L"--nuovo-invio"},
         3,
         "",
         "vd_kvt: ...File non trovato: " + win32::narrow((folder_ / L"LKlib.dll").wstring()) +
             "\n"},
    };
    for (const auto& expected : cases) {
        const Outcome outcome = run(expected.arguments);
        EXPECT_EQ(outcome.status, expected.status) << expected.err;
        EXPECT_EQ(outcome.out, expected.out);
        EXPECT_EQ(outcome.err, expected.err);
    }
    // One of its bitness that does not start says so.
    fs::copy_file(tests_ / L"kvt_rifiutata.dll", folder_ / L"LKlib.dll");
    EXPECT_EQ(
        run({L"--utente", L"mrossi", L"--nuovo-invio"})
            .err.rfind("vd_kvt: Il connettore LKlib.dll trovato in " +
                           win32::narrow((folder_ / L"LKlib.dll").wstring()) + " non si carica: ",
                       0),
        0u);
    // ... and touches nothing.
    EXPECT_FALSE(fs::exists(folder_ / L"kvt"));
}

TEST_F(VdKvtExeTest, TheWindowedProgramWritesToItsCallersConsoleOrWhereItIsRedirected) {
    // A windowed program (the shell gives its subsystem's version) and its
    // console twin ("PE" alone).
    const auto type = [&](const wchar_t* file) {
        return ::SHGetFileInfoW((folder_ / file).c_str(), 0, nullptr, 0, SHGFI_EXETYPE);
    };
    EXPECT_NE(HIWORD(type(L"vd_kvt.exe")), 0);
    EXPECT_EQ(type(L"vd_kvt.com"), 0x4550U);
    const std::string usage = "vd_kvt: opzione sconosciuta: --nessuna";
    // Started directly, through cmd /c (as a script does), or as "vd_kvt",
    // which cmd finds as vd_kvt.com; to the console, or to cmd's redirection.
    const struct {
        bool cmd;
        const wchar_t* command;
        DWORD status;
        std::string console, file;
    } cases[] = {
        {false, L"--version", 0, "vd_kvt 1.46", ""},
        {false, L"--nessuna", 2, usage, ""},
        {true, L"vd_kvt.exe --nessuna", 2, usage, ""},
        {true, L"vd_kvt --version", 0, "vd_kvt 1.46", ""},
        {true, L"vd_kvt.exe --version > file.txt", 0, "", "vd_kvt 1.46\n"},
        {true, L"vd_kvt.exe --nessuna 2> file.txt", 2, "",
         usage + "\nProvare 'vd_kvt.exe --help'.\n"},
    };
    const std::wstring program = L"\"" + (folder_ / L"vd_kvt.exe").wstring() + L"\" ";
    for (const auto& expected : cases) {
        const Outcome outcome = inConsole((expected.cmd ? L"cmd /c " : program) + expected.command);
        const std::string file = readBytes(folder_ / L"file.txt");
        fs::remove(folder_ / L"file.txt");
        EXPECT_EQ(outcome.status, expected.status) << outcome.out;
        EXPECT_NE(outcome.out.find(expected.console), std::string::npos) << outcome.out;
        EXPECT_EQ(file, expected.file);
    }
}

TEST_F(VdKvtExeTest, ALoginWithoutTheHostsServerFailsWithItsMessage) {
    // The program's COM apartment needs Wine's desktop process, which the
    // first process to need it starts, handing it its standard handles: a
    // desktop started by the program would hold its output files open after
    // it ended. Started here, it holds nothing of the program's.
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const fs::path studio = folder_ / L"Studio Citt\u00e0";
    ::SetEnvironmentVariableW(L"KVT_PASSWORD", L"segreto");
    // The connector in a folder of PATH, as offices have it.
    ::SetEnvironmentVariableW(L"PATH", (tests_ / L"lklib_prova").c_str());
    const Outcome outcome =
        run({L"--program-dir", studio.wstring(), L"--utente", L"mrossi", L"--test-linea"});
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
