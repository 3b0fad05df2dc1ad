#pragma once
// The windowing of the host tests: records every message box (with the
// window in front when it came) and every foreground change the adapter makes.
#include <string>
#include <vector>

#include "common/windowing.h"

namespace kvt {

constexpr WindowHandle kProgramWindow = 100;

class RecordingWindowing final : public Windowing {
  public:
    WindowHandle foreground = kProgramWindow;
    std::vector<std::string> messages;
    std::vector<WindowHandle> foregroundAtMessage;
    std::vector<WindowHandle> foregroundChanges;

    void messageBox(const std::string& text, const std::string&, MessageIcon) override {
        messages.push_back(text);
        foregroundAtMessage.push_back(foreground);
    }
    WindowHandle foregroundWindow() override { return foreground; }
    void setForegroundWindow(WindowHandle window) override {
        foregroundChanges.push_back(window);
        foreground = window;
    }
    void setHourglass(bool) override {}
    void processMessages() override {}
    void openDocument(const std::string&) override {}
};

}  // namespace kvt
