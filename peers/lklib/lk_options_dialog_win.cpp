// LKConfig on Windows: a small window built here, one field per setting
// (with a file picker for the paths), "Salva" checking every field and only
// then writing the values of the current user's key, "Annulla" leaving
// them. It runs its own message loop on the caller's thread and returns when
// it is closed.
#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/win32.h"
// After <windows.h>, which they need.
#include <cderr.h>
#include <commctrl.h>
#include <commdlg.h>

#include "lklib/lk_options_dialog.h"
#include "lklib/lk_settings.h"
#include "lklib/lk_settings_dialog_ids.h"

namespace kvt::lk {
namespace {

constexpr wchar_t kClassName[] = L"LKlibOpzioni";
constexpr wchar_t kBrowseText[] = L"Sfoglia...";
// The "Sfoglia..." button of a path field: its field's number plus this.
constexpr int kBrowseOffset = 1000;

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

// The file picker of a path field; what is chosen replaces the field's text.
// The working folder stays the program's (OFN_NOCHANGEDIR): it relies on it.
void browse(DialogState& state, std::size_t index) {
    const SettingInfo& setting = settingTable()[index];
    const bool forLog = setting.name == "LogFilename";
    std::vector<wchar_t> file(32768, L'\0');
    const std::wstring current = editText(state.edits[index]);
    current.copy(file.data(), std::min(current.size(), file.size() - 1));
    OPENFILENAMEW request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = state.window;
    request.lpstrFile = file.data();
    request.nMaxFile = DWORD(file.size());
    request.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
    if (forLog) {
        request.lpstrTitle = L"File di log";
        request.lpstrFilter = L"File di log (*.log, *.txt)\0*.log;*.txt\0Tutti (*.*)\0*.*\0";
    } else {
        request.lpstrTitle = L"Certificati di fiducia";
        request.lpstrFilter = L"Certificati PEM (*.pem, *.crt)\0*.pem;*.crt\0Tutti (*.*)\0*.*\0";
        request.Flags |= OFN_FILEMUSTEXIST;
    }
    const auto pick = [&] {
        return forLog ? ::GetSaveFileNameW(&request) : ::GetOpenFileNameW(&request);
    };
    BOOL chosen = pick();
    if (!chosen && ::CommDlgExtendedError() == FNERR_INVALIDFILENAME) {
        // The field's text is no file name the picker takes: start empty.
        file[0] = L'\0';
        chosen = pick();
    }
    if (chosen) {
        ::SetWindowTextW(state.edits[index], file.data());
    }
    ::SetFocus(state.edits[index]);
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<DialogState*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (state && id == IDOK) {
                if (save(*state)) {
                    state->saved = true;
                    ::DestroyWindow(window);
                }
                return 0;
            }
            if (state && id == IDCANCEL) {
                ::DestroyWindow(window);
                return 0;
            }
            const int field = id - kBrowseOffset - kSettingsDialogFirstField;
            if (state && field >= 0 && std::size_t(field) < state->edits.size()) {
                browse(*state, std::size_t(field));
                return 0;
            }
            break;
        }
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

// Common controls 6 from the library's own manifest, for as long as the
// dialog runs: the loading program may declare none, and then its windows
// and this dialog would get the old controls.
class CurrentControls {
  public:
    explicit CurrentControls(HMODULE module) {
        wchar_t path[MAX_PATH * 4] = {};
        ::GetModuleFileNameW(module, path, DWORD(std::size(path)));
        ACTCTXW request{};
        request.cbSize = sizeof request;
        request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.lpSource = path;
        request.hModule = module;
        request.lpResourceName = ISOLATIONAWARE_MANIFEST_RESOURCE_ID;
        context_ = ::CreateActCtxW(&request);
        if (context_ != INVALID_HANDLE_VALUE) {
            active_ = ::ActivateActCtx(context_, &cookie_);
        }
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&classes);
    }
    ~CurrentControls() {
        if (active_) {
            ::DeactivateActCtx(0, cookie_);
        }
        if (context_ != INVALID_HANDLE_VALUE) {
            ::ReleaseActCtx(context_);
        }
    }
    CurrentControls(const CurrentControls&) = delete;
    CurrentControls& operator=(const CurrentControls&) = delete;

