// lkconfig's dialog on the offscreen platform: it shows the stored settings
// and saves what is typed, keeping the rest of the registry file.
#include "lklib/lkconfig_dialog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>

#include "collector/peer_process.h"
#include "common/reg_file.h"
#include "lklib/lk_settings.h"

namespace kvt::lk {
namespace {

using kvt::testing::TempDir;

QApplication& application() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "lkconfig_dialog_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

QLineEdit* field(SettingsDialog& dialog, const char* name) {
    return dialog.findChild<QLineEdit*>(QString::fromLatin1(name));
}

TEST(SettingsDialogTest, ShowsAndSavesTheSettings) {
    application();
    TempDir temp;
    const auto path = temp / "registry.reg";
    ::setenv("KVT_REGISTRY", path.c_str(), 1);
    kvt::testing::writeFile(
        path,
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Norvix\\VEKConnector\\LK]\r\n"
        "\"Url\"=\"https://vecchio.example.org\"\r\n\"Token\"=\"abc\"\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano]\r\n"
        "\"ultimo_utente\"=\"mrossi\"\r\n");
    SettingsDialog dialog;
    ASSERT_NE(field(dialog, "Url"), nullptr);
    EXPECT_EQ(field(dialog, "Url")->text(), "https://vecchio.example.org");
    EXPECT_EQ(field(dialog, "Token")->echoMode(), QLineEdit::Password);

    field(dialog, "Url")->setText("https://raccolta.example.org/lk");
    field(dialog, "ReqTout")->setText("95000");
    field(dialog, "Token")->setText("");
    static_cast<QDialog&>(dialog).accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    const Settings settings = readSettings();
    EXPECT_EQ(settings.url, "https://raccolta.example.org/lk");
    EXPECT_EQ(settings.requestTimeoutMs, 95000);
    EXPECT_EQ(settings.token, "");
    EXPECT_NE(
        registry::RegFile::load(path).find("HKLM\\SOFTWARE\\Quintara-Kelvano", "ultimo_utente"),
        nullptr);
    ::unsetenv("KVT_REGISTRY");
}

}  // namespace
}  // namespace kvt::lk
