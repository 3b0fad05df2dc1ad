#include "ui/qt/finestre_qt.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <vector>

#include "app/frm_login.h"
#include "ui/qt/vista_principale.h"

namespace kvt::qt {
namespace {

QMessageBox::Icon iconaDi(MessageIcon icona) {
    switch (icona) {
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

// The program's texts end their lines with CR LF.
QString testoDaMostrare(const std::string& testo) {
    return QString::fromStdString(testo).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// The window a message belongs to: the modal one (the main window during a
// run), else the active one, else the one shown.
QWidget* finestraDelMessaggio() {
    if (QWidget* modale = QApplication::activeModalWidget()) {
        return modale;
    }
    if (QWidget* attiva = QApplication::activeWindow()) {
        return attiva;
    }
    for (QWidget* finestra : QApplication::topLevelWidgets()) {
        if (finestra->isVisible() && finestra->isWindow() &&
            !qobject_cast<QMessageBox*>(finestra)) {
            return finestra;
        }
    }
    return nullptr;
}

// The hourglass gives way to the normal cursor while the operator reads a
// message, and comes back after.
class CursoreNormale {
  public:
    explicit CursoreNormale(bool clessidra) : clessidra_(clessidra) {
        if (clessidra_) {
            QGuiApplication::restoreOverrideCursor();
        }
    }
    ~CursoreNormale() {
        if (clessidra_) {
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        }
    }
    CursoreNormale(const CursoreNormale&) = delete;
    CursoreNormale& operator=(const CursoreNormale&) = delete;

  private:
    bool clessidra_;
};

}  // namespace

FinestreQt::~FinestreQt() {
    setHourglass(false);
}

void FinestreQt::messageBox(const std::string& text, const std::string& title, MessageIcon icon) {
    CursoreNormale cursore(clessidra_);
    QMessageBox scatola(iconaDi(icon), QString::fromStdString(title), testoDaMostrare(text),
                        QMessageBox::Ok, finestraDelMessaggio());
    scatola.setTextFormat(Qt::PlainText);
    scatola.setObjectName(QStringLiteral("messaggio"));
    scatola.exec();
}

WindowHandle FinestreQt::foregroundWindow() {
    QWidget* attiva = QApplication::activeWindow();
    if (!attiva) {
        attiva = QApplication::activeModalWidget();
    }
    return reinterpret_cast<WindowHandle>(attiva);
}

void FinestreQt::setForegroundWindow(WindowHandle window) {
    if (window == 0) {
        return;
    }
    // Only a window of ours that still exists: the handle may be old.
    for (QWidget* finestra : QApplication::topLevelWidgets()) {
        if (reinterpret_cast<WindowHandle>(finestra) == window) {
            // Called after every host call: only a window that lost the
            // foreground is brought back.
            if (finestra->isVisible() && QApplication::activeWindow() != finestra) {
                finestra->raise();
                finestra->activateWindow();
            }
            return;
        }
    }
}

void FinestreQt::setHourglass(bool on) {
    if (on == clessidra_) {
        return;
    }
    clessidra_ = on;
    if (on) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QGuiApplication::restoreOverrideCursor();
    }
}

void FinestreQt::processMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void FinestreQt::waitFor(Attesa& attesa, bool finestraAltrui) {
    // Any event wakes the wait below; this one comes when the work ends.
    if (!attesa.allaConclusione([] {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
        })) {
        return;
    }
    std::vector<QPointer<QWidget>> disabilitate;
    if (finestraAltrui) {
        for (QWidget* finestra : QApplication::topLevelWidgets()) {
            if (finestra->isVisible() && finestra->isEnabled()) {
                finestra->setEnabled(false);
                disabilitate.emplace_back(finestra);
            }
        }
    }
    while (!attesa.conclusa()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    for (const QPointer<QWidget>& finestra : disabilitate) {
        if (finestra) {
            finestra->setEnabled(true);
        }
    }
}

void FinestreQt::openDocument(const std::string& path) {
    const QString percorso = QString::fromStdString(path);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(percorso))) {
        // No viewer for text files on this desktop: the operator learns
        // where the file is.
        messageBox("Nessun programma per aprire il file: " + path, "Vello KVT",
                   MessageIcon::Information);
    }
}

void FinestreQt::showModal(ModalWindow& window) {
    auto* principale = dynamic_cast<FinestraPrincipaleModale*>(&window);
    if (!principale) {
        return;
    }
    VistaPrincipale vista(principale->finestra);
    vista.exec();
}

}  // namespace kvt::qt
