// pshlib_refusal [--load-only] PATH\PSHLib.dll, each run in a process of its
// own, since what it checks is which libraries the process has loaded.
//
// Without option: run with the DSS/Diffie-Hellman provider switched off
// (Wine: WINEDLLOVERRIDES=dssenh=), where the library cannot start. It loads
// (nothing of the service runs under the loader's lock), and then refuses to
// serve: its first PSHCalc shows why (no display: the box waits for nobody)
// and answers null, as does every later one.
//
// --load-only: loading and unloading the library without a PSHCalc never
// reaches the cryptographic service: neither provider's library is loaded.
//
// Exit status 0 when all held, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

using PshCalc = const char*(WINAPI*)(const char*);

int failed(const char* what) {
    std::printf("%s\n", what);
    return 1;
}

bool providersLoaded() {
    return GetModuleHandleW(L"rsaenh.dll") != nullptr || GetModuleHandleW(L"dssenh.dll") != nullptr;
}

int loadOnly(const wchar_t* path) {
    const HMODULE library = LoadLibraryW(path);
    if (library == nullptr) {
        return failed("PSHLib.dll did not load");
    }
    if (providersLoaded()) {
        return failed("loading PSHLib.dll reached the cryptographic service");
    }
    FreeLibrary(library);
    if (providersLoaded()) {
        return failed("unloading PSHLib.dll reached the cryptographic service");
    }
    std::printf("PSHLib.dll loaded and unloaded without the cryptographic service\n");
    return 0;
}

int refusal(const wchar_t* path) {
    const HMODULE library = LoadLibraryW(path);
    if (library == nullptr) {
        std::printf("PSHLib.dll not loaded (error %lu)\n", GetLastError());
        return 1;
    }
    const auto calc = reinterpret_cast<PshCalc>(
        reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(1))));
    if (calc == nullptr) {
        return failed("PSHCalc not found");
    }
    for (int call = 1; call <= 2; ++call) {
        if (calc("RSSMRA80A01H501U") != nullptr) {
            std::printf("PSHCalc call %d gave a pseudonym although the library could not start\n",
                        call);
            return 1;
        }
    }
    FreeLibrary(library);
    std::printf("PSHLib.dll refused to serve: its start failed\n");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wcscmp(argv[1], L"--load-only") == 0) {
        return loadOnly(argv[2]);
    }
    if (argc == 2) {
        return refusal(argv[1]);
    }
    std::fprintf(stderr, "usage: pshlib_refusal [--load-only] PATH\\PSHLib.dll\n");
    return 2;
}
