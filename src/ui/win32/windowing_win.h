#pragma once
// The windowing seam over Win32, for the program's own windows: message
// boxes owned by the active window, the foreground window, the hourglass,
// waiting messages and the shell's "open". Used on the thread of the
// windows. The unattended front end keeps its own windowing (messages to
// standard error).
#include <cstdint>
#include <string>

#include "common/windowing.h"

namespace kvt {

class WindowingWin32 : public Windowing {
  public:
    WindowingWin32() = default;
    // The hourglass does not outlive the windowing.
    ~WindowingWin32() override;
    WindowingWin32(const WindowingWin32&) = delete;
    WindowingWin32& operator=(const WindowingWin32&) = delete;

    void messageBox(const std::string& text, const std::string& title, MessageIcon icon) override;
    WindowHandle foregroundWindow() override;
    // Only a window of this process that still exists, and only when it is
    // not already in front.
    void setForegroundWindow(WindowHandle window) override;
    void setHourglass(bool on) override;
    // Dispatches every waiting message of the thread; a quit request is left
    // in the queue for the message loop that owns it.
    void processMessages() override;
    // Dispatches the thread's messages until the work is done, woken by a
    // message the worker posts when it ends. A quit request is kept for the
    // loop that owns it. With `finestraAltrui` the thread's enabled windows
    // are disabled meanwhile, and the one that was active is brought back.
    void waitFor(Attesa& attesa, bool finestraAltrui) override;
    // The shell's "open" verb; where nothing opens the document, a message
    // says where it is.
    void openDocument(const std::string& path) override;

    // True while the hourglass is on: a window procedure answers
    // WM_SETCURSOR with the hourglass then, or the cursor would go back to
    // the window's own as soon as the mouse moves.
    bool hourglass() const { return hourglass_; }

  private:
    bool hourglass_ = false;
    std::uintptr_t cursorBefore_ = 0;
};

// A top-level window's opacity, of 255: below 255 the window becomes a
// layered window with that alpha; 255 makes it an ordinary window again.
// False when the system refused.
bool setWindowOpacity(WindowHandle window, int alpha);

}  // namespace kvt
