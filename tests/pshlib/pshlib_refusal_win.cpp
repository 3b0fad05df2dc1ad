// pshlib_refusal [--load-only] PATH\PSHLib.dll, in a process of its own.
//
// Without option: run with the DSS/Diffie-Hellman provider switched off
// (Wine: WINEDLLOVERRIDES=dssenh=), where the library cannot start. It loads
// (nothing of the service runs under the loader's lock) and refuses to serve:
// its first PSHCalc shows why (no display: the box waits for nobody), and
// every PSHCalc answers null.
// --load-only: loading and unloading it without a PSHCalc loads neither
// provider's library.
// Exit status 0 when all held, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

int failed(const char* what) {
    std::printf("%s\n", what);
    return 1;
}

bool providersLoaded() {
    return GetModuleHandleW(L"rsaenh.dll") != nullptr || GetModuleHandleW(L"dssenh.dll") != nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool loadOnly = argc == 3 && std::wcscmp(argv[1], L"--load-only") == 0;
    if (argc != 2 && !loadOnly) {
        std::fprintf(stderr, "usage: pshlib_refusal [--load-only] PATH\\PSHLib.dll\n");
        return 2;
    }
    const HMODULE library = LoadLibraryW(argv[argc - 1]);
    if (library == nullptr) {
        return failed("PSHLib.dll did not load");
    }
    if (loadOnly) {
        const bool atLoad = providersLoaded();
        FreeLibrary(library);
        return atLoad || providersLoaded() ? failed("PSHLib.dll reached CryptoAPI without PSHCalc")
                                           : 0;
    }
    using PshCalc = const char*(WINAPI*)(const char*);
    const auto calc = reinterpret_cast<PshCalc>(
        reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(1))));
    if (calc == nullptr || calc("RSSMRA80A01H501U") != nullptr || calc("") != nullptr) {
        return failed("PSHLib.dll gave a pseudonym although it could not start");
    }
    FreeLibrary(library);
    return 0;
}
