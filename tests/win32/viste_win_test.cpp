// The Win32 views of the login and main windows over their models, against
// Wine's window system: every control of both tables with its caption,
// visibility, style and place in the tab order; the models' changes shown;
// typing, clicks, Enter and the logo's double click going back to the models.
#include "ui/win32/viste_win.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "common/win32.h"

namespace kvt::win32 {
namespace {

// A connector that never opens its options dialog nor the network: the
// windows under test must not depend on the prefix's connector settings.
class ConnettoreMuto final : public Connettore {
  public:
    void config() override { ++configurazioni; }
    int connect(const std::string&, const std::string&) override { return -1; }
    std::string query(const std::string&, int, int) override { return {}; }
    int getError() override { return -1; }
    int disconnect() override { return 0; }
    int configurazioni = 0;
};

TfrmLogin::Impostazioni impostazioniCon(Connettore& connettore) {
    TfrmLogin::Impostazioni impostazioni;
    impostazioni.connettore = &connettore;
    return impostazioni;
}

std::string testo(HWND hwnd) {
    wchar_t buffer[512] = {};
    ::GetWindowTextW(hwnd, buffer, 512);
    return narrow(buffer);
}

std::wstring classe(HWND hwnd) {
    wchar_t buffer[64] = {};
    ::GetClassNameW(hwnd, buffer, 64);
    return buffer;
}

LONG_PTR stile(HWND hwnd) {
    return ::GetWindowLongPtrW(hwnd, GWL_STYLE);
}

LOGFONTW carattere(HWND hwnd) {
    LOGFONTW descrizione{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0)),
                 sizeof descrizione, &descrizione);
    return descrizione;
}

// A callback of the system's convention (a lambda has none on 32-bit Windows).
BOOL CALLBACK aggiungi(HWND figlio, LPARAM lista) {
    reinterpret_cast<std::vector<HWND>*>(lista)->push_back(figlio);
    return TRUE;
}

std::vector<HWND> figli(HWND finestra) {
    std::vector<HWND> trovati;
    ::EnumChildWindows(finestra, &aggiungi, reinterpret_cast<LPARAM>(&trovati));
    return trovati;
}

void premi(HWND finestra, HWND controllo, int notifica = BN_CLICKED) {
    ::SendMessageW(finestra, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(controllo), notifica),
                   reinterpret_cast<LPARAM>(controllo));
}

// Every child is one control of the model, in the model's state, and the
// window class each kind needs.
void controllaTabella(const Vista& vista, const std::vector<const Control*>& controlli) {
    EXPECT_EQ(figli(vista.finestra()).size(), controlli.size());
    const std::map<ControlKind, std::wstring> classi = {
        {ControlKind::Button, L"Button"},
        {ControlKind::Label, L"Static"},
        {ControlKind::ProgressBar, L"msctls_progress32"},
        {ControlKind::CheckBox, L"Button"},
        {ControlKind::Picture, L"Static"},
        {ControlKind::Edit, L"Edit"}};
    for (const Control* controllo : controlli) {
        SCOPED_TRACE(controllo->name());
        const HWND hwnd = vista.hwnd(*controllo);
        ASSERT_NE(hwnd, nullptr);
        EXPECT_EQ(::GetParent(hwnd), vista.finestra());
        EXPECT_EQ(_wcsicmp(classe(hwnd).c_str(), classi.at(controllo->kind()).c_str()), 0);
        if (controllo->kind() != ControlKind::Picture &&
            controllo->kind() != ControlKind::ProgressBar) {
            EXPECT_EQ(testo(hwnd), controllo->caption());
        }
        EXPECT_EQ((stile(hwnd) & WS_VISIBLE) != 0, controllo->visible());
        EXPECT_EQ((stile(hwnd) & WS_TABSTOP) != 0, controllo->tabOrder() >= 0);
        if (const auto* pulsante = dynamic_cast<const Button*>(controllo)) {
            EXPECT_EQ(carattere(hwnd).lfWeight >= FW_BOLD, pulsante->style().bold);
        }
        if (const auto* etichetta = dynamic_cast<const Label*>(controllo)) {
            EXPECT_EQ(carattere(hwnd).lfWeight >= FW_BOLD, etichetta->style().bold);
            // Texts of the host are never taken as accelerators.
            EXPECT_NE(stile(hwnd) & SS_NOPREFIX, 0);
        }
    }
}

// The tab order from `primo` through the visible controls, back to the first.
std::vector<HWND> ordineTab(HWND finestra, HWND primo) {
    std::vector<HWND> ordine{primo};
    for (HWND dopo = ::GetNextDlgTabItem(finestra, primo, FALSE);
         dopo && dopo != primo && ordine.size() < 20;
         dopo = ::GetNextDlgTabItem(finestra, dopo, FALSE)) {
        ordine.push_back(dopo);
    }
    return ordine;
}

