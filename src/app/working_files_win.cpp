// Working files on Windows: the wide file API; folders and files created with
// an access list of their owner's, appends that open and close the file each
// time, a handle that no other writer may share for the folder lock.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/working_files.h"
#include "common/clock.h"
#include "common/paths.h"
#include "common/win32.h"

namespace kvt {
namespace fs = std::filesystem;

namespace {

bool isFolder(const fs::path& percorso) {
    const DWORD attributi = ::GetFileAttributesW(percorso.c_str());
    return attributi != INVALID_FILE_ATTRIBUTES && (attributi & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

[[noreturn]] void fallito(DWORD codice) {
    throw std::system_error(static_cast<int>(codice), std::system_category(),
                            win32::errorText(codice));
}

}  // namespace

bool creaCartellaPrivata(const std::string& cartella) {
    const fs::path percorso = paths::fromUtf8(cartella).lexically_normal();
    if (isFolder(percorso)) {
        return true;
    }
    // Parents first; an existing one is left as it is. A part that cannot be
    // created but is a folder all the same (a share's root) is passed over.
    fs::path parziale;
    for (const fs::path& parte : percorso) {
        parziale /= parte;
        if (parte.empty() || !parziale.has_relative_path()) {
            continue;
        }
        if (!::CreateDirectoryW(parziale.c_str(), win32::privateSecurity()) &&
            !isFolder(parziale)) {
            return false;
        }
    }
    return isFolder(percorso);
}

void accodaAFile(const std::string& file, std::string_view testo) {
    const fs::path percorso = paths::fromUtf8(file);
    // Append access alone: every write lands at the end, also with another
    // process appending to the same log.
    win32::Handle handle(::CreateFileW(percorso.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       win32::privateSecurity(), OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                       nullptr));
    if (!handle.valid()) {
        fallito(::GetLastError());
    }
    // The end before this write: a write cut short (disk full) is taken
    // back, so that the file never ends in half a line.
    LARGE_INTEGER prima{};
    const bool misurato = ::GetFileSizeEx(handle.get(), &prima) != 0;
    std::size_t scritti = 0;
    while (scritti < testo.size()) {
        DWORD n = 0;
        const auto pezzo =
            static_cast<DWORD>(std::min<std::size_t>(testo.size() - scritti, 1u << 30));
        if (!::WriteFile(handle.get(), testo.data() + scritti, pezzo, &n, nullptr) || n == 0) {
            const DWORD codice = ::GetLastError();
            handle.close();
            if (scritti > 0 && misurato) {
                win32::Handle troncamento(
                    ::CreateFileW(percorso.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
                if (troncamento.valid() &&
                    ::SetFilePointerEx(troncamento.get(), prima, nullptr, FILE_BEGIN)) {
                    ::SetEndOfFile(troncamento.get());
                }
            }
            fallito(codice);
        }
        scritti += n;
    }
    if (!handle.close()) {
        fallito(::GetLastError());
    }
}

std::optional<DateTime> dataUltimaScrittura(const std::string& file) {
    WIN32_FILE_ATTRIBUTE_DATA dati{};
    if (!::GetFileAttributesExW(paths::fromUtf8(file).c_str(), GetFileExInfoStandard, &dati)) {
        return std::nullopt;
    }
    // 100-nanosecond steps since 1601 as seconds since 1970.
    const ULONGLONG passi =
        (ULONGLONG{dati.ftLastWriteTime.dwHighDateTime} << 32) | dati.ftLastWriteTime.dwLowDateTime;
    DateTime data = clock::fromTimeT(static_cast<std::time_t>(passi / 10000000ULL) - 11644473600LL);
    // The date stamps the program compared with count seconds in steps of
    // two; a later comparison with a visit time keeps that rounding down.
    data.second -= data.second % 2;
    return data;
}

std::optional<std::string> cartellaNonSicura(const std::string&) {
    return std::nullopt;
}

BloccoCartella::Esito BloccoCartella::prendi(const std::string& cartella,
                                             std::unique_ptr<BloccoCartella>& blocco,
                                             std::string* motivo) {
    blocco.reset();
    const fs::path percorso = paths::fromUtf8(cartella) / kFileBlocco;
    // Readers share (a virus scanner looking into the file must not make the
    // next run find the folder busy), writers do not: a second open for
    // writing, by this process or another, fails while this handle lives;
    // the system closes it with the process.
    const HANDLE handle =
        ::CreateFileW(percorso.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                      win32::privateSecurity(), OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD codice = ::GetLastError();
        if (codice == ERROR_SHARING_VIOLATION || codice == ERROR_LOCK_VIOLATION) {
            return Esito::Occupato;
        }
        if (motivo) {
            *motivo = std::system_category().message(static_cast<int>(codice));
        }
        return Esito::Impossibile;
    }
    blocco.reset(new BloccoCartella(reinterpret_cast<std::intptr_t>(handle)));
    return Esito::Preso;
}

BloccoCartella::~BloccoCartella() {
    // The file stays, so that a waiting process never locks a file that is
    // being removed.
    ::CloseHandle(reinterpret_cast<HANDLE>(descrittore_));
}

}  // namespace kvt
