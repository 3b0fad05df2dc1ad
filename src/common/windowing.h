#pragma once
// Windowing seam: what the core asks of the window system. The Qt front end,
// the headless front end and the tests each install their own implementation;
// the core never includes a toolkit header.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace kvt {

enum class MessageIcon { None, Information, Error };

// An opaque window identity, 0 for none.
using WindowHandle = std::uintptr_t;

// A window of the core shown modally. The front end that shows it knows the
// model behind it (it builds the view) and runs it until it is closed.
class ModalWindow {
  public:
    virtual ~ModalWindow() = default;
};

// Work handed to another thread, which the window thread waits for. The
// worker concludes it once; the waiting side either blocks (attendi) or, in a
// window system, asks to be woken (allaConclusione) and keeps handling its
// messages meanwhile.
class Attesa {
  public:
    // From the worker's thread: the work is done. The object may be gone as
    // soon as this returns to the waiter, so nothing of it is touched after.
    void concludi();
    bool conclusa() const;
    // Blocks the calling thread until the work is done.
    void attendi();
    // `sveglia` is called on the worker's thread when the work ends, to wake
    // the waiting thread; false (and no call) when it has ended already.
    bool allaConclusione(std::function<void()> sveglia);

  private:
    mutable std::mutex mutex_;
    std::condition_variable fatto_;
    bool conclusa_ = false;
    std::function<void()> sveglia_;
};

class Windowing {
  public:
    virtual ~Windowing() = default;

    // A modal message box with one OK button; returns when it is answered.
    virtual void messageBox(const std::string& text, const std::string& title = "Vello KVT",
                            MessageIcon icon = MessageIcon::None) = 0;
    virtual WindowHandle foregroundWindow() = 0;
    virtual void setForegroundWindow(WindowHandle window) = 0;
    // The hourglass cursor while a long operation runs.
    virtual void setHourglass(bool on) = 0;
    // Lets the window system handle waiting messages (repaint, clicks).
    virtual void processMessages() = 0;
    // Returns once `attesa` is concluded by the thread doing the work; a
    // window system handles its messages meanwhile (repaint, moves, clicks
    // that the busy window refuses), so that the window keeps answering.
    // `finestraAltrui`: the work shows a window of its own (the connector's
    // options), and the program's windows take no input until it ends.
    // Without a window system, a plain wait.
    virtual void waitFor(Attesa& attesa, bool finestraAltrui) {
        (void)finestraAltrui;
        attesa.attendi();
    }
    // Opens a document with the desktop's viewer for its type ("open" verb).
    virtual void openDocument(const std::string& path) = 0;
    // Shows the window modally and returns once it has been closed. Without a
    // window system there is nothing to show: it returns at once.
    virtual void showModal(ModalWindow&) {}
};

// The implementation in force; by default messages go to standard error and
// the other operations do nothing.
Windowing& windowing();
// Installs another implementation (nullptr restores the default); the caller
// keeps ownership and keeps it alive while installed.
void setWindowing(Windowing* implementation);

// The hourglass cursor for as long as the object lives: it goes also when an
// error ends the work, and a cursor that cannot be put back never hides the
// work's own outcome.
class Clessidra {
  public:
    Clessidra() { windowing().setHourglass(true); }
    ~Clessidra() {
        try {
            windowing().setHourglass(false);
        } catch (...) {
        }
    }
    Clessidra(const Clessidra&) = delete;
    Clessidra& operator=(const Clessidra&) = delete;
};

}  // namespace kvt
