#include "ui/qt/aspetto.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QStyleFactory>
#include <QWidget>
#include <cmath>

namespace kvt::qt {

void applicaAspetto(QApplication& applicazione) {
    if (QStyle* stile = QStyleFactory::create(QStringLiteral("Fusion"))) {
        applicazione.setStyle(stile);
    }
    QIcon icona;
    icona.addPixmap(logo("kvt", 64));
    applicazione.setWindowIcon(icona);
}

QFont carattere(const QFont& base, bool grassetto, Dimensione dimensione) {
    QFont risultato = base;
    risultato.setBold(grassetto);
    const double punti = base.pointSizeF() > 0 ? base.pointSizeF() : 9.0;
    switch (dimensione) {
        case Dimensione::Normale:
            break;
        case Dimensione::Grande:
            risultato.setPointSizeF(punti * 1.8);
            break;
        case Dimensione::Piccola:
            risultato.setPointSizeF(punti * 0.85);
            break;
    }
    return risultato;
}

QPixmap logo(const char* nome, int lato) {
    QPixmap immagine(QStringLiteral(":/loghi/%1.png").arg(QLatin1String(nome)));
    if (immagine.isNull()) {
        return immagine;
    }
    const qreal rapporto = qreal(immagine.width()) / lato;
    immagine.setDevicePixelRatio(rapporto);
    return immagine;
}

void fissaDimensione(QWidget& finestra) {
    finestra.adjustSize();
    finestra.setFixedSize(finestra.size());
}

void centra(QWidget& finestra) {
    QScreen* schermo = finestra.screen() ? finestra.screen() : QGuiApplication::primaryScreen();
    if (!schermo) {
        return;
    }
    const QRect area = schermo->availableGeometry();
    const QRect cornice = finestra.frameGeometry();
    finestra.move(area.center() - QPoint(cornice.width() / 2, cornice.height() / 2));
}

int unita(const QWidget& finestra, double quante) {
    return static_cast<int>(std::lround(QFontMetrics(finestra.font()).height() * quante));
}

}  // namespace kvt::qt
