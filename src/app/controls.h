#pragma once
// The windows are models of their controls: each control is a small object
// with the state a view shows (caption, visibility, tab order, and what its
// kind adds). The handlers of a window change these objects; a view (Qt,
// headless) mirrors them through an observer and forwards the clicks, and the
// tests read them without any toolkit.
#include <string>

namespace kvt {

class Control;

// What a view is told. Every call comes on the thread that runs the window's
// handlers, at the moment the model changes.
class WindowObserver {
  public:
    virtual ~WindowObserver() = default;
    // A control's caption, visibility, range, position or check changed.
    virtual void controlChanged(const Control&) {}
    // The window's title changed.
    virtual void captionChanged(const std::string&) {}
    // The window asks to be drawn now, before the handler goes on.
    virtual void repaint() {}
    // The window closes itself (the "&Uscita" command).
    virtual void closeRequested() {}
};

enum class ControlKind { Button, Label, ProgressBar, CheckBox, Picture, Edit };

class Control {
  public:
    // tabOrder: the position in the tab order, or -1 for a control that takes
    // no focus. `observer` is the window's observer slot, read at each change.
    Control(WindowObserver* const& observer, std::string name, ControlKind kind,
            std::string caption, bool visible, int tabOrder);
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control() = default;

    const std::string& name() const { return name_; }
    ControlKind kind() const { return kind_; }
    int tabOrder() const { return tabOrder_; }

    // For a label the caption is its text.
    const std::string& caption() const { return caption_; }
    void setCaption(std::string caption);
    bool visible() const { return visible_; }
    void setVisible(bool visible);

  protected:
    void changed();
    // A caption that held a secret: its bytes are overwritten in place
    // before the new one takes its place.
    void replaceSecretCaption(std::string caption);

  private:
    WindowObserver* const& observer_;
    std::string name_;
    ControlKind kind_;
    std::string caption_;
    bool visible_;
    int tabOrder_;
};

class Button : public Control {
  public:
    struct Style {
        bool bold = false;
        // The button that Enter presses.
        bool isDefault = false;
        bool small = false;
    };
    Button(WindowObserver* const& observer, std::string name, std::string caption, bool visible,
           int tabOrder, Style style);
    const Style& style() const { return style_; }

  private:
    Style style_;
};

class Label : public Control {
  public:
    enum class Alignment { Left, Right };
    struct Style {
        bool bold = false;
        bool large = false;
        bool wordWrap = false;
        Alignment alignment = Alignment::Left;
    };
    Label(WindowObserver* const& observer, std::string name, std::string caption, Style style);
    const Style& style() const { return style_; }

  private:
    Style style_;
};

class ProgressBar : public Control {
  public:
    ProgressBar(WindowObserver* const& observer, std::string name);
    int min() const { return min_; }
    int max() const { return max_; }
    int position() const { return position_; }
    void setRange(int min, int max);
    void setPosition(int position);

  private:
    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
};

class CheckBox : public Control {
  public:
    CheckBox(WindowObserver* const& observer, std::string name, std::string caption, bool visible,
             int tabOrder);
    bool checked() const { return checked_; }
    void setChecked(bool checked);

  private:
    bool checked_ = false;
};

// A picture: its content is the view's (a logo); the model only places it.
class Picture : public Control {
  public:
    Picture(WindowObserver* const& observer, std::string name);
};

}  // namespace kvt