int predefinito(HWND finestra) {
    const LRESULT risposta = ::SendMessageW(finestra, DM_GETDEFID, 0, 0);
    return HIWORD(risposta) == DC_HASDEFID ? LOWORD(risposta) : 0;
}

#define VISTA_O_SALTA(vista)                                                 \
    if (!(vista).finestra()) {                                               \
        GTEST_SKIP() << "nessun display: le finestre non si possono creare"; \
    }

TEST(VisteWin32, LoginWindowMirrorsItsModelAndDrivesIt) {
    test::RecordingWindowing finestre;
    ConnettoreMuto connettore;
    TfrmLogin login(impostazioniCon(connettore));
    VistaLogin vista(login);
    VISTA_O_SALTA(vista);
    const HWND finestra = vista.finestra();
    TfrmLogin& m = login;

    EXPECT_EQ(testo(finestra), "Vello KVT");
    // Fixed size, no minimise or maximise box.
    EXPECT_EQ(stile(finestra) & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX), 0);
    EXPECT_NE(stile(finestra) & WS_SYSMENU, 0);
    EXPECT_NE(::GetClassLongPtrW(finestra, GCLP_HICON), 0) << "the program icon";
    controllaTabella(vista, {&m.VelloLogo, &m.lblUtente, &m.txtUtente, &m.lblPw, &m.txtPw, &m.cmdOK,
                             &m.cmdAnulla});
    EXPECT_EQ(testo(vista.hwnd(m.cmdOK)), "&OK");
    EXPECT_NE(stile(vista.hwnd(m.txtPw)) & ES_PASSWORD, 0);
    EXPECT_EQ(::SendMessageW(vista.hwnd(m.txtPw), EM_GETPASSWORDCHAR, 0, 0), L'*');
    EXPECT_EQ(stile(vista.hwnd(m.txtUtente)) & ES_PASSWORD, 0);

    // Tab order 0 to 3; Enter presses "OK", Escape (IDCANCEL) no button.
    EXPECT_EQ(ordineTab(finestra, vista.hwnd(m.txtUtente)),
              (std::vector<HWND>{vista.hwnd(m.txtUtente), vista.hwnd(m.txtPw), vista.hwnd(m.cmdOK),
                                 vista.hwnd(m.cmdAnulla)}));
    EXPECT_EQ(predefinito(finestra), ::GetDlgCtrlID(vista.hwnd(m.cmdOK)));
    EXPECT_NE(stile(vista.hwnd(m.cmdOK)) & BS_DEFPUSHBUTTON, 0);
    ::SendMessageW(finestra, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(m.chiusa());

    // Typing reaches the model; the model's text reaches the box.
    ::SetWindowTextW(vista.hwnd(m.txtPw), L"sègreto");
    EXPECT_EQ(m.txtPw.text(), "sègreto");
    m.txtUtente.setText("dott. Bianchi");
    EXPECT_EQ(testo(vista.hwnd(m.txtUtente)), "dott. Bianchi");

    // The logo's double click: a layered window at 200, then opaque again.
    premi(finestra, vista.hwnd(m.VelloLogo), STN_DBLCLK);
    EXPECT_TRUE(m.translucida());
    ASSERT_NE(::GetWindowLongPtrW(finestra, GWL_EXSTYLE) & WS_EX_LAYERED, 0);
    BYTE alfa = 0;
    DWORD flag = 0;
    ASSERT_TRUE(::GetLayeredWindowAttributes(finestra, nullptr, &alfa, &flag));
    EXPECT_EQ(alfa, 200);
    EXPECT_NE(flag & LWA_ALPHA, 0u);
    premi(finestra, vista.hwnd(m.VelloLogo), STN_DBLCLK);
    EXPECT_FALSE(m.translucida());
    EXPECT_EQ(::GetWindowLongPtrW(finestra, GWL_EXSTYLE) & WS_EX_LAYERED, 0);
}

