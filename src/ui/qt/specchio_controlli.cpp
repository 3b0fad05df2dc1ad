#include "ui/qt/specchio_controlli.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSizePolicy>
#include <algorithm>

#include "app/frm_login.h"
#include "ui/qt/aspetto.h"

namespace kvt::qt {
namespace {

QString testo(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

QWidget* creaPulsante(const Button& pulsante, QWidget& finestra) {
    auto* widget = new QPushButton(&finestra);
    const Button::Style& stile = pulsante.style();
    widget->setFont(carattere(finestra.font(), stile.bold,
                              stile.small ? Dimensione::Piccola : Dimensione::Normale));
    // Enter presses the button that has the focus, else the window's
    // default one (preparaTastiera), as on the office's desktops.
    widget->setAutoDefault(true);
    if (stile.small) {
        widget->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    return widget;
}

QWidget* creaEtichetta(const Label& etichetta, QWidget& finestra) {
    auto* widget = new QLabel(&finestra);
    const Label::Style& stile = etichetta.style();
    widget->setFont(carattere(finestra.font(), stile.bold,
                              stile.large ? Dimensione::Grande : Dimensione::Normale));
    // Names and texts from the host are shown as they are, never as markup.
    widget->setTextFormat(Qt::PlainText);
    widget->setWordWrap(stile.wordWrap);
    widget->setAlignment(
        (stile.alignment == Label::Alignment::Right ? Qt::AlignRight : Qt::AlignLeft) |
        Qt::AlignVCenter);
    return widget;
}

QWidget* creaCasella(const EditBox& casella, QWidget& finestra) {
    auto* widget = new QLineEdit(&finestra);
    if (casella.passwordChar() != '\0') {
        widget->setEchoMode(QLineEdit::Password);
        // The character the model asks for, whatever the style's own.
        widget->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: %1; }")
                                  .arg(int(static_cast<unsigned char>(casella.passwordChar()))));
    }
    return widget;
}

QWidget* creaBarra(QWidget& finestra) {
    auto* widget = new QProgressBar(&finestra);
    widget->setTextVisible(false);
    return widget;
}

}  // namespace

void Immagine::mouseDoubleClickEvent(QMouseEvent* evento) {
    if (evento->button() == Qt::LeftButton && alDoppioClic) {
        alDoppioClic();
        evento->accept();
        return;
    }
    QLabel::mouseDoubleClickEvent(evento);
}

QWidget* SpecchioControlli::crea(const Control& controllo) {
    QWidget* widget = nullptr;
    if (const auto* pulsante = dynamic_cast<const Button*>(&controllo)) {
        widget = creaPulsante(*pulsante, finestra_);
    } else if (const auto* etichetta = dynamic_cast<const Label*>(&controllo)) {
        widget = creaEtichetta(*etichetta, finestra_);
    } else if (const auto* casella = dynamic_cast<const EditBox*>(&controllo)) {
        widget = creaCasella(*casella, finestra_);
    } else if (dynamic_cast<const ProgressBar*>(&controllo)) {
        widget = creaBarra(finestra_);
    } else if (dynamic_cast<const CheckBox*>(&controllo)) {
        widget = new QCheckBox(&finestra_);
    } else {
        widget = new Immagine(&finestra_);
    }
    widget->setObjectName(testo(controllo.name()));
    if (controllo.tabOrder() < 0) {
        widget->setFocusPolicy(Qt::NoFocus);
    }
    voci_.emplace_back(&controllo, widget);
    aggiorna(controllo);
    return widget;
}

void SpecchioControlli::aggiorna(const Control& controllo) {
    QWidget* widget = this->widget(controllo);
    if (!widget) {
        return;
    }
    const QString didascalia = testo(controllo.caption());
    if (auto* pulsante = qobject_cast<QPushButton*>(widget)) {
        pulsante->setText(didascalia);
    } else if (auto* casella = qobject_cast<QCheckBox*>(widget)) {
        casella->setText(didascalia);
        casella->setChecked(static_cast<const CheckBox&>(controllo).checked());
    } else if (auto* riga = qobject_cast<QLineEdit*>(widget)) {
        // Only a change made by the model: the text typed is already there,
        // and setting it again would move the cursor.
        if (riga->text() != didascalia) {
            riga->setText(didascalia);
        }
    } else if (auto* barra = qobject_cast<QProgressBar*>(widget)) {
        const auto& modello = static_cast<const ProgressBar&>(controllo);
        // An empty range would make Qt's bar a busy indicator; the model's
        // bar stays still.
        const int massimo = std::max(modello.max(), modello.min() + 1);
        barra->setRange(modello.min(), massimo);
        barra->setValue(std::clamp(modello.position(), modello.min(), massimo));
    } else if (dynamic_cast<Immagine*>(widget)) {
        // The picture is the view's: the window sets it.
    } else if (auto* etichetta = qobject_cast<QLabel*>(widget)) {
        etichetta->setText(didascalia);
    }
    widget->setVisible(controllo.visible());
}

QWidget* SpecchioControlli::widget(const Control& controllo) const {
    for (const auto& [voce, widget] : voci_) {
        if (voce == &controllo) {
            return widget;
        }
    }
    return nullptr;
}

QWidget* SpecchioControlli::preparaTastiera() const {
    std::vector<std::pair<const Control*, QWidget*>> ordine;
    for (const auto& voce : voci_) {
        if (voce.first->tabOrder() >= 0) {
            ordine.push_back(voce);
        }
    }
    std::stable_sort(ordine.begin(), ordine.end(), [](const auto& a, const auto& b) {
        return a.first->tabOrder() < b.first->tabOrder();
    });
    for (std::size_t i = 1; i < ordine.size(); ++i) {
        QWidget::setTabOrder(ordine[i - 1].second, ordine[i].second);
    }
    // A Qt window has one default button: when the model marks more (the
    // main window's "Nuovo Invio" and "Riprendi"), the first in tab order.
    for (const auto& [controllo, widget] : ordine) {
        const auto* pulsante = dynamic_cast<const Button*>(controllo);
        if (pulsante && pulsante->style().isDefault) {
            static_cast<QPushButton*>(widget)->setDefault(true);
            break;
        }
    }
    return ordine.empty() ? nullptr : ordine.front().second;
}

}  // namespace kvt::qt
