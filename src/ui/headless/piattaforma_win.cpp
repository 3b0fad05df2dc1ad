// The unattended front end on Windows: the console, the program folder, the
// access list of the password file, and the libraries that vd_kvt.exe loads
// at their first call (LKlib.dll, PSHLib.dll).
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <delayimp.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "common/win32.h"
#include "common/workstation.h"
#include "connector/lklib.h"
#include "pshlib/pshlib.h"
#include "ui/headless/piattaforma.h"

namespace kvt::headless {
namespace {

// The result code of a connector that is not there: "ERR_UNCONN: non connesso".
constexpr int kNonConnesso = 14;

// What the functions of a library that cannot be loaded answer instead of
// it: no pseudonym (the record then fails and nothing leaves without one),
// no connection. They keep the library's convention, so that a 32-bit
// caller's stack stays right.
const char* PSH_CALL pshCalcSenzaLibreria(const char*) {
    return nullptr;
}
void LK_CALL lkConfigSenzaLibreria() {}
int LK_CALL lkConnectSenzaLibreria(const char*, const char*) {
    return kNonConnesso;
}
const char* LK_CALL lkQuerySenzaLibreria(const char*, int, int) {
    return nullptr;
}
int LK_CALL lkGetErrorSenzaLibreria() {
    return kNonConnesso;
}
int LK_CALL lkDisconnectSenzaLibreria() {
    return kNonConnesso;
}

// Through void (*)(void), the one function type any other converts to
// without a warning.
template <class Funzione>
FARPROC comeProcedura(Funzione* funzione) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(funzione));
}

FARPROC sostitutoDi(const char* funzione) {
    struct Sostituto {
        const char* nome;
        FARPROC procedura;
    };
    const Sostituto sostituti[] = {
        {"PSHCalc", comeProcedura(&pshCalcSenzaLibreria)},
        {"LKConfig", comeProcedura(&lkConfigSenzaLibreria)},
        {"LKConnect", comeProcedura(&lkConnectSenzaLibreria)},
        {"LKQuery", comeProcedura(&lkQuerySenzaLibreria)},
        {"LKGetError", comeProcedura(&lkGetErrorSenzaLibreria)},
        {"LKDisconnect", comeProcedura(&lkDisconnectSenzaLibreria)},
    };
    for (const Sostituto& sostituto : sostituti) {
        if (std::strcmp(sostituto.nome, funzione) == 0) {
            return sostituto.procedura;
        }
    }
    return nullptr;
}

// The delay-load helper's failure hook. Without it a library that cannot be
// loaded (missing, or refusing to start) or a function missing from it
// raises an exception that ends the process.
FARPROC WINAPI librerieMancanti(unsigned motivo, PDelayLoadInfo informazioni) {
    switch (motivo) {
        case dliFailLoadLib:
            // The executable stands in for the library: it exports none of
            // its functions, so each of them comes to dliFailGetProc.
            return reinterpret_cast<FARPROC>(::GetModuleHandleW(nullptr));
        case dliFailGetProc:
            if (informazioni->dlp.fImportByName) {
                return sostitutoDi(informazioni->dlp.szProcName);
            }
            break;
        default:
            break;
    }
    return nullptr;
}

std::wstring cartellaEseguibileLarga() {
    std::wstring percorso(MAX_PATH, L'\0');
    for (;;) {
        const DWORD lunghezza =
            ::GetModuleFileNameW(nullptr, percorso.data(), static_cast<DWORD>(percorso.size()));
        if (lunghezza == 0) {
            return L".";
        }
        if (lunghezza < percorso.size()) {
            percorso.resize(lunghezza);
            break;
        }
        percorso.resize(percorso.size() * 2);
    }
    const std::size_t separatore = percorso.find_last_of(L"\\/");
    return separatore == std::wstring::npos ? L"." : percorso.substr(0, separatore);
}

// A wide text in the ANSI code page, as the C runtime hands arguments over.
std::string testoAnsi(const wchar_t* testo) {
    const int lunghezza = ::WideCharToMultiByte(CP_ACP, 0, testo, -1, nullptr, 0, nullptr, nullptr);
    if (lunghezza <= 0) {
        return {};
    }
    std::string byte(static_cast<std::size_t>(lunghezza), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, testo, -1, byte.data(), lunghezza, nullptr, nullptr);
    byte.pop_back();
    return byte;
}

