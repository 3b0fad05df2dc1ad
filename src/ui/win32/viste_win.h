#pragma once
// The Win32 views of the login window and the main window. Each view keeps
// one child window per control of its model and shows in it what the model
// holds (caption, visibility, range and position, check, text); clicks and
// typing go back to the model's handlers. The windowing that shows the main
// window modally lives here too, since it builds that view.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "app/frm_login.h"
#include "app/frm_main.h"
#include "ui/win32/windowing_win.h"

namespace kvt::win32 {

// A top-level window mirroring a model's controls.
class Vista {
  public:
    Vista(const Vista&) = delete;
    Vista& operator=(const Vista&) = delete;
    virtual ~Vista();

    // Null when the system made no window (no desktop to show it on).
    HWND finestra() const { return hwnd_; }
    // The child window of a control; null for a control without one.
    HWND hwnd(const Control& controllo) const;
    // Shows the window centred on its monitor, the focus on the first
    // control of the tab order.
    void mostra();

  protected:
    Vista() = default;
    // Client size in pixels at 96 dpi; the view scales it to the system's dpi.
    void creaFinestra(const std::string& titolo, DWORD stile, int larghezza, int altezza);
    // A control's child window at (x, y, w, h), 96-dpi pixels. `bitmap`: the
    // resource a picture shows.
    void crea(Control& controllo, int x, int y, int w, int h, int bitmap = 0);
    // Chains the tab order through the controls in the model's order and
    // makes the first default button of that order the window's default.
    void preparaTastiera();
    void aggiorna(const Control& controllo);
    void ridisegna();

    virtual void clic(const Control& controllo) = 0;
    // The close box or Alt+F4.
    virtual void chiusura() = 0;

  private:
    struct Voce {
        Control* controllo;
        HWND hwnd;
        int bitmap;
    };
    static LRESULT CALLBACK procedura(HWND, UINT, WPARAM, LPARAM);
    LRESULT messaggio(UINT, WPARAM, LPARAM);
    void comando(int id, int notifica);
    // A control's click, or the close box for none. A handler's failure
    // reaches the operator as a message; it never unwinds through the window
    // system.
    void gestisci(const Control* controllo);
    void disegnaImmagine(const DRAWITEMSTRUCT& disegno);
    HFONT carattere(bool grassetto, double scala);
    int px(int valore) const { return MulDiv(valore, dpi_, 96); }

    HWND hwnd_ = nullptr;
    int dpi_ = 96;
    int idPredefinito_ = 0;
    std::vector<Voce> voci_;
    std::vector<HFONT> caratteri_;
    std::vector<std::pair<int, HBITMAP>> bitmap_;
};

class VistaLogin final : public Vista {
  public:
    explicit VistaLogin(TfrmLogin& login);
    ~VistaLogin() override;

  private:
    class Osservatore;
    void clic(const Control& controllo) override;
    void chiusura() override;

    TfrmLogin& login_;
    std::unique_ptr<Osservatore> osservatore_;
};

class VistaPrincipale final : public Vista {
  public:
    explicit VistaPrincipale(TfrmMain& finestra);
    ~VistaPrincipale() override;
    // Runs the window modally until the model or the operator closes it.
    void esegui();
    bool chiusa() const { return chiusa_; }

  private:
    class Osservatore;
    void clic(const Control& controllo) override;
    void chiusura() override;

    TfrmMain& finestra_;
    std::unique_ptr<Osservatore> osservatore_;
    bool chiusa_ = false;
};

// The Win32 windowing with the main window shown modally through its view.
class FinestreWin32 final : public WindowingWin32 {
  public:
    void showModal(ModalWindow& window) override;
};

// What avviaFinestre gives when no window could be made.
constexpr int kNessunaFinestra = -1;
// The login window on the program's folder, then the main window of each
// attempt; the program's exit status, or kNessunaFinestra.
int avviaFinestre(const std::string& cartellaProgramma);

}  // namespace kvt::win32
