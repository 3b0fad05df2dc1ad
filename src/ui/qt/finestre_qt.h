#pragma once
// The windowing seam with Qt: modal message boxes, the hourglass cursor, the
// main window shown modally (its view made here), the foreground window
// remembered and brought back, waiting messages processed, documents opened
// with the desktop's viewer.
#include "common/windowing.h"

class QWidget;

namespace kvt::qt {

class FinestreQt final : public Windowing {
  public:
    FinestreQt() = default;
    ~FinestreQt() override;
    FinestreQt(const FinestreQt&) = delete;
    FinestreQt& operator=(const FinestreQt&) = delete;

    void messageBox(const std::string& text, const std::string& title, MessageIcon icon) override;
    WindowHandle foregroundWindow() override;
    void setForegroundWindow(WindowHandle window) override;
    void setHourglass(bool on) override;
    void processMessages() override;
    // Processes events until the work is done, woken by an event the worker
    // posts when it ends. With `finestraAltrui` the visible windows are
    // disabled meanwhile.
    void waitFor(Attesa& attesa, bool finestraAltrui) override;
    void openDocument(const std::string& path) override;
    void showModal(ModalWindow& window) override;

    bool clessidra() const { return clessidra_; }

  private:
    bool clessidra_ = false;
};

// Installs a windowing for as long as the object lives.
class WindowingInstallato {
  public:
    explicit WindowingInstallato(Windowing& implementazione) { setWindowing(&implementazione); }
    ~WindowingInstallato() { setWindowing(nullptr); }
    WindowingInstallato(const WindowingInstallato&) = delete;
    WindowingInstallato& operator=(const WindowingInstallato&) = delete;
};

}  // namespace kvt::qt