HANDLE handleDi(Flusso flusso) {
    return ::GetStdHandle(flusso == Flusso::Uscita ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool console(HANDLE handle) {
    DWORD modo = 0;
    return handle && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &modo);
}

// A handle of the process that can be written to: a file, a pipe, a device
// or a console.
bool valido(HANDLE handle) {
    if (!handle || handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::SetLastError(NO_ERROR);
    return ::GetFileType(handle) != FILE_TYPE_UNKNOWN || ::GetLastError() == NO_ERROR;
}

// Valid, and when it is a character device that is no console of the
// process's, not a console handle handed down from a console the process is
// not attached to (which a windowed program started from a console may get).
bool scrivibile(HANDLE handle) {
    return valido(handle) && (::GetFileType(handle) != FILE_TYPE_CHAR || console(handle) ||
                              ::GetConsoleWindow() != nullptr);
}

}  // namespace

const char* const kEseguibile = "vd_kvt.exe";
const char* const kRimedioLeggibile =
    "Proprietà del file, scheda Sicurezza: lettura solo per il proprio utente";

std::vector<std::string> argomentiProgramma(int argc, char** argv) {
    // The C runtime's argv holds the ANSI code page's bytes (an accent the
    // code page lacks is lost): the process's own arguments are read again
    // from the wide command line. Arguments that are not those (handed over
    // by a caller of its own) are UTF-8 already.
    int numero = 0;
    LPWSTR* larghi = ::CommandLineToArgvW(::GetCommandLineW(), &numero);
    bool propri = larghi && numero == argc;
    for (int i = 1; propri && i < argc; ++i) {
        propri = testoAnsi(larghi[i]) == argv[i];
    }
    std::vector<std::string> argomenti;
    for (int i = 1; i < argc; ++i) {
        argomenti.push_back(propri ? win32::narrow(larghi[i]) : std::string(argv[i]));
    }
    if (larghi) {
        ::LocalFree(larghi);
    }
    return argomenti;
}

void scrivi(Flusso flusso, std::string_view testo) {
    const HANDLE handle = handleDi(flusso);
    if (!handle || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    if (console(handle)) {
        const std::wstring caratteri = win32::wide(testo);
        std::size_t scritti = 0;
        while (scritti < caratteri.size()) {
            DWORD fatti = 0;
            const DWORD parte =
                static_cast<DWORD>(std::min<std::size_t>(caratteri.size() - scritti, 8192));
            if (!::WriteConsoleW(handle, caratteri.data() + scritti, parte, &fatti, nullptr) ||
                fatti == 0) {
                return;
            }
            scritti += fatti;
        }
        return;
    }
    // Whatever the C runtime holds goes first; then the bytes themselves,
    // with no translation of line ends.
    std::fflush(flusso == Flusso::Uscita ? stdout : stderr);
    std::size_t scritti = 0;
    while (scritti < testo.size()) {
        DWORD fatti = 0;
        const DWORD parte =
            static_cast<DWORD>(std::min<std::size_t>(testo.size() - scritti, 1 << 20));
        if (!::WriteFile(handle, testo.data() + scritti, parte, &fatti, nullptr) || fatti == 0) {
            return;
        }
        scritti += fatti;
    }
}

void usaConsoleDelChiamante() {
    const DWORD flussi[] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    bool manca = false;
    for (const DWORD flusso : flussi) {
        manca = manca || !scrivibile(::GetStdHandle(flusso));
    }
    // Output already going somewhere (a file, a pipe: a scheduled task's or
    // a script's redirection) stays there; the caller's console is taken
    // only for what has nowhere to go. Without one (Explorer, a scheduled
    // task without redirection) the program stays without.
    if (!manca || !::AttachConsole(ATTACH_PARENT_PROCESS)) {
        return;
    }
    for (const DWORD flusso : flussi) {
        if (valido(::GetStdHandle(flusso))) {
            continue;
        }
        const HANDLE schermo =
            ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (schermo == INVALID_HANDLE_VALUE) {
            continue;
        }
        ::SetStdHandle(flusso, schermo);
        // The C runtime's stream too, which it set up without a handle.
        ::_wfreopen(L"CONOUT$", L"w", flusso == STD_OUTPUT_HANDLE ? stdout : stderr);
    }
}

std::optional<std::string> variabileAmbiente(const char* nome) {
    if (const wchar_t* valore = ::_wgetenv(win32::wide(nome).c_str())) {
        return win32::narrow(valore);
    }
    return std::nullopt;
}

void dimenticaVariabileAmbiente(const char* nome) {
    const std::wstring largo = win32::wide(nome);
    if (wchar_t* valore = ::_wgetenv(largo.c_str())) {
        std::fill(valore, valore + std::wcslen(valore), L'\0');
    }
    // Both copies: the C runtime's and the process's own block.
    ::_wputenv_s(largo.c_str(), L"");
    ::SetEnvironmentVariableW(largo.c_str(), nullptr);
}

void nessunaCopiaDellaMemoria() {
    // Windows writes a crashed program's memory only where Windows Error
    // Reporting has been set up to keep local dumps: no switch of the
    // process turns that off, so there is nothing to do here.
}

std::string testoDaiByte(std::string byte) {
    const bool utf8 = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, byte.data(),
                                            static_cast<int>(byte.size()), nullptr, 0) > 0;
    return byte.empty() || utf8 ? byte : workstation::fromCodePage(byte);
}

void scrittureOltreIlLimiteComeErrori() {
    // Nothing to do: Windows has no file size limit that ends a process; a
    // write that does not fit fails with an error, which every writer of
    // the program already handles.
}

std::string cartellaEseguibile() {
    return win32::narrow(cartellaEseguibileLarga());
}

bool erroreStandardSuTerminale() {
    const HANDLE handle = handleDi(Flusso::Errore);
    DWORD modo = 0;
    if (!handle || handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &modo)) {
        return false;
    }
    // The progress line is redrawn with terminal sequences: a console that
    // does not take them gets no progress line.
    return (modo & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
           ::SetConsoleMode(handle, modo | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

int larghezzaTerminale() {
    CONSOLE_SCREEN_BUFFER_INFO informazioni{};
    if (::GetConsoleScreenBufferInfo(handleDi(Flusso::Errore), &informazioni)) {
        const int larghezza = informazioni.srWindow.Right - informazioni.srWindow.Left + 1;
        if (larghezza > 0) {
            return larghezza;
        }
    }
    return 80;
}

// Others may read the file when its access list lets anyone read it but the
// owner, the user of the process, the system and the administrators (the
// accounts that the program's own private files grant access to). A file
// without an access list is open to everyone.
bool leggibileDaAltri(const std::string& file) {
    PSID proprietario = nullptr;
    PACL accessi = nullptr;
    PSECURITY_DESCRIPTOR descrittore = nullptr;
    if (::GetNamedSecurityInfoW(win32::wide(file).c_str(), SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                &proprietario, nullptr, &accessi, nullptr,
                                &descrittore) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<unsigned char> spazio;
    const PSID utente = win32::processUser(spazio);
    bool altri = accessi == nullptr;
    for (DWORD i = 0; !altri && i < accessi->AceCount; ++i) {
        void* voce = nullptr;
        if (!::GetAce(accessi, i, &voce)) {
            continue;
        }
        const auto* intestazione = static_cast<const ACE_HEADER*>(voce);
        if (intestazione->AceType != ACCESS_ALLOWED_ACE_TYPE ||
            (intestazione->AceFlags & INHERIT_ONLY_ACE)) {
            continue;
        }
        auto* permesso = static_cast<ACCESS_ALLOWED_ACE*>(voce);
        if (!(permesso->Mask & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL | MAXIMUM_ALLOWED))) {
            continue;
        }
        const PSID chi = &permesso->SidStart;
        const bool fidato = (proprietario && ::EqualSid(chi, proprietario)) ||
                            (utente && ::EqualSid(chi, utente)) ||
                            ::IsWellKnownSid(chi, WinLocalSystemSid) ||
                            ::IsWellKnownSid(chi, WinBuiltinAdministratorsSid) ||
                            ::IsWellKnownSid(chi, WinCreatorOwnerSid);
        altri = !fidato;
    }
    ::LocalFree(descrittore);
    return altri;
}

void registraHost() {
    // Nothing to do: the host's automation server is a COM server, found by
    // its ProgID "Vellodoc.Server" where its installation registered it.
}

// connettoreMancante: in connettore_win.cpp, with the search of the loader.

}  // namespace kvt::headless

// Installed by its definition: the delay-load helper reads it.
PfnDliHook __pfnDliFailureHook2 = kvt::headless::librerieMancanti;
