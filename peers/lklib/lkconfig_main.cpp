// lkconfig: the connector's options. Without arguments it opens the dialog;
// `--show` and `--set` work on machines without a display.
#include <QApplication>
#include <QScreen>
#include <QStyleFactory>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "lklib/lk_settings_store.h"
#include "lklib/lkconfig_dialog.h"

namespace {

bool hasDisplay() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    // The command line is served before any toolkit is touched, so that it
    // works where no display exists.
    if (const int status = kvt::lk::runCommandLine(args, std::cin, std::cout, std::cerr);
        status >= 0) {
        return status;
    }
    if (!hasDisplay()) {
        std::cerr << "lkconfig: nessun display disponibile; usare lkconfig --show o "
                     "lkconfig --set NOME=VALORE\n";
        return 2;
    }
    QApplication app(argc, argv);
    // The look of vd_kvt's windows: the Fusion style, a fixed-size dialog
    // centred on the screen.
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"))) {
        app.setStyle(style);
    }
    kvt::lk::SettingsDialog dialog;
    dialog.adjustSize();
    if (const QScreen* screen = dialog.screen()) {
        dialog.move(screen->availableGeometry().center() - dialog.rect().center());
    }
    return dialog.exec() == QDialog::Accepted ? 0 : 1;
}
