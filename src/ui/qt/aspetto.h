#pragma once
// The look the program's windows share (and the connector's options dialog
// follows): the Fusion style on every desktop, the project's logo as the
// windows' icon, the system font made bold, large or small where a control
// asks for it, fixed-size windows centred on their screen.
#include <QFont>
#include <QPixmap>

class QApplication;
class QWidget;

namespace kvt::qt {

// Sets the style and the icon; once, after the application is made.
void applicaAspetto(QApplication& applicazione);

enum class Dimensione { Normale, Grande, Piccola };
QFont carattere(const QFont& base, bool grassetto, Dimensione dimensione = Dimensione::Normale);

// The logos, kept as resources: "kvt" (the project, beside "Kappa Volta
// Trasmissioni") and "vello" (the login window). Drawn at twice their size:
// the pixmap says so, and shows at `lato` logical pixels.
QPixmap logo(const char* nome, int lato);

// The window takes the size its layout asks for and keeps it; a window not
// yet placed is centred on its screen.
void fissaDimensione(QWidget& finestra);
void centra(QWidget& finestra);

// A length in the unit of the window's font (its line height), so that the
// windows keep their proportions with any font and screen.
int unita(const QWidget& finestra, double quante);

}  // namespace kvt::qt
