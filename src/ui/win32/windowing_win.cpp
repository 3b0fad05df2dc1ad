// Windowing over Win32 for the program's windows.
#include "ui/win32/windowing_win.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <optional>
#include <vector>

#include "common/win32.h"

namespace kvt {
namespace {

HWND toHwnd(WindowHandle window) {
    return reinterpret_cast<HWND>(window);
}

UINT iconFlags(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return MB_ICONINFORMATION;
        case MessageIcon::Error:
            return MB_ICONERROR;
        case MessageIcon::None:
            break;
    }
    return 0;
}

// Keeps a visible, enabled window in the list; a callback of the system's
// own convention (a lambda has none on 32-bit Windows).
BOOL CALLBACK aggiungiAbilitata(HWND hwnd, LPARAM lista) {
    if (::IsWindowVisible(hwnd) && ::IsWindowEnabled(hwnd)) {
        reinterpret_cast<std::vector<HWND>*>(lista)->push_back(hwnd);
    }
    return TRUE;
}

// The thread's visible, enabled top-level windows, disabled for as long as
// the object lives: clicks on them are dropped, not kept for later.
class FinestreDisabilitate {
  public:
    explicit FinestreDisabilitate(bool disabilita) {
        if (!disabilita) {
            return;
        }
        attiva_ = ::GetActiveWindow();
        ::EnumThreadWindows(::GetCurrentThreadId(), &aggiungiAbilitata,
                            reinterpret_cast<LPARAM>(&finestre_));
        for (HWND hwnd : finestre_) {
            ::EnableWindow(hwnd, FALSE);
        }
    }
    ~FinestreDisabilitate() {
        for (HWND hwnd : finestre_) {
            if (::IsWindow(hwnd)) {
                ::EnableWindow(hwnd, TRUE);
            }
        }
        if (attiva_ && ::IsWindow(attiva_)) {
            ::SetForegroundWindow(attiva_);
        }
    }
    FinestreDisabilitate(const FinestreDisabilitate&) = delete;
    FinestreDisabilitate& operator=(const FinestreDisabilitate&) = delete;

  private:
    HWND attiva_ = nullptr;
    std::vector<HWND> finestre_;
};

}  // namespace

WindowingWin32::~WindowingWin32() {
    setHourglass(false);
}

void WindowingWin32::messageBox(const std::string& text, const std::string& title,
                                MessageIcon icon) {
    // The operator reads the message with the normal cursor; the hourglass
    // comes back after.
    const bool hourglass = hourglass_;
    setHourglass(false);
    // Owned by the active window, which stays disabled while the box is
    // shown; without one, every window of the thread waits for the answer.
    const HWND owner = ::GetActiveWindow();
    ::MessageBoxW(owner, win32::wide(text).c_str(), win32::wide(title).c_str(),
                  MB_OK | iconFlags(icon) | (owner ? 0 : MB_TASKMODAL));
    setHourglass(hourglass);
}

WindowHandle WindowingWin32::foregroundWindow() {
    return reinterpret_cast<WindowHandle>(::GetForegroundWindow());
}

void WindowingWin32::setForegroundWindow(WindowHandle window) {
    const HWND hwnd = toHwnd(window);
    if (!hwnd || !::IsWindow(hwnd)) {
        return;
    }
    DWORD process = 0;
    ::GetWindowThreadProcessId(hwnd, &process);
    if (process != ::GetCurrentProcessId() || ::GetForegroundWindow() == hwnd) {
        return;
    }
    ::SetForegroundWindow(hwnd);
}

void WindowingWin32::setHourglass(bool on) {
    if (on == hourglass_) {
        return;
    }
    hourglass_ = on;
    if (on) {
        cursorBefore_ =
            reinterpret_cast<std::uintptr_t>(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT)));
    } else {
        HCURSOR before = reinterpret_cast<HCURSOR>(cursorBefore_);
        ::SetCursor(before ? before : ::LoadCursorW(nullptr, IDC_ARROW));
        cursorBefore_ = 0;
    }
}

void WindowingWin32::processMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

void WindowingWin32::waitFor(Attesa& attesa, bool finestraAltrui) {
    const DWORD thread = ::GetCurrentThreadId();
    // Any message wakes the wait below; this one comes when the work ends.
    if (!attesa.allaConclusione([thread] { ::PostThreadMessageW(thread, WM_NULL, 0, 0); })) {
        return;
    }
    const FinestreDisabilitate disabilitate(finestraAltrui);
    std::optional<int> uscita;
    while (!attesa.conclusa()) {
        MSG message;
        while (!attesa.conclusa() && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                uscita = static_cast<int>(message.wParam);
                continue;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (!attesa.conclusa()) {
            ::MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        }
    }
    if (uscita) {
        ::PostQuitMessage(*uscita);
    }
}

void WindowingWin32::openDocument(const std::string& path) {
    const HINSTANCE result = ::ShellExecuteW(
        ::GetActiveWindow(), L"open", win32::wide(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    // Values up to 32 are the shell's errors.
    if (reinterpret_cast<INT_PTR>(result) <= 32) {
        messageBox("Nessun programma per aprire il file: " + path, "Vello KVT",
                   MessageIcon::Information);
    }
}

bool setWindowOpacity(WindowHandle window, int alpha) {
    const HWND hwnd = toHwnd(window);
    if (!::IsWindow(hwnd)) {
        return false;
    }
    const LONG_PTR style = ::GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
    if (alpha >= 255) {
        // An ordinary window again: nothing is composed any more.
        ::SetWindowLongPtrW(hwnd, GWL_EXSTYLE, style & ~static_cast<LONG_PTR>(WS_EX_LAYERED));
        return (::GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_LAYERED) == 0;
    }
    ::SetWindowLongPtrW(hwnd, GWL_EXSTYLE, style | WS_EX_LAYERED);
    return ::SetLayeredWindowAttributes(hwnd, 0, static_cast<BYTE>(alpha < 0 ? 0 : alpha),
                                        LWA_ALPHA) != 0;
}

}  // namespace kvt
