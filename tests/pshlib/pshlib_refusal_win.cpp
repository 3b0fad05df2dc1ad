// pshlib_refusal PATH\PSHLib.dll: run with the DSS/Diffie-Hellman provider
// switched off (Wine: WINEDLLOVERRIDES=dssenh=), where the library cannot
// start. It must then refuse to load (LoadLibrary fails with
// ERROR_DLL_INIT_FAILED) rather than load without its service. Exit status
// 0 when it refused, 1 otherwise.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pshlib_refusal PATH\\PSHLib.dll\n");
        return 2;
    }
    SetLastError(ERROR_SUCCESS);
    const HMODULE library = LoadLibraryW(argv[1]);
    const DWORD error = GetLastError();
    if (library != nullptr) {
        std::printf("PSHLib.dll loaded although it could not start\n");
        return 1;
    }
    if (error != ERROR_DLL_INIT_FAILED) {
        std::printf("PSHLib.dll not loaded, but with error %lu instead of %lu\n",
                    static_cast<unsigned long>(error),
                    static_cast<unsigned long>(ERROR_DLL_INIT_FAILED));
        return 1;
    }
    std::printf("PSHLib.dll refused to load: its start failed\n");
    return 0;
}
