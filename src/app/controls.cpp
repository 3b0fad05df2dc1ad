#include "app/controls.h"

#include <algorithm>
#include <utility>

namespace kvt {

Control::Control(WindowObserver* const& observer, std::string name, ControlKind kind,
                 std::string caption, bool visible, int tabOrder)
    : observer_(observer),
      name_(std::move(name)),
      kind_(kind),
      caption_(std::move(caption)),
      visible_(visible),
      tabOrder_(tabOrder) {}

void Control::setCaption(std::string caption) {
    if (caption == caption_) {
        return;
    }
    caption_ = std::move(caption);
    changed();
}

void Control::replaceSecretCaption(std::string caption) {
    const bool same = caption == caption_;
    std::fill(caption_.begin(), caption_.end(), '\0');
    caption_.clear();
    caption_.swap(caption);
    if (!same) {
        changed();
    }
}

void Control::setVisible(bool visible) {
    if (visible == visible_) {
        return;
    }
    visible_ = visible;
    changed();
}

void Control::changed() {
    if (observer_) {
        observer_->controlChanged(*this);
    }
}

Button::Button(WindowObserver* const& observer, std::string name, std::string caption, bool visible,
               int tabOrder, Style style)
    : Control(observer, std::move(name), ControlKind::Button, std::move(caption), visible,
              tabOrder),
      style_(style) {}

Label::Label(WindowObserver* const& observer, std::string name, std::string caption, Style style)
    : Control(observer, std::move(name), ControlKind::Label, std::move(caption), true, -1),
      style_(style) {}

ProgressBar::ProgressBar(WindowObserver* const& observer, std::string name)
    : Control(observer, std::move(name), ControlKind::ProgressBar, "", true, -1) {}

void ProgressBar::setRange(int min, int max) {
    if (min == min_ && max == max_) {
        return;
    }
    min_ = min;
    max_ = max;
    changed();
}

void ProgressBar::setPosition(int position) {
    if (position == position_) {
        return;
    }
    position_ = position;
    changed();
}

CheckBox::CheckBox(WindowObserver* const& observer, std::string name, std::string caption,
                   bool visible, int tabOrder)
    : Control(observer, std::move(name), ControlKind::CheckBox, std::move(caption), visible,
              tabOrder) {}

void CheckBox::setChecked(bool checked) {
    if (checked == checked_) {
        return;
    }
    checked_ = checked;
    changed();
}

Picture::Picture(WindowObserver* const& observer, std::string name)
    : Control(observer, std::move(name), ControlKind::Picture, "", true, -1) {}

}  // namespace kvt
