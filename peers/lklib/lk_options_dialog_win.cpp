// LKConfig on Windows: a small window built here, one field per setting,
// "Salva" writing the values of the current user's key, "Annulla" leaving
// them. It runs its own message loop on the caller's thread and returns when
// it is closed.
#include <optional>
#include <string>
#include <vector>

#include "common/win32.h"
#include "lklib/lk_options_dialog.h"
#include "lklib/lk_settings.h"
#include "lklib/lk_settings_dialog_ids.h"

namespace kvt::lk {
namespace {

constexpr wchar_t kClassName[] = L"LKlibOpzioni";
constexpr int kMargin = 10;
constexpr int kLabelWidth = 230;
constexpr int kEditWidth = 320;
constexpr int kRowHeight = 24;
constexpr int kButtonWidth = 90;

struct DialogState {
    HWND window = nullptr;
    std::vector<HWND> edits;
    bool saved = false;
    bool closed = false;
    std::string error;  // a failure to save, for the log
};

std::wstring editText(HWND edit) {
    std::wstring text(std::size_t(::GetWindowTextLengthW(edit)) + 1, L'\0');
    text.resize(std::size_t(::GetWindowTextW(edit, text.data(), int(text.size()))));
    const auto first = text.find_first_not_of(L" \t");
    const auto last = text.find_last_not_of(L" \t");
    return first == std::wstring::npos ? std::wstring() : text.substr(first, last - first + 1);
}

// Checks every field first, then writes them all: a mistake changes nothing.
bool save(DialogState& state) {
    const auto table = settingTable();
    std::vector<std::pair<const SettingInfo*, std::optional<registry::Value>>> values;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const std::string text = win32::narrow(editText(state.edits[i]));
        registry::Value value;
        if (text.empty()) {
            values.emplace_back(&table[i], std::nullopt);
            continue;
        }
        if (const std::string reason = storedValue(table[i], text, value); !reason.empty()) {
            ::MessageBoxW(state.window, win32::wide(reason).c_str(), kSettingsDialogTitle,
                          MB_OK | MB_ICONWARNING);
            ::SetFocus(state.edits[i]);
            return false;
        }
        values.emplace_back(&table[i], std::move(value));
    }
    HKEY key = nullptr;
    const LSTATUS opened =
        ::RegCreateKeyExW(HKEY_CURRENT_USER, win32::wide(kSettingsKeyPath).c_str(), 0, nullptr, 0,
                          KEY_SET_VALUE, nullptr, &key, nullptr);
    if (opened != ERROR_SUCCESS) {
        state.error = "impostazioni non salvate: " + win32::errorText(DWORD(opened));
        ::MessageBoxW(state.window, win32::wide(state.error).c_str(), kSettingsDialogTitle,
                      MB_OK | MB_ICONERROR);
        return false;
    }
    LSTATUS written = ERROR_SUCCESS;
    for (const auto& [setting, value] : values) {
        const std::wstring name = win32::wide(setting->name);
        LSTATUS result = ERROR_SUCCESS;
        if (!value) {
            result = ::RegDeleteValueW(key, name.c_str());
            if (result == ERROR_FILE_NOT_FOUND) {
                result = ERROR_SUCCESS;
            }
        } else if (value->type == registry::ValueType::Dword) {
            const DWORD number = DWORD(value->number);
            result = ::RegSetValueExW(key, name.c_str(), 0, REG_DWORD,
                                      reinterpret_cast<const BYTE*>(&number), sizeof number);
        } else {
            const std::wstring text = win32::wide(value->text);
            result = ::RegSetValueExW(key, name.c_str(), 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(text.c_str()),
                                      DWORD((text.size() + 1) * sizeof(wchar_t)));
        }
        if (result != ERROR_SUCCESS && written == ERROR_SUCCESS) {
            written = result;
        }
    }
    ::RegCloseKey(key);
    if (written != ERROR_SUCCESS) {
        state.error = "impostazioni non salvate: " + win32::errorText(DWORD(written));
        return false;
    }
    return true;
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<DialogState*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case WM_COMMAND:
            if (state && LOWORD(wParam) == IDOK) {
                if (save(*state)) {
                    state->saved = true;
                    ::DestroyWindow(window);
                }
                return 0;
            }
            if (state && LOWORD(wParam) == IDCANCEL) {
                ::DestroyWindow(window);
                return 0;
            }
            break;
        case WM_CLOSE:
            ::DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            if (state) {
                state->closed = true;
            }
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

HINSTANCE thisModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&windowProcedure), &module);
    return module;
}

