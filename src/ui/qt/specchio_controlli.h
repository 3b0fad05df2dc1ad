#pragma once
// A window's view keeps one widget per control of the model and shows in it
// what the model holds: caption, visibility, font, range and position,
// check, text. The widgets are named after their controls, so that tests and
// style sheets find them by the model's names.
#include <QLabel>
#include <functional>
#include <utility>
#include <vector>

#include "app/controls.h"

class QWidget;

namespace kvt::qt {

// A picture control: the logo, and what a double click on it does.
class Immagine final : public QLabel {
  public:
    explicit Immagine(QWidget* genitore) : QLabel(genitore) {}
    std::function<void()> alDoppioClic;

  protected:
    void mouseDoubleClickEvent(QMouseEvent* evento) override;
};

class SpecchioControlli {
  public:
    // The widgets are children of `finestra`.
    explicit SpecchioControlli(QWidget& finestra) : finestra_(finestra) {}
    SpecchioControlli(const SpecchioControlli&) = delete;
    SpecchioControlli& operator=(const SpecchioControlli&) = delete;

    // Makes the widget of a control by its kind, in the control's state.
    QWidget* crea(const Control& controllo);
    // Shows the control's state in its widget (nothing for a control without one).
    void aggiorna(const Control& controllo);

    QWidget* widget(const Control& controllo) const;
    template <class W>
    W* widget(const Control& controllo) const {
        return static_cast<W*>(widget(controllo));
    }

    // Chains the keyboard focus through the controls in their tab order and
    // makes the first default button of that order the window's default;
    // gives the first control of the order.
    QWidget* preparaTastiera() const;

  private:
    QWidget& finestra_;
    std::vector<std::pair<const Control*, QWidget*>> voci_;
};

}  // namespace kvt::qt
