// trattieni_file.exe FILE MILLISECONDS: opens FILE as a virus scanner or a
// backup does, sharing reads and writes but not deletion, says "trattenuto"
// on standard output once it holds it, and lets go after the time given (or
// when killed). A rename over the file, or of it, fails meanwhile.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("uso: trattieni_file FILE MILLISECONDI\n", stderr);
        return 2;
    }
    const HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "trattieni_file: apertura non riuscita (%lu)\n", ::GetLastError());
        return 1;
    }
    std::fputs("trattenuto\n", stdout);
    std::fflush(stdout);
    ::Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    ::CloseHandle(file);
    return 0;
}
