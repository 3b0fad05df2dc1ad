#include "ui/qt/programma_qt.h"

#include <QApplication>
#include <clocale>
#include <cstdlib>
#include <string>

#include "app/frm_login.h"
#include "ui/headless/headless.h"
#include "ui/qt/aspetto.h"
#include "ui/qt/finestre_qt.h"
#include "ui/qt/vista_login.h"

namespace kvt::qt {
namespace {

bool impostata(const char* variabile) {
    const char* valore = std::getenv(variabile);
    return valore && *valore;
}

}  // namespace

bool displayDisponibile() {
    return impostata("DISPLAY") || impostata("WAYLAND_DISPLAY") || impostata("QT_QPA_PLATFORM");
}

void ripristinaLocale() {
    const char* attuale = std::setlocale(LC_CTYPE, nullptr);
    const std::string caratteri = attuale ? attuale : "C";
    std::setlocale(LC_ALL, "C");
    std::setlocale(LC_CTYPE, caratteri.c_str());
}

int avviaFinestre(int argc, char** argv) {
    const std::string cartella = headless::cartellaProgramma(argc, argv);
    headless::preparaProcesso();

    QApplication applicazione(argc, argv);
    ripristinaLocale();
    // The program ends when the login window closes, not when the last
    // window does: the login hides while the main window is shown.
    QApplication::setQuitOnLastWindowClosed(false);
    applicaAspetto(applicazione);

    FinestreQt finestre;
    WindowingInstallato installato(finestre);

    TfrmLogin::Impostazioni impostazioni;
    impostazioni.cartellaProgramma = cartella;
    TfrmLogin login(std::move(impostazioni));
    VistaLogin vista(login, [] { QCoreApplication::quit(); });
    vista.show();
    return applicazione.exec();
}

}  // namespace kvt::qt