  private:
    HANDLE context_ = INVALID_HANDLE_VALUE;
    ULONG_PTR cookie_ = 0;
    BOOL active_ = FALSE;
};

// The system's message font and its bold face (the labels), released at the end.
struct Fonts {
    HFONT normal = nullptr;
    HFONT bold = nullptr;
    Fonts() {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
            normal = ::CreateFontIndirectW(&metrics.lfMessageFont);
            metrics.lfMessageFont.lfWeight = FW_BOLD;
            bold = ::CreateFontIndirectW(&metrics.lfMessageFont);
        }
    }
    ~Fonts() {
        for (HFONT font : {normal, bold}) {
            if (font) {
                ::DeleteObject(font);
            }
        }
    }
    Fonts(const Fonts&) = delete;
    Fonts& operator=(const Fonts&) = delete;
    HFONT text() const { return normal ? normal : HFONT(::GetStockObject(DEFAULT_GUI_FONT)); }
    HFONT label() const { return bold ? bold : text(); }
};

// Sizes in pixels from the font, so that no text is cut at any font size.
struct Layout {
    int margin = 0, gap = 0, labelWidth = 0, editWidth = 0, editHeight = 0, rowHeight = 0,
        textHeight = 0, browseWidth = 0, buttonWidth = 0, buttonHeight = 0;

    Layout(const Fonts& fonts, std::span<const SettingInfo> table) {
        // The screen's own font goes back before the DC is released: a font
        // left selected in it cannot be deleted with the dialog, and leaks.
        HDC screen = ::GetDC(nullptr);
        const HGDIOBJ screenFont = ::SelectObject(screen, fonts.text());
        const auto width = [screen](HFONT font, const std::wstring& text) {
            ::SelectObject(screen, font);
            SIZE size{};
            ::GetTextExtentPoint32W(screen, text.c_str(), int(text.size()), &size);
            return int(size.cx);
        };
        for (const SettingInfo& setting : table) {
            labelWidth = std::max(labelWidth, width(fonts.label(), win32::wide(setting.label)));
        }
        const int browseText = width(fonts.text(), kBrowseText);
        const int buttonText =
            std::max(width(fonts.text(), L"Salva"), width(fonts.text(), L"Annulla"));
        TEXTMETRICW metrics{};
        ::SelectObject(screen, fonts.text());
        ::GetTextMetricsW(screen, &metrics);
        ::SelectObject(screen, screenFont);
        ::ReleaseDC(nullptr, screen);
        const int average = std::max(1, int(metrics.tmAveCharWidth));
        textHeight = metrics.tmHeight;
        margin = average * 2;
        gap = average;
        editHeight = textHeight + 8;
        rowHeight = editHeight + average;
        // Room for a URL or a path: the dialog does not grow.
        editWidth = average * 56;
        browseWidth = browseText + average * 3;
        buttonWidth = std::max(buttonText + average * 4, average * 12);
        buttonHeight = editHeight + 2;
    }
    int clientWidth() const { return margin * 2 + labelWidth + gap * 2 + editWidth; }
};

HWND child(HWND parent, const wchar_t* kind, const std::wstring& text, DWORD style, RECT place,
           int id, HFONT font) {
    HWND control =
        ::CreateWindowExW(std::wstring_view(kind) == L"EDIT" ? WS_EX_CLIENTEDGE : 0, kind,
                          text.c_str(), WS_CHILD | WS_VISIBLE | style, place.left, place.top,
                          place.right - place.left, place.bottom - place.top, parent,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), thisModule(), nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return control;
}

// What an empty field means, greyed inside it as lkconfig shows it.
std::wstring hint(const SettingInfo& setting) {
    switch (setting.kind) {
        case SettingKind::Milliseconds:
            return std::to_wstring(setting.defaultValue);
        case SettingKind::Text:
            return L"https://raccolta.example.org/lk";
        case SettingKind::ProxyUrl:
            return L"http://proxy:3128 (vuoto: nessuno)";
        default:
            return {};
    }
}

