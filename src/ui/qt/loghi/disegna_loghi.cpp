// Draws the program's two logos, made for vd_kvt, into PNG files: the login
// window's mark (vello.png) and the KVT project's mark (kvt.png) shown beside
// "Kappa Volta Trasmissioni". The PNG files are kept in the repository as the
// views' resources; run this (target disegna_loghi) only to change them:
//   disegna_loghi src/ui/qt/loghi
// Both are drawn at twice the size they are shown at, for sharp high-density
// screens.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>

namespace {

// Every drawing is made on a 256 x 256 grid and scaled to the image.
constexpr double kGriglia = 256.0;

QImage nuovaImmagine(int lato) {
    QImage immagine(lato, lato, QImage::Format_ARGB32_Premultiplied);
    immagine.fill(Qt::transparent);
    return immagine;
}

void preparaPittore(QPainter& p, int lato) {
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(lato / kGriglia, lato / kGriglia);
}

// The tile both marks stand on: a rounded square with a diagonal gradient
// and a soft light from the top.
void piastrella(QPainter& p, const QColor& chiaro, const QColor& scuro) {
    const QRectF tessera(8, 8, 240, 240);
    QLinearGradient sfondo(tessera.topLeft(), tessera.bottomRight());
    sfondo.setColorAt(0, chiaro);
    sfondo.setColorAt(1, scuro);
    p.setPen(Qt::NoPen);
    p.setBrush(sfondo);
    p.drawRoundedRect(tessera, 44, 44);

    QRadialGradient luce(QPointF(128, 20), 190);
    luce.setColorAt(0, QColor(255, 255, 255, 70));
    luce.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(luce);
    p.drawRoundedRect(tessera, 44, 44);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 60), 2));
    p.drawRoundedRect(tessera.adjusted(1, 1, -1, -1), 43, 43);
}

// An arrow head with its tip at `punta`, pointing along `angolo` (degrees,
// counter-clockwise from the x axis, y up as on paper).
void puntaFreccia(QPainter& p, QPointF punta, double angolo, double lunghezza, double apertura) {
    const double r = angolo * M_PI / 180.0;
    const QPointF dietro(-std::cos(r) * lunghezza, std::sin(r) * lunghezza);
    const QPointF lato(std::sin(r) * apertura, std::cos(r) * apertura);
    QPainterPath testa;
    testa.moveTo(punta);
    testa.lineTo(punta + dietro + lato);
    testa.lineTo(punta + dietro - lato);
    testa.closeSubpath();
    p.drawPath(testa);
}

// KVT: a white "K" under an orange vault that ends in an arrow, the upload
// going out; teal tile.
QImage logoKvt(int lato) {
    QImage immagine = nuovaImmagine(lato);
    QPainter p(&immagine);
    preparaPittore(p, lato);
    piastrella(p, QColor(0x23, 0x9c, 0x9f), QColor(0x0c, 0x48, 0x63));

    // The K: a stem and two arms.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(76, 98, 30, 116), 6, 6);
    QPen braccio(Qt::white, 28, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    p.setPen(braccio);
    p.drawLine(QPointF(100, 160), QPointF(170, 100));
    p.drawLine(QPointF(116, 148), QPointF(176, 214));

    // The vault: an arc from the lower left over the top, ending in an arrow.
    const QColor arancio(0xf7, 0xa8, 0x26);
    p.setPen(QPen(arancio, 14, Qt::SolidLine, Qt::RoundCap));
    const QRectF cerchio(28, 58, 200, 200);
    p.drawArc(cerchio, 165 * 16, -140 * 16);
    const double fine = 25.0;  // degrees, where the arc ends
    const QPointF centro = cerchio.center();
    const QPointF punta(centro.x() + 100 * std::cos(fine * M_PI / 180.0),
                        centro.y() - 100 * std::sin(fine * M_PI / 180.0));
    p.setPen(Qt::NoPen);
    p.setBrush(arancio);
    // Tangent of a clockwise arc at `fine`: pointing down and to the right.
    puntaFreccia(p, punta + QPointF(6, 12), fine - 90.0, 34, 20);
    p.end();
    return immagine;
}

// Vello: the patient's record, a white sheet with a red cross and lines of
// text, and a green badge with the upload arrow; blue tile.
QImage logoVello(int lato) {
    QImage immagine = nuovaImmagine(lato);
    QPainter p(&immagine);
    preparaPittore(p, lato);
    piastrella(p, QColor(0x3b, 0x7d, 0xd0), QColor(0x17, 0x36, 0x6b));

    // The sheet with a folded corner.
    QPainterPath foglio;
    foglio.moveTo(62, 40);
    foglio.lineTo(160, 40);
    foglio.lineTo(196, 76);
    foglio.lineTo(196, 214);
    foglio.lineTo(62, 214);
    foglio.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 50));
    p.drawPath(foglio.translated(5, 6));
    p.setBrush(QColor(0xfb, 0xfc, 0xfe));
    p.drawPath(foglio);
    QPainterPath piega;
    piega.moveTo(160, 40);
    piega.lineTo(160, 76);
    piega.lineTo(196, 76);
    piega.closeSubpath();
    p.setBrush(QColor(0xc9, 0xd6, 0xe8));
    p.drawPath(piega);

    // The red cross.
    p.setBrush(QColor(0xe0, 0x3c, 0x3c));
    p.drawRoundedRect(QRectF(94, 62, 20, 56), 3, 3);
    p.drawRoundedRect(QRectF(76, 80, 56, 20), 3, 3);

    // Lines of the record.
    p.setBrush(QColor(0x9d, 0xb0, 0xc8));
    for (const double y : {134.0, 156.0, 178.0}) {
        p.drawRoundedRect(QRectF(78, y, y < 170 ? 100 : 62, 9), 4, 4);
    }

    // The badge with the upload arrow.
    const QPointF centro(182, 188);
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawEllipse(centro + QPointF(3, 4), 40, 40);
    QLinearGradient verde(centro - QPointF(40, 40), centro + QPointF(40, 40));
    verde.setColorAt(0, QColor(0x4c, 0xc2, 0x6e));
    verde.setColorAt(1, QColor(0x1f, 0x8a, 0x45));
    p.setBrush(verde);
    p.setPen(QPen(Qt::white, 5));
    p.drawEllipse(centro, 40, 40);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(centro.x() - 7, centro.y() - 6, 14, 28));
    puntaFreccia(p, centro + QPointF(0, -24), 90.0, 24, 20);
    p.end();
    return immagine;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "uso: disegna_loghi CARTELLA\n");
        return 2;
    }
    QGuiApplication applicazione(argc, argv);
    const QString cartella = QString::fromLocal8Bit(argv[1]);
    const bool fatto =
        logoKvt(128).save(cartella + "/kvt.png") && logoVello(192).save(cartella + "/vello.png");
    if (!fatto) {
        std::fprintf(stderr, "disegna_loghi: impossibile scrivere in %s\n", argv[1]);
        return 1;
    }
    return 0;
}