TEST(VisteWin32, FailedLoginLeavesTheWindowAsItWas) {
    test::RecordingWindowing finestre;
    ConnettoreMuto connettore;
    TfrmLogin login(impostazioniCon(connettore));
    VistaLogin vista(login);
    VISTA_O_SALTA(vista);
    vista.mostra();
    // No host session opens for a user the practice does not know (or with
    // no host at all): the attempt fails with a message.
    login.txtUtente.setText("nessuno-prova-viste");
    ::SetWindowTextW(vista.hwnd(login.txtPw), L"sbagliata");
    // Enter in the password box presses the default button.
    ::SetFocus(vista.hwnd(login.txtPw));
    MSG invio{vista.hwnd(login.txtPw), WM_KEYDOWN, VK_RETURN, 0x001C0001, 0, {}};
    EXPECT_TRUE(::IsDialogMessageW(vista.finestra(), &invio));
    EXPECT_FALSE(finestre.messages.empty());
    EXPECT_FALSE(login.chiusa());
    EXPECT_TRUE(login.visibile());
    EXPECT_TRUE(::IsWindowVisible(vista.finestra()));
    EXPECT_EQ(testo(vista.hwnd(login.txtUtente)), "nessuno-prova-viste");
    EXPECT_EQ(login.txtPw.text(), "sbagliata");
    // "Annulla" closes it, which ends the program.
    ::SendMessageW(vista.hwnd(login.cmdAnulla), BM_CLICK, 0, 0);
    EXPECT_TRUE(login.chiusa());
    EXPECT_FALSE(::IsWindowVisible(vista.finestra()));
    MSG uscita;
    EXPECT_TRUE(::PeekMessageW(&uscita, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST(VisteWin32, MainWindowMirrorsItsModelAndClosesAsItSays) {
    test::RecordingWindowing finestre;
    test::TempFolder cartella;
    {
        ConnettoreMuto connettore;
        TfrmMain principale(cartella.path().string(), nullptr, &connettore);
        VistaPrincipale vista(principale);
        VISTA_O_SALTA(vista);
        const HWND finestra = vista.finestra();
        TfrmMain& m = principale;

        EXPECT_EQ(testo(finestra), "Vello KVT v1.46");
        // Fixed size; only the system menu and the minimise box.
        EXPECT_EQ(stile(finestra) & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
        EXPECT_NE(stile(finestra) & WS_MINIMIZEBOX, 0);
        controllaTabella(vista, m.controlli());
        EXPECT_FALSE(::IsWindowVisible(vista.hwnd(m.chkDbg)) ||
                     (stile(vista.hwnd(m.cmdInvioSingolo)) & WS_VISIBLE));
        EXPECT_GT(std::abs(carattere(vista.hwnd(m.lblDescr)).lfHeight),
                  std::abs(carattere(vista.hwnd(m.lblFase)).lfHeight));
        EXPECT_NE(stile(vista.hwnd(m.lblFase)) & SS_RIGHT, 0);

        // The visible controls in tab order; the first default is the window's.
        EXPECT_EQ(ordineTab(finestra, vista.hwnd(m.cmdNuovoInvio)),
                  (std::vector<HWND>{vista.hwnd(m.cmdNuovoInvio), vista.hwnd(m.cmdInvio),
                                     vista.hwnd(m.cmdExit), vista.hwnd(m.cmdLog),
                                     vista.hwnd(m.cmdConnessione), vista.hwnd(m.cmdConfig)}));
        EXPECT_EQ(predefinito(finestra), ::GetDlgCtrlID(vista.hwnd(m.cmdNuovoInvio)));
        EXPECT_EQ(stile(vista.hwnd(m.cmdInvio)) & BS_DEFPUSHBUTTON, 0);

        // The run's labels and bar follow the model; '&' in a name stays.
        m.lblPaz.setCaption("D'ARCO & FIGLI MARIA");
        m.pBar.setRange(0, 12);
        m.pBar.setPosition(5);
        m.chkDbg.setVisible(true);
        EXPECT_EQ(testo(vista.hwnd(m.lblPaz)), "D'ARCO & FIGLI MARIA");
        EXPECT_EQ(::SendMessageW(vista.hwnd(m.pBar), PBM_GETPOS, 0, 0), 5);
        EXPECT_EQ(::SendMessageW(vista.hwnd(m.pBar), PBM_GETRANGE, FALSE, 0), 12);
        EXPECT_NE(stile(vista.hwnd(m.chkDbg)) & WS_VISIBLE, 0);

        // The check's state is the model's.
        ::SendMessageW(vista.hwnd(m.chkDbg), BM_CLICK, 0, 0);
        EXPECT_TRUE(m.chkDbg.checked());

        // "Uscita" closes the window through the model.
        EXPECT_FALSE(vista.chiusa());
        ::SendMessageW(vista.hwnd(m.cmdExit), BM_CLICK, 0, 0);
        EXPECT_TRUE(m.chiusa());
        EXPECT_TRUE(vista.chiusa());
        EXPECT_TRUE(finestre.messages.empty());
    }
}

}  // namespace
}  // namespace kvt::win32
