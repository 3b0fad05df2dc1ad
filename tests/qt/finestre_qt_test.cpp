// The windowing seam with Qt on its own: the hourglass, message boxes, the
// foreground window.
#include <QApplication>
#include <QTest>
#include <QWidget>

#include "qt/finestre_support.h"

namespace kvt::qt::test {
namespace {

bool clessidraVisibile() {
    const QCursor* cursore = QGuiApplication::overrideCursor();
    return cursore && cursore->shape() == Qt::WaitCursor;
}

class FinestreQtTest : public ::testing::Test {
  protected:
    void SetUp() override { preparaApplicazione(); }
    FinestreQt finestre_;
};

TEST_F(FinestreQtTest, LaClessidraSiMetteUnaVoltaEDaPostoAlCursoreNormaleDuranteUnMessaggio) {
    finestre_.setHourglass(true);
    finestre_.setHourglass(true);
    EXPECT_TRUE(clessidraVisibile());

    Risponditore risponditore;
    bool normaleDuranteIlMessaggio = false;
    risponditore.trattieni = [&](QMessageBox& scatola) {
        normaleDuranteIlMessaggio = QGuiApplication::overrideCursor() == nullptr;
        EXPECT_EQ(testo(scatola.windowTitle()), "Vello KVT");
        return false;
    };
    finestre_.messageBox("prima riga\r\nseconda <b>riga</b>", "Vello KVT", MessageIcon::Error);
    ASSERT_EQ(risponditore.testi().size(), 1u);
    EXPECT_EQ(risponditore.testi()[0], "prima riga\nseconda <b>riga</b>");
    EXPECT_TRUE(normaleDuranteIlMessaggio);
    EXPECT_TRUE(clessidraVisibile());

    // One "off" takes it away, however many "on" came before.
    finestre_.setHourglass(false);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    finestre_.setHourglass(false);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(FinestreQtTest, LaFinestraInPrimoPianoTornaDopoCheUnAltraLHaPresa) {
    QWidget nostra, altra;
    nostra.show();
    nostra.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&nostra));
    const WindowHandle ricordata = finestre_.foregroundWindow();
    EXPECT_EQ(ricordata, reinterpret_cast<WindowHandle>(&nostra));

    altra.show();
    altra.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&altra));
    finestre_.setForegroundWindow(ricordata);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&nostra));

    // A window that no longer exists is not looked for.
    WindowHandle scomparsa = 0;
    {
        QWidget breve;
        scomparsa = reinterpret_cast<WindowHandle>(&breve);
    }
    finestre_.setForegroundWindow(scomparsa);
    finestre_.setForegroundWindow(0);
    EXPECT_EQ(QApplication::activeWindow(), &nostra);
}

}  // namespace
}  // namespace kvt::qt::test
