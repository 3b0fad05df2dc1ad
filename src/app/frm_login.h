#pragma once
// The login window `frmLogin`, the program's first and main window: a model of
// its controls. It asks for the host user and password; each confirmation
// makes a fresh main window and lets it open the host session, load the
// doctor's patients and show itself modally (TfrmMain::inizializza). When the
// operator leaves the main window the login window closes and the program
// ends; a failed attempt leaves it open for another try.
#include <functional>
#include <string>

#include "app/controls.h"
#include "common/windowing.h"

namespace kvt {

class Connettore;
class TfrmMain;

// An edit box: its caption is the text in it. A password box shows its
// password character for every character typed.
class EditBox : public Control {
  public:
    EditBox(WindowObserver* const& observer, std::string name, int tabOrder,
            char passwordChar = '\0');
    const std::string& text() const { return caption(); }
    // A password box never leaves the text it replaces behind in memory.
    void setText(std::string text) {
        if (passwordChar_ != '\0') {
            replaceSecretCaption(std::move(text));
        } else {
            setCaption(std::move(text));
        }
    }
    // '\0' for a box that shows what is typed.
    char passwordChar() const { return passwordChar_; }

  private:
    char passwordChar_;
};

// What a view of the login window is told beyond its controls.
class LoginObserver : public WindowObserver {
  public:
    // The window became translucent (opacity of 255) or opaque again.
    virtual void translucencyChanged(bool translucent, int opacity) {
        (void)translucent;
        (void)opacity;
    }
    // The window was hidden (while the main window is shown) or shown again.
    virtual void visibilityChanged(bool visible) { (void)visible; }
};

// The main window as a login attempt shows it modally through the windowing
// seam: the front end takes the model from here and runs its view of it
// until the window is closed.
class FinestraPrincipaleModale final : public ModalWindow {
  public:
    explicit FinestraPrincipaleModale(TfrmMain& finestra) : finestra(finestra) {}
    TfrmMain& finestra;
};

class TfrmLogin {
  public:
    static constexpr const char* kTitolo = "Vello KVT";
    // The opacity of the translucent window, of 255.
    static constexpr int kOpacitaTraslucida = 200;

    struct Impostazioni {
        // The folder that holds the program (--program-dir or the executable's).
        std::string cartellaProgramma;
        // The connector each main window uses; nullptr: the connector library.
        Connettore* connettore = nullptr;
        // Called on every new main window before it opens the host session:
        // the front end attaches its view and sets what it needs.
        std::function<void(TfrmMain&)> preparaFinestra;
    };

    // Creating the window runs FormCreate, as the window system does.
    explicit TfrmLogin(Impostazioni impostazioni);
    TfrmLogin(const TfrmLogin&) = delete;
    TfrmLogin& operator=(const TfrmLogin&) = delete;

    // ---- The controls (tab order 0 to 3 for the boxes and buttons) ----
    // The observer slot comes first: every control reads it.
  private:
    WindowObserver* observer_ = nullptr;
    LoginObserver* loginObserver_ = nullptr;

  public:
    Picture VelloLogo;
    Label lblUtente;
    EditBox txtUtente;
    Label lblPw;
    EditBox txtPw;
    // The default button (Enter in either box); no button answers Escape.
    Button cmdOK;
    Button cmdAnulla;

    // The view that mirrors the window; nullptr for none. The caller keeps it alive.
    void setObserver(LoginObserver* observer);

    const std::string& caption() const { return caption_; }
    bool translucida() const { return translucida_; }
    // 255 while opaque, kOpacitaTraslucida while translucent.
    int opacita() const { return translucida_ ? kOpacitaTraslucida : 255; }
    bool visibile() const { return visibile_; }
    // True while a login attempt runs: the window takes no input.
    bool tentativoInCorso() const { return tentativoInCorso_; }
    // True once the window has closed; the program ends.
    bool chiusa() const { return chiusa_; }

    // ---- Handlers ----
    // Fills txtUtente with the host's last user name ("ultimo_utente").
    void FormCreate();
    void FormPaint() {}
    // One login attempt with the texts of the two boxes, exactly as typed.
    void cmdOKClick();
    // Closes the window, which ends the program.
    void cmdAnullaClick();
    // Switches the translucency on or off.
    void VelloLogoDblClick();

    // Hides the window while the main window is shown (TfrmMain::inizializza).
    void nascondi();

  private:
    void impostaVisibile(bool visibile);
    void chiudi();

    Impostazioni impostazioni_;
    std::string caption_ = kTitolo;
    bool translucida_ = false;
    bool visibile_ = true;
    bool tentativoInCorso_ = false;
    bool chiusa_ = false;
};

}  // namespace kvt
