#include "common/windowing.h"

#include <cstdio>

namespace kvt {
namespace {

class StandardErrorWindowing final : public Windowing {
  public:
    void messageBox(const std::string& text, const std::string& title, MessageIcon) override {
        std::fprintf(stderr, "[%s] %s\n", title.c_str(), text.c_str());
        std::fflush(stderr);
    }
    WindowHandle foregroundWindow() override { return 0; }
    void setForegroundWindow(WindowHandle) override {}
    void setHourglass(bool) override {}
    void processMessages() override {}
    void openDocument(const std::string&) override {}
};

StandardErrorWindowing defaultWindowing;
Windowing* current = &defaultWindowing;

}  // namespace

Windowing& windowing() {
    return *current;
}

void setWindowing(Windowing* implementation) {
    current = implementation ? implementation : &defaultWindowing;
}

}  // namespace kvt
