#include "ui/headless/connettore_win.h"

#include <windows.h>

#include <string>
#include <vector>

#include "common/pe.h"
#include "common/win32.h"
#include "ui/headless/headless.h"
#include "ui/headless/piattaforma.h"

namespace kvt::headless {
namespace {

constexpr int kBitProgramma = static_cast<int>(sizeof(void*) * 8);
const wchar_t* const kConnettore = L"LKlib.dll";

enum class Esito { Caricato, Assente, AltriBit, NonSiCarica };

struct Verifica {
    Esito esito = Esito::Assente;
    std::string messaggio;
};

std::wstring conSeparatore(std::wstring cartella) {
    if (!cartella.empty() && cartella.back() != L'\\' && cartella.back() != L'/') {
        cartella += L'\\';
    }
    return cartella;
}

std::wstring cartellaDi(UINT(WINAPI* funzione)(LPWSTR, UINT)) {
    wchar_t cartella[MAX_PATH];
    const UINT lunghezza = funzione(cartella, MAX_PATH);
    return lunghezza > 0 && lunghezza < MAX_PATH ? std::wstring(cartella, lunghezza)
                                                 : std::wstring();
}

// A folder given in full ("C:\..." or "\\server\..."): a relative one (in
// PATH, say) would name a folder below the current one.
bool completa(const std::wstring& cartella) {
    return (cartella.size() >= 3 && cartella[1] == L':' &&
            (cartella[2] == L'\\' || cartella[2] == L'/')) ||
           cartella.rfind(L"\\\\", 0) == 0;
}

// The folders the loader searches for a library named without a path, once
// the current folder is out of the search, in its order: the program's, the
// system folder (SysWOW64 for a 32-bit program on 64-bit Windows), the
// 16-bit system folder, the Windows folder, the folders of PATH.
std::vector<std::wstring> cartelleDelCaricatore() {
    std::vector<std::wstring> cartelle = {win32::wide(cartellaEseguibile())};
    BOOL wow64 = FALSE;
    const bool trentadueSuSessantaquattro =
        ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
    cartelle.push_back(trentadueSuSessantaquattro ? cartellaDi(::GetSystemWow64DirectoryW)
                                                  : cartellaDi(::GetSystemDirectoryW));
    const std::wstring windows = cartellaDi(::GetSystemWindowsDirectoryW);
    cartelle.push_back(conSeparatore(windows) + L"System");
    cartelle.push_back(windows);
    const DWORD spazio = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
    std::wstring path(spazio, L'\0');
    const DWORD copiati = ::GetEnvironmentVariableW(L"PATH", path.data(), spazio);
    path.resize(copiati < spazio ? copiati : 0);  // 0 also for one changed meanwhile
    for (std::size_t inizio = 0; inizio <= path.size();) {
        std::size_t fine = path.find(L';', inizio);
        fine = fine == std::wstring::npos ? path.size() : fine;
        std::wstring cartella = path.substr(inizio, fine - inizio);
        if (cartella.size() >= 2 && cartella.front() == L'"' && cartella.back() == L'"') {
            cartella = cartella.substr(1, cartella.size() - 2);
        }
        cartelle.push_back(cartella);
        inizio = fine + 1;
    }
    return cartelle;
}

// The machine type in the file's header; nothing when it cannot be read.
std::optional<std::uint16_t> macchinaDi(const std::wstring& file) {
    win32::Handle handle(::CreateFileW(file.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    if (!handle.valid()) {
        return std::nullopt;
    }
    std::string byte(pe::kHeaderBytes, '\0');
    std::size_t letti = 0;
    DWORD parte = 0;
    while (letti < byte.size() &&
           ::ReadFile(handle.get(), byte.data() + letti, static_cast<DWORD>(byte.size() - letti),
                      &parte, nullptr) &&
           parte > 0) {
        letti += parte;
    }
    byte.resize(letti);
    return pe::machine(byte);
}

// The first LKlib.dll in the loader's order decides, as it would: of the
// other bitness it is named with both bitnesses; of this one it is loaded
// here by its full path, and stays loaded for the first call, which takes
// the library already loaded under its name wherever else one lies.
Verifica verifica() {
    for (const std::wstring& cartella : cartelleDelCaricatore()) {
        const std::wstring file = conSeparatore(cartella) + kConnettore;
        const DWORD attributi =
            completa(cartella) ? ::GetFileAttributesW(file.c_str()) : INVALID_FILE_ATTRIBUTES;
        if (attributi == INVALID_FILE_ATTRIBUTES || (attributi & FILE_ATTRIBUTE_DIRECTORY)) {
            continue;
        }
        const std::string percorso = win32::narrow(file);
        const int bit = pe::bits(macchinaDi(file).value_or(0));
        if (bit != 0 && bit != kBitProgramma) {
            const std::string suoi = std::to_string(bit) + " bit";
            return {Esito::AltriBit, "Il connettore LKlib.dll trovato in " + percorso + " è a " +
                                         suoi + ", questo vd_kvt.exe è a " +
                                         std::to_string(kBitProgramma) +
                                         " bit: installare vd_kvt a " + suoi + "."};
        }
        // Its own libraries are looked for beside it first.
        if (::LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {
            return {Esito::Caricato, {}};
        }
        const DWORD errore = ::GetLastError();
        return {Esito::NonSiCarica, "Il connettore LKlib.dll trovato in " + percorso +
                                        " non si carica: " + win32::errorText(errore)};
    }
    return {Esito::Assente,
            "...File non trovato: " +
                win32::narrow(conSeparatore(win32::wide(cartellaEseguibile())) + kConnettore)};
}

}  // namespace

std::optional<int> avviaConDllSicure(bool finestre) {
    // PATH stays in the search: offices put their connector in a folder of
    // PATH. SetDefaultDllDirectories would take PATH out as well.
    ::SetDllDirectoryW(L"");
    // For SearchPathW, which some system components use to find a file by
    // name: the current folder after the system's. It fails when already
    // set, which changes nothing.
    ::SetSearchPathMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
    if (!finestre) {
        return std::nullopt;
    }
    const Verifica esito = verifica();
    if (esito.esito == Esito::Caricato || esito.esito == Esito::Assente) {
        return std::nullopt;
    }
    // Also on standard error, for a caller that reads it.
    scrivi(Flusso::Errore, "vd_kvt: " + esito.messaggio + "\n");
    ::MessageBoxW(nullptr, win32::wide(esito.messaggio).c_str(), L"Vello KVT",
                  MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    return kFattoConErrori;
}

std::optional<std::string> connettoreMancante() {
    Verifica esito = verifica();
    if (esito.esito == Esito::Caricato) {
        return std::nullopt;
    }
    return std::move(esito.messaggio);
}

}  // namespace kvt::headless