// One label and its field (with "Sfoglia..." for a path) per setting, and
// "Salva" / "Annulla" at the bottom right; the edits in table order.
void addControls(DialogState& state, const Fonts& fonts, const Layout& layout) {
    const auto table = settingTable();
    const int fieldX = layout.margin + layout.labelWidth + layout.gap * 2;
    const int fieldRight = fieldX + layout.editWidth;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const SettingInfo& setting = table[i];
        const int id = kSettingsDialogFirstField + int(i);
        const int y = layout.margin + int(i) * layout.rowHeight;
        const int labelY = y + (layout.editHeight - layout.textHeight) / 2;
        child(
            state.window, L"STATIC", win32::wide(setting.label), SS_LEFT | SS_NOPREFIX,
            {layout.margin, labelY, layout.margin + layout.labelWidth, labelY + layout.textHeight},
            -1, fonts.label());
        DWORD style = WS_TABSTOP | ES_AUTOHSCROLL;
        if (setting.kind == SettingKind::Secret) {
            style |= ES_PASSWORD;
        } else if (setting.kind == SettingKind::Milliseconds) {
            style |= ES_NUMBER;
        }
        const bool path = setting.kind == SettingKind::Path;
        const int editRight = path ? fieldRight - layout.browseWidth - layout.gap : fieldRight;
        HWND edit = child(state.window, L"EDIT", win32::wide(storedText(setting.name)), style,
                          {fieldX, y, editRight, y + layout.editHeight}, id, fonts.text());
        if (setting.kind == SettingKind::Secret) {
            // Dots, as common controls 6 show them on Windows (Wine's show '*').
            ::SendMessageW(edit, EM_SETPASSWORDCHAR, WPARAM(L'\u25CF'), 0);
        }
        if (const std::wstring text = hint(setting); !text.empty()) {
            ::SendMessageW(edit, EM_SETCUEBANNER, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
        }
        state.edits.push_back(edit);
        if (path) {
            child(state.window, L"BUTTON", kBrowseText, WS_TABSTOP | BS_PUSHBUTTON,
                  {fieldRight - layout.browseWidth, y - 1, fieldRight, y + layout.editHeight + 1},
                  id + kBrowseOffset, fonts.text());
        }
    }
    const int buttonsY = layout.margin + int(table.size()) * layout.rowHeight + layout.gap;
    const int cancelLeft = fieldRight - layout.buttonWidth;
    const int saveLeft = cancelLeft - layout.gap - layout.buttonWidth;
    child(state.window, L"BUTTON", L"Salva", WS_TABSTOP | BS_DEFPUSHBUTTON,
          {saveLeft, buttonsY, saveLeft + layout.buttonWidth, buttonsY + layout.buttonHeight}, IDOK,
          fonts.text());
    child(state.window, L"BUTTON", L"Annulla", WS_TABSTOP | BS_PUSHBUTTON,
          {cancelLeft, buttonsY, fieldRight, buttonsY + layout.buttonHeight}, IDCANCEL,
          fonts.text());
}

}  // namespace

std::string runOptionsDialog() {
    if (!hasDisplay()) {
        return "nessun display: finestra non aperta";
    }
    const HINSTANCE module = thisModule();
    const CurrentControls controls(module);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &windowProcedure;
    windowClass.hInstance = module;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    ::RegisterClassExW(&windowClass);  // fails harmlessly when registered before

    const Fonts fonts;
    const auto table = settingTable();
    const Layout layout(fonts, table);
    const int rows = int(table.size());
    RECT frame{0, 0, layout.clientWidth(),
               layout.margin * 2 + rows * layout.rowHeight + layout.gap + layout.buttonHeight};
    const DWORD style = WS_CAPTION | WS_SYSMENU | WS_POPUP;
    ::AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    // Centred on the monitor that holds the foreground window (the program's).
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(::GetForegroundWindow(), MONITOR_DEFAULTTOPRIMARY),
                      &monitor);
    const RECT& work = monitor.rcWork;
    DialogState state;
    state.window = ::CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kClassName,
                                     kSettingsDialogTitle, style,
                                     work.left + (work.right - work.left - width) / 2,
                                     work.top + (work.bottom - work.top - height) / 2, width,
                                     height, nullptr, nullptr, module, nullptr);
    if (!state.window) {
        return "finestra non aperta: " + win32::errorText(::GetLastError());
    }
    ::SetWindowLongPtrW(state.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    addControls(state, fonts, layout);
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
