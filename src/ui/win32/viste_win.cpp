// The Win32 views of the program's two windows.
#include "ui/win32/viste_win.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>

#include "common/win32.h"
#include "ui/win32/risorse/id_risorse.h"

namespace kvt::win32 {
namespace {

constexpr const wchar_t* kClasse = L"VelloKvtFinestra";
// Child ids start above IDOK and IDCANCEL: Escape (IDCANCEL) presses no button.
constexpr int kPrimoId = 100;

HINSTANCE modulo() {
    return ::GetModuleHandleW(nullptr);
}

void registraClasse() {
    static const bool registrata = [] {
        WNDCLASSEXW classe{};
        classe.cbSize = sizeof classe;
        classe.lpfnWndProc = ::DefWindowProcW;
        classe.hInstance = modulo();
        classe.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        classe.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        classe.lpszClassName = kClasse;
        // The program icon, in the sizes the title bar and Alt+Tab ask for.
        classe.hIcon = static_cast<HICON>(::LoadImageW(modulo(), MAKEINTRESOURCEW(IDI_PROGRAMMA),
                                                       IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                                       ::GetSystemMetrics(SM_CYICON), 0));
        classe.hIconSm = static_cast<HICON>(
            ::LoadImageW(modulo(), MAKEINTRESOURCEW(IDI_PROGRAMMA), IMAGE_ICON,
                         ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
        return ::RegisterClassExW(&classe) != 0;
    }();
    (void)registrata;
}

std::wstring testoDi(HWND hwnd) {
    std::wstring testo(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
    testo.resize(static_cast<std::size_t>(
        ::GetWindowTextW(hwnd, testo.data(), static_cast<int>(testo.size()))));
    return testo;
}

}  // namespace

// ---- Vista ----

Vista::~Vista() {
    if (hwnd_) {
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
    for (HFONT f : caratteri_) {
        ::DeleteObject(f);
    }
    for (const auto& [id, b] : bitmap_) {
        ::DeleteObject(b);
    }
}

HWND Vista::hwnd(const Control& controllo) const {
    for (const Voce& voce : voci_) {
        if (voce.controllo == &controllo) {
            return voce.hwnd;
        }
    }
    return nullptr;
}

void Vista::creaFinestra(const std::string& titolo, DWORD stile, int larghezza, int altezza) {
    registraClasse();
    const HDC schermo = ::GetDC(nullptr);
    dpi_ = schermo ? ::GetDeviceCaps(schermo, LOGPIXELSY) : 96;
    ::ReleaseDC(nullptr, schermo);
    RECT area{0, 0, px(larghezza), px(altezza)};
    ::AdjustWindowRectEx(&area, stile, FALSE, 0);
    hwnd_ = ::CreateWindowExW(0, kClasse, wide(titolo).c_str(), stile, CW_USEDEFAULT, CW_USEDEFAULT,
                              area.right - area.left, area.bottom - area.top, nullptr, nullptr,
                              modulo(), nullptr);
    if (hwnd_) {
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Vista::procedura));
    }
}

HFONT Vista::carattere(bool grassetto, double scala) {
    NONCLIENTMETRICSW metriche{};
    metriche.cbSize = sizeof metriche;
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metriche, &metriche, 0);
    LOGFONTW descrizione = metriche.lfMessageFont;
    descrizione.lfHeight = static_cast<LONG>(descrizione.lfHeight * scala);
    descrizione.lfWeight = grassetto ? FW_BOLD : FW_NORMAL;
    const HFONT f = ::CreateFontIndirectW(&descrizione);
    caratteri_.push_back(f);
    return f;
}

void Vista::crea(Control& controllo, int x, int y, int w, int h, int bitmap) {
    if (!hwnd_) {
        return;
    }
    const wchar_t* classe = L"STATIC";
    DWORD stile = WS_CHILD;
    DWORD estesa = 0;
    HFONT f = nullptr;
    if (controllo.tabOrder() >= 0) {
        stile |= WS_TABSTOP;
    }
    if (const auto* pulsante = dynamic_cast<const Button*>(&controllo)) {
        classe = L"BUTTON";
        stile |= BS_PUSHBUTTON;
        const Button::Style& s = pulsante->style();
        f = carattere(s.bold, s.small ? 0.85 : 1.0);
    } else if (const auto* etichetta = dynamic_cast<const Label*>(&controllo)) {
        const Label::Style& s = etichetta->style();
        // Names and texts from the host are shown as they are: no '&' prefix.
        stile |= SS_NOPREFIX;
        if (s.wordWrap) {
            stile |= SS_LEFT;
        } else {
            // One line, cut at the window's edge: the window keeps its size.
            stile |= (s.alignment == Label::Alignment::Right ? SS_RIGHT : SS_LEFTNOWORDWRAP) |
                     SS_CENTERIMAGE | SS_ENDELLIPSIS;
        }
        f = carattere(s.bold, s.large ? 1.8 : 1.0);
    } else if (const auto* casella = dynamic_cast<const EditBox*>(&controllo)) {
        classe = L"EDIT";
        stile |= ES_AUTOHSCROLL | (casella->passwordChar() != '\0' ? ES_PASSWORD : 0);
        estesa = WS_EX_CLIENTEDGE;
        f = carattere(false, 1.0);
    } else if (dynamic_cast<const ProgressBar*>(&controllo)) {
        classe = PROGRESS_CLASSW;
    } else if (dynamic_cast<const CheckBox*>(&controllo)) {
        classe = L"BUTTON";
        stile |= BS_AUTOCHECKBOX;
        f = carattere(false, 1.0);
    } else {
        // A picture: its logo drawn by the view; SS_NOTIFY for the double click.
        stile |= SS_OWNERDRAW | SS_NOTIFY;
    }
    const int id = kPrimoId + static_cast<int>(voci_.size());
    const HWND figlio =
        ::CreateWindowExW(estesa, classe, L"", stile, px(x), px(y), px(w), px(h), hwnd_,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), modulo(), nullptr);
    if (!figlio) {
        return;
    }
    if (f) {
        ::SendMessageW(figlio, WM_SETFONT, reinterpret_cast<WPARAM>(f), FALSE);
    }
    if (const auto* casella = dynamic_cast<const EditBox*>(&controllo);
        casella && casella->passwordChar() != '\0') {
        // The model's character, not the common controls' own dot.
        ::SendMessageW(figlio, EM_SETPASSWORDCHAR,
                       static_cast<WPARAM>(static_cast<unsigned char>(casella->passwordChar())), 0);
    }
    if (bitmap != 0) {
        const auto immagine = static_cast<HBITMAP>(::LoadImageW(
            modulo(), MAKEINTRESOURCEW(bitmap), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        if (immagine) {
            bitmap_.emplace_back(bitmap, immagine);
        }
    }
    voci_.push_back({&controllo, figlio, bitmap});
    aggiorna(controllo);
}

void Vista::preparaTastiera() {
    std::vector<Voce> ordine;
    std::copy_if(voci_.begin(), voci_.end(), std::back_inserter(ordine),
                 [](const Voce& v) { return v.controllo->tabOrder() >= 0; });
    std::stable_sort(ordine.begin(), ordine.end(), [](const Voce& a, const Voce& b) {
        return a.controllo->tabOrder() < b.controllo->tabOrder();
    });
    // The tab order is the children's z-order.
    HWND prima = HWND_TOP;
    for (const Voce& voce : ordine) {
        ::SetWindowPos(voce.hwnd, prima, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        prima = voce.hwnd;
    }
    // A window has one default button: when the model marks more (the main
    // window's "Nuovo Invio" and "Riprendi"), the first in tab order.
    for (const Voce& voce : ordine) {
        const auto* pulsante = dynamic_cast<const Button*>(voce.controllo);
        if (pulsante && pulsante->style().isDefault) {
            idPredefinito_ = ::GetDlgCtrlID(voce.hwnd);
            ::SendMessageW(voce.hwnd, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
            break;
        }
    }
}

void Vista::mostra() {
    if (!hwnd_) {
        return;
    }
    RECT finestra;
    ::GetWindowRect(hwnd_, &finestra);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& area = monitor.rcWork;
    const int w = finestra.right - finestra.left;
    const int h = finestra.bottom - finestra.top;
    ::SetWindowPos(hwnd_, nullptr, area.left + (area.right - area.left - w) / 2,
                   area.top + (area.bottom - area.top - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ::ShowWindow(hwnd_, SW_SHOW);
    ::SetForegroundWindow(hwnd_);
    if (HWND primo = ::GetNextDlgTabItem(hwnd_, nullptr, FALSE)) {
        ::SetFocus(primo);
    }
}

void Vista::aggiorna(const Control& controllo) {
    const HWND figlio = hwnd(controllo);
    if (!figlio) {
        return;
    }
    if (const auto* barra = dynamic_cast<const ProgressBar*>(&controllo)) {
        // An empty range would be no bar at all; the model's bar stays still.
        const int massimo = std::max(barra->max(), barra->min() + 1);
        ::SendMessageW(figlio, PBM_SETRANGE32, static_cast<WPARAM>(barra->min()), massimo);
        ::SendMessageW(figlio, PBM_SETPOS,
                       static_cast<WPARAM>(std::clamp(barra->position(), barra->min(), massimo)),
                       0);
    } else if (controllo.kind() != ControlKind::Picture) {
        // Only a change made by the model: the text typed is already there,
        // and setting it again would move the caret.
        const std::wstring testo = wide(controllo.caption());
        if (testoDi(figlio) != testo) {
            ::SetWindowTextW(figlio, testo.c_str());
        }
    }
    if (const auto* casella = dynamic_cast<const CheckBox*>(&controllo)) {
        ::SendMessageW(figlio, BM_SETCHECK, casella->checked() ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    const bool visibile = (::GetWindowLongPtrW(figlio, GWL_STYLE) & WS_VISIBLE) != 0;
    if (visibile != controllo.visible()) {
        ::ShowWindow(figlio, controllo.visible() ? SW_SHOWNA : SW_HIDE);
    }
}

void Vista::ridisegna() {
    if (hwnd_) {
        ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
}

void Vista::gestisci(const Control* controllo) {
    std::string errore = "Errore sconosciuto";
    try {
        if (controllo) {
            clic(*controllo);
        } else {
            chiusura();
        }
        return;
    } catch (const std::exception& eccezione) {
        errore = eccezione.what();
    } catch (...) {
    }
    windowing().messageBox(errore, "Vello KVT", MessageIcon::Error);
}

void Vista::comando(int id, int notifica) {
    for (const Voce& voce : voci_) {
        if (::GetDlgCtrlID(voce.hwnd) != id) {
            continue;
        }
        Control& controllo = *voce.controllo;
        if (controllo.kind() == ControlKind::Edit) {
            if (notifica == EN_CHANGE) {
                // What is typed goes into the model at once: the attempt reads it there.
                controllo.setCaption(narrow(testoDi(voce.hwnd)));
            }
        } else if (controllo.kind() == ControlKind::CheckBox) {
            if (notifica == BN_CLICKED) {
                static_cast<CheckBox&>(controllo).setChecked(
                    ::SendMessageW(voce.hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED);
                gestisci(&controllo);
            }
        } else if (controllo.kind() == ControlKind::Picture) {
            if (notifica == STN_DBLCLK) {
                gestisci(&controllo);
            }
        } else if (notifica == BN_CLICKED) {
            gestisci(&controllo);
        }
        return;
    }
}

void Vista::disegnaImmagine(const DRAWITEMSTRUCT& disegno) {
    ::FillRect(disegno.hDC, &disegno.rcItem, ::GetSysColorBrush(COLOR_BTNFACE));
    for (const Voce& voce : voci_) {
        if (voce.hwnd != disegno.hwndItem) {
            continue;
        }
        for (const auto& [id, immagine] : bitmap_) {
            if (id != voce.bitmap) {
                continue;
            }
            BITMAP b{};
            ::GetObjectW(immagine, sizeof b, &b);
            const HDC memoria = ::CreateCompatibleDC(disegno.hDC);
            const HGDIOBJ prima = ::SelectObject(memoria, immagine);
            // The logo is drawn at the window's scale from its larger original:
            // sharp at 150 % too.
            ::SetStretchBltMode(disegno.hDC, HALFTONE);
            const BLENDFUNCTION fusione{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
            const RECT& r = disegno.rcItem;
            const int lato = std::min(r.right - r.left, r.bottom - r.top);
            ::GdiAlphaBlend(disegno.hDC, r.left + (r.right - r.left - lato) / 2,
                            r.top + (r.bottom - r.top - lato) / 2, lato, lato, memoria, 0, 0,
                            b.bmWidth, b.bmHeight, fusione);
            ::SelectObject(memoria, prima);
            ::DeleteDC(memoria);
        }
    }
}

LRESULT CALLBACK Vista::procedura(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* vista = reinterpret_cast<Vista*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return vista ? vista->messaggio(msg, wParam, lParam)
                 : ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT Vista::messaggio(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_COMMAND:
            comando(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case DM_GETDEFID:
            // Enter, wherever the focus is but on another button.
            return idPredefinito_ ? MAKELRESULT(idPredefinito_, DC_HASDEFID) : 0;
        case WM_DRAWITEM:
            disegnaImmagine(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_SETCURSOR: {
            // The hourglass of a run, also when the mouse moves over a control.
            const auto* finestre = dynamic_cast<const WindowingWin32*>(&windowing());
            if (finestre && finestre->hourglass()) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
                return TRUE;
            }
            break;
        }
        case WM_CLOSE:
            gestisci(nullptr);
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(hwnd_, msg, wParam, lParam);
}

// ---- The login window ----

class VistaLogin::Osservatore final : public LoginObserver {
  public:
    explicit Osservatore(VistaLogin& vista) : vista_(vista) {}
    void controlChanged(const Control& controllo) override { vista_.aggiorna(controllo); }
    void captionChanged(const std::string& titolo) override {
        ::SetWindowTextW(vista_.finestra(), wide(titolo).c_str());
    }
    void repaint() override { vista_.ridisegna(); }
    void closeRequested() override {
        ::ShowWindow(vista_.finestra(), SW_HIDE);
        // The program ends with the login window.
        ::PostQuitMessage(0);
    }
    void translucencyChanged(bool, int opacita) override {
        setWindowOpacity(reinterpret_cast<WindowHandle>(vista_.finestra()), opacita);
    }
    void visibilityChanged(bool visibile) override {
        ::ShowWindow(vista_.finestra(), visibile ? SW_SHOW : SW_HIDE);
    }

  private:
    VistaLogin& vista_;
};

VistaLogin::VistaLogin(TfrmLogin& login)
    : login_(login), osservatore_(std::make_unique<Osservatore>(*this)) {
    // Fixed size: title, system menu and close box only.
    creaFinestra(login_.caption(), WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 392, 124);
    TfrmLogin& m = login_;
    crea(m.VelloLogo, 12, 14, 96, 96, IDB_VELLO);
    crea(m.lblUtente, 122, 22, 76, 22);
    crea(m.txtUtente, 200, 22, 180, 22);
    crea(m.lblPw, 122, 52, 76, 22);
    crea(m.txtPw, 200, 52, 180, 22);
    crea(m.cmdOK, 200, 88, 86, 26);
    crea(m.cmdAnulla, 294, 88, 86, 26);
    preparaTastiera();
    if (finestra() && login_.opacita() < 255) {
        setWindowOpacity(reinterpret_cast<WindowHandle>(finestra()), login_.opacita());
    }
    login_.setObserver(osservatore_.get());
}

VistaLogin::~VistaLogin() {
    login_.setObserver(nullptr);
}

void VistaLogin::clic(const Control& controllo) {
    if (&controllo == &login_.cmdOK) {
        login_.cmdOKClick();
    } else if (&controllo == &login_.cmdAnulla) {
        login_.cmdAnullaClick();
    } else if (&controllo == &login_.VelloLogo) {
        login_.VelloLogoDblClick();
    }
}

void VistaLogin::chiusura() {
    // During an attempt the window stays.
    login_.cmdAnullaClick();
}

// ---- The main window ----

class VistaPrincipale::Osservatore final : public WindowObserver {
  public:
    explicit Osservatore(VistaPrincipale& vista) : vista_(vista) {}
    void controlChanged(const Control& controllo) override { vista_.aggiorna(controllo); }
    void captionChanged(const std::string& titolo) override {
        ::SetWindowTextW(vista_.finestra(), wide(titolo).c_str());
    }
    void repaint() override { vista_.ridisegna(); }
    void closeRequested() override { vista_.chiusa_ = true; }

  private:
    VistaPrincipale& vista_;
};

VistaPrincipale::VistaPrincipale(TfrmMain& finestra)
    : finestra_(finestra), osservatore_(std::make_unique<Osservatore>(*this)) {
    // Fixed size: title, system menu and minimise box only.
    creaFinestra(finestra_.caption(), WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 460,
                 262);
    TfrmMain& m = finestra_;
    crea(m.cmdNuovoInvio, 12, 96, 108, 28);
    crea(m.cmdInvio, 126, 96, 100, 28);
    crea(m.cmdExit, 348, 96, 100, 28);
    crea(m.pBar, 12, 202, 436, 18);
    crea(m.cmdLog, 12, 228, 84, 24);
    crea(m.cmdConnessione, 102, 228, 84, 24);
    crea(m.chkDbg, 370, 228, 78, 24);
    crea(m.cmdConfig, 192, 228, 84, 24);
    crea(m.cmdInvioSingolo, 232, 96, 108, 28);
    crea(m.lblDescr, 98, 12, 350, 72);
    crea(m.imgKvt, 12, 12, 72, 72, IDB_KVT);
    crea(m.lblPaz, 12, 134, 436, 20);
    crea(m.lblFase, 12, 156, 436, 20);
    crea(m.lblConteggio, 12, 178, 436, 20);
    if (HWND logo = hwnd(m.imgKvt)) {
        // The logo in its bevel.
        ::SetWindowLongPtrW(logo, GWL_EXSTYLE,
                            ::GetWindowLongPtrW(logo, GWL_EXSTYLE) | WS_EX_STATICEDGE);
        ::SetWindowPos(logo, nullptr, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    }
    preparaTastiera();
    finestra_.setObserver(osservatore_.get());
}

VistaPrincipale::~VistaPrincipale() {
    finestra_.setObserver(nullptr);
}

void VistaPrincipale::clic(const Control& controllo) {
    TfrmMain& m = finestra_;
    if (&controllo == &m.cmdNuovoInvio) {
        m.cmdNuovoInvioClick();
    } else if (&controllo == &m.cmdInvio) {
        m.cmdInvioClick();
    } else if (&controllo == &m.cmdExit) {
        m.cmdExitClick();
    } else if (&controllo == &m.cmdLog) {
        m.cmdLogClick();
    } else if (&controllo == &m.cmdConnessione) {
        m.cmdConnessioneClick();
    } else if (&controllo == &m.cmdConfig) {
        m.cmdConfigClick();
    } else if (&controllo == &m.cmdInvioSingolo) {
        m.cmdInvioSingoloClick();
    } else if (&controllo == &m.chkDbg) {
        m.chkDbgClick();
    }
}

void VistaPrincipale::chiusura() {
    // A command in progress keeps the window: the run would lose it.
    if (!finestra_.occupata()) {
        chiusa_ = true;
    }
}

void VistaPrincipale::esegui() {
    MSG messaggio;
    while (!chiusa_ && !finestra_.chiusa()) {
        const BOOL esito = ::GetMessageW(&messaggio, nullptr, 0, 0);
        if (esito == 0) {
            // The quit request belongs to the program's own loop.
            ::PostQuitMessage(static_cast<int>(messaggio.wParam));
            return;
        }
        if (esito < 0) {
            return;
        }
        if (!::IsDialogMessageW(finestra(), &messaggio)) {
            ::TranslateMessage(&messaggio);
            ::DispatchMessageW(&messaggio);
        }
    }
}

void FinestreWin32::showModal(ModalWindow& window) {
    auto* principale = dynamic_cast<FinestraPrincipaleModale*>(&window);
    if (!principale) {
        return;
    }
    VistaPrincipale vista(principale->finestra);
    if (!vista.finestra()) {
        return;
    }
    vista.mostra();
    vista.esegui();
}

int avviaFinestre(const std::string& cartellaProgramma) {
    INITCOMMONCONTROLSEX controlli{sizeof controlli, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controlli);

    FinestreWin32 finestre;
    setWindowing(&finestre);
    struct Ripristino {
        ~Ripristino() { setWindowing(nullptr); }
    } ripristino;

    TfrmLogin::Impostazioni impostazioni;
    impostazioni.cartellaProgramma = cartellaProgramma;
    TfrmLogin login(std::move(impostazioni));
    VistaLogin vista(login);
    if (!vista.finestra()) {
        return kNessunaFinestra;
    }
    // The console twin vd_kvt.com started from Explorer got a console of its
    // own: the windows need none. A console someone started it from stays.
    // (vd_kvt.exe, a windowed program, has none.)
    DWORD processi[2];
    if (::GetConsoleProcessList(processi, 2) == 1) {
        ::FreeConsole();
    }
    vista.mostra();
    MSG messaggio;
    while (::GetMessageW(&messaggio, nullptr, 0, 0) > 0) {
        if (!::IsDialogMessageW(vista.finestra(), &messaggio)) {
            ::TranslateMessage(&messaggio);
            ::DispatchMessageW(&messaggio);
        }
    }
    return static_cast<int>(messaggio.wParam);
}

}  // namespace kvt::win32
