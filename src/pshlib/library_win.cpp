// The library's loader hook and messages on Windows.
#include <windows.h>

#include "common/win32.h"
#include "pshlib/library.h"

// A library that could not start refuses to load: LoadLibrary fails, and a
// program that links the library delay-loaded gets the failure of its first
// call instead of a library that cannot pseudonymise.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            return kvt::psh::libraryStart() ? TRUE : FALSE;
        case DLL_PROCESS_DETACH:
            kvt::psh::libraryExit();
            break;
        default:
            break;
    }
    return TRUE;
}

namespace kvt::psh {
namespace {

constexpr const wchar_t* kTitle = L"PSHLib DLL";

}  // namespace

void showInformation(const std::string& text) {
    MessageBoxW(nullptr, win32::wide(text).c_str(), kTitle, MB_OK | MB_ICONINFORMATION);
}

void showError(const std::string& title, const std::string& text) {
    MessageBoxW(nullptr, win32::wide(text).c_str(), win32::wide(title).c_str(),
                MB_OK | MB_ICONERROR);
}

}  // namespace kvt::psh
