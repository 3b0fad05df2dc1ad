// The library's loader hook and messages on Windows.
#include <windows.h>

#include "common/win32.h"
#include "pshlib/library.h"

// Nothing but bookkeeping under the loader's lock: the cryptographic service
// is acquired on the first PSHCalc (startOnFirstUse), and released when the
// library is unloaded by FreeLibrary. At process exit (reserved not null)
// other threads are gone mid-call and the service's own libraries may be
// unloaded already: the system takes the contexts back with the process.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            DisableThreadLibraryCalls(instance);
            break;
        case DLL_PROCESS_DETACH:
            if (reserved == nullptr) {
                kvt::psh::libraryExit();
            }
            break;
        default:
            break;
    }
    return TRUE;
}

namespace kvt::psh {
namespace {

constexpr const wchar_t* kTitle = L"PSHLib DLL";

// The start, once: a start that failed has shown its message box and is not
// tried again, every PSHCalc then answers null.
BOOL CALLBACK startOnce(PINIT_ONCE, PVOID, PVOID*) {
    kvt::psh::libraryStart();
    return TRUE;
}

}  // namespace

void startOnFirstUse() {
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(&once, startOnce, nullptr, nullptr);
}

void showInformation(const std::string& text) {
    MessageBoxW(nullptr, win32::wide(text).c_str(), kTitle, MB_OK | MB_ICONINFORMATION);
}

void showError(const std::string& title, const std::string& text) {
    MessageBoxW(nullptr, win32::wide(text).c_str(), win32::wide(title).c_str(),
                MB_OK | MB_ICONERROR);
}

}  // namespace kvt::psh
