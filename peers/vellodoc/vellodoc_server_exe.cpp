// vellodoc_server.exe: the host stand-in as a local COM server, in a process
// of its own as an office's host is, so that the program meets a host that
// can be busy, slow, gone or hung.
//
//   vellodoc_server.exe /regserver [machine]     registers it (per user, or
//   vellodoc_server.exe /unregserver [machine]   for every user) / removes it
//   vellodoc_server.exe -Embedding               what COM starts
//
// Started by COM, it serves one client (each activation starts a process of
// its own) and ends when that client has released its object. The faults of
// the host's process are real here: "muore" ends the process at once, as a
// crash does; "blocca" stops answering (for twice the program's waiting
// limit, so that a forgotten server does not stay for ever, then it ends);
// "occupato" refuses calls.
#include <objbase.h>
#include <windows.h>

#include <chrono>
#include <cwchar>
#include <thread>

#include "host/limiti_host.h"
#include "peers/vellodoc/com_server_win.h"
#include "peers/vellodoc/vellodoc_server.h"

namespace {

using namespace kvt::vellodoc;

[[noreturn]] void endAbruptly() {
    ::TerminateProcess(::GetCurrentProcess(), 1);
    for (;;) {
        ::Sleep(INFINITE);
    }
}

void quitLoop() {
    ::PostQuitMessage(0);
}

bool argumentIs(const wchar_t* argument, const wchar_t* name) {
    // "/regserver" and "-regserver" alike, without regard to case.
    return argument && (argument[0] == L'/' || argument[0] == L'-') &&
           ::lstrcmpiW(argument + 1, name) == 0;
}

int serve() {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 1;
    }
    setProcessFaults({endAbruptly,
                      [] {
                          std::this_thread::sleep_for(2 * kvt::automation::limitiHost().attesa);
                          endAbruptly();
                      },
                      true});
    com::setWhenUnused(quitLoop);
    DWORD cookie = 0;
    if (FAILED(::CoRegisterClassObject(com::kClsid, &com::classFactory(), CLSCTX_LOCAL_SERVER,
                                       REGCLS_SINGLEUSE, &cookie))) {
        ::CoUninitialize();
        return 1;
    }
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    ::CoRevokeClassObject(cookie);
    ::CoUninitialize();
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool machine = argc > 2 && ::lstrcmpiW(argv[2], L"machine") == 0;
    const HKEY root = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    if (argc > 1 && argumentIs(argv[1], L"regserver")) {
        return SUCCEEDED(com::registerUnder(root, com::Form::LocalServer)) ? 0 : 1;
    }
    if (argc > 1 && argumentIs(argv[1], L"unregserver")) {
        return SUCCEEDED(com::unregisterFrom(root)) ? 0 : 1;
    }
    if (argc > 1 && argumentIs(argv[1], L"Embedding")) {
        return serve();
    }
    std::fwprintf(stderr, L"uso: vellodoc_server.exe /regserver|/unregserver [machine]\n");
    return 2;
}