// A window station without WSF_VISIBLE (a service's) has no display.
bool hasDisplay() {
    USEROBJECTFLAGS flags{};
    HWINSTA station = ::GetProcessWindowStation();
    return station &&
           ::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

HWND child(HWND parent, const wchar_t* kind, const std::wstring& text, DWORD style, int x, int y,
           int width, int id, HFONT font) {
    HWND control = ::CreateWindowExW(
        std::wstring_view(kind) == L"EDIT" ? WS_EX_CLIENTEDGE : 0, kind, text.c_str(),
        WS_CHILD | WS_VISIBLE | style, x, y, width, kRowHeight - 4, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), thisModule(), nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return control;
}

}  // namespace

std::string runOptionsDialog() {
    if (!hasDisplay()) {
        return "nessun display: finestra non aperta";
    }
    const HINSTANCE module = thisModule();
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &windowProcedure;
    windowClass.hInstance = module;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    ::RegisterClassExW(&windowClass);  // fails harmlessly when registered before

    const auto table = settingTable();
    const int rows = int(table.size());
    RECT frame{0, 0, kMargin * 3 + kLabelWidth + kEditWidth, kMargin * 3 + (rows + 1) * kRowHeight};
    ::AdjustWindowRectEx(&frame, WS_CAPTION | WS_SYSMENU, FALSE, WS_EX_DLGMODALFRAME);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    DialogState state;
    state.window = ::CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kClassName,
                                     kSettingsDialogTitle, WS_CAPTION | WS_SYSMENU | WS_POPUP,
                                     (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                     (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height,
                                     nullptr, nullptr, module, nullptr);
    if (!state.window) {
        return "finestra non aperta: " + win32::errorText(::GetLastError());
    }
    ::SetWindowLongPtrW(state.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    const HFONT font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    for (int i = 0; i < rows; ++i) {
        const SettingInfo& setting = table[std::size_t(i)];
        const int y = kMargin + i * kRowHeight;
        child(state.window, L"STATIC", win32::wide(setting.label), SS_LEFT, kMargin, y + 2,
              kLabelWidth, -1, font);
        DWORD style = WS_TABSTOP | ES_AUTOHSCROLL;
        if (setting.kind == SettingKind::Secret) {
            style |= ES_PASSWORD;
        } else if (setting.kind == SettingKind::Milliseconds) {
            style |= ES_NUMBER;
        }
        state.edits.push_back(child(state.window, L"EDIT", win32::wide(storedText(setting.name)),
                                    style, kMargin * 2 + kLabelWidth, y, kEditWidth,
                                    kSettingsDialogFirstField + i, font));
    }
    const int buttonsY = kMargin * 2 + rows * kRowHeight;
    const int right = kMargin * 2 + kLabelWidth + kEditWidth;
    child(state.window, L"BUTTON", L"Salva", WS_TABSTOP | BS_DEFPUSHBUTTON,
          right - 2 * kButtonWidth - kMargin, buttonsY, kButtonWidth, IDOK, font);
    child(state.window, L"BUTTON", L"Annulla", WS_TABSTOP | BS_PUSHBUTTON, right - kButtonWidth,
          buttonsY, kButtonWidth, IDCANCEL, font);
    ::ShowWindow(state.window, SW_SHOW);
    ::SetForegroundWindow(state.window);
    ::SetFocus(state.edits.front());

    MSG message{};
    BOOL got = TRUE;
    while (!state.closed && (got = ::GetMessageW(&message, nullptr, 0, 0)) > 0) {
        // Tab, Enter (Salva) and Esc (Annulla) as in a dialog.
        if (!::IsDialogMessageW(state.window, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    if (!state.closed) {
        ::DestroyWindow(state.window);
    }
    if (got == 0) {
        // The caller's program is ending: its own loop must see the request too.
        ::PostQuitMessage(int(message.wParam));
    }
    if (!state.error.empty()) {
        return state.error;
    }
    return state.saved ? "impostazioni salvate" : "finestra chiusa senza salvare";
}

}  // namespace kvt::lk
