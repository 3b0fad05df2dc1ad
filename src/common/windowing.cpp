#include "common/windowing.h"

#include <cstdio>
#include <utility>

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

void Attesa::concludi() {
    std::function<void()> sveglia;
    {
        const std::lock_guard blocco(mutex_);
        conclusa_ = true;
        sveglia = std::move(sveglia_);
        fatto_.notify_all();
    }
    if (sveglia) {
        sveglia();
    }
}

bool Attesa::conclusa() const {
    const std::lock_guard blocco(mutex_);
    return conclusa_;
}

void Attesa::attendi() {
    std::unique_lock blocco(mutex_);
    fatto_.wait(blocco, [this] { return conclusa_; });
}

bool Attesa::allaConclusione(std::function<void()> sveglia) {
    const std::lock_guard blocco(mutex_);
    if (conclusa_) {
        return false;
    }
    sveglia_ = std::move(sveglia);
    return true;
}

Windowing& windowing() {
    return *current;
}

void setWindowing(Windowing* implementation) {
    current = implementation ? implementation : &defaultWindowing;
}

}  // namespace kvt
