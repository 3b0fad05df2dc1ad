// The installer of the Windows build in the Wine prefix, as an office runs it:
// a silent install with both stand-ins into the user's programs folder, the
// program from there (its own folder as program folder, nothing from the
// build on the DLL path) sending the demo practice to the Linux collector,
// then a silent uninstall that leaves only the user's kvt\ folder.
#include <pwd.h>

#include <regex>

#include "e2e/e2e_support.h"

namespace kvt::e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

class Installazione : public E2e {
  protected:
    void SetUp() override {
        E2e::SetUp();
        ASSERT_TRUE(piattaforma().windows()) << "KVT_E2E_WINDOWS non impostata";
        const char* prefisso = std::getenv("KVT_WINEPREFIX");
        prefisso_ = prefisso && *prefisso ? fs::path(prefisso)
                                          : fs::path(std::getenv("KVT_E2E_WINDOWS")) / "wineprefix";
        const std::string utente = ::getpwuid(::getuid())->pw_name;
        installata_ = prefisso_ / "drive_c" / "users" / utente / "AppData" / "Local" / "Programs" /
                      "Vello KVT";
        installataWindows_ = "C:\\users\\" + utente + "\\AppData\\Local\\Programs\\Vello KVT";
        // What an earlier run left (kvt\ outlives an uninstall by design).
        fs::remove_all(installata_);
    }
    void TearDown() override {
        std::error_code ignorato;
        fs::remove_all(installata_, ignorato);
    }

    // A program under Wine in the test's prefix; the build folder given to
    // wine-exec is the test's own, so no DLL of the build is on the path.
    Esito wine(const std::vector<std::string>& argomenti, std::chrono::seconds limite = 120s) {
        std::vector<std::string> argv = {KVT_WINE_EXEC, lavoro().string()};
        argv.insert(argv.end(), argomenti.begin(), argomenti.end());
        const std::string nome = "wine-" + std::to_string(++comandiWine_);
        Processo processo(
            argv, {{"KVT_WINEPREFIX", prefisso_.string()}, {"DISPLAY", ""}, {"WINEPATH", ""}},
            lavoro() / (nome + ".out"), lavoro() / (nome + ".err"));
        Esito esito;
        esito.stato = processo.attendi(limite);
        esito.uscita = processo.uscita();
        esito.errore = processo.errore();
        return esito;
    }
    Esito reg(const std::vector<std::string>& argomenti) {
        std::vector<std::string> argv = {"reg"};
        argv.insert(argv.end(), argomenti.begin(), argomenti.end());
        return wine(argv);
    }
    Esito installa() { return wine({KVT_SETUP, "/S", "/PROVA"}, 300s); }
    // "_?=" keeps the uninstaller in place (and waits for it); the folder's
    // name is passed in two words so that nothing quotes it.
    Esito disinstalla() {
        const std::string cartella = installataWindows_.substr(0, installataWindows_.rfind(' '));
        return wine({(installata_ / "Disinstalla.exe").string(), "/S", "_?=" + cartella, "KVT"},
                    300s);
    }
    std::vector<std::string> voci(const fs::path& cartella) const {
        std::vector<std::string> nomi;
        for (const auto& voce : fs::directory_iterator(cartella)) {
            nomi.push_back(voce.path().filename().string());
        }
        return nomi;
    }

    fs::path prefisso_;
    fs::path installata_;
    std::string installataWindows_;
    int comandiWine_ = 0;
};

const char* const kChiaveOspite = "HKLM\\SOFTWARE\\Quintara-Kelvano";

TEST_F(Installazione, SilentInstallSendsFromTheInstalledFolderAndUninstallKeepsKvt) {
    const std::string chiaveOspite = kChiaveOspite;
    const std::string chiaveDisinstalla =
        "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VelloKVT";
    // The connector's URL and the locale from the test's registry; no
    // practice configured, so the installer sets its demo one.
    avviaCollettore();
    piattaforma().caricaRegistro(registro());
    ASSERT_EQ(reg({"delete", chiaveOspite, "/v", "database", "/f"}).stato, 0);
    ASSERT_TRUE(fs::is_regular_file(KVT_SETUP)) << KVT_SETUP << ": make windows-dist";

    Esito esito = installa();
    ASSERT_EQ(esito.stato, 0) << esito.errore;
    for (const char* file :
         {"vd_kvt.exe", "PSHLib.dll", "LKlib.dll", "vellodoc_server.dll", "Disinstalla.exe",
          "kvt/dtd/RichiestaCaricamento.dtd", "demo/studio-demo.sqlite"}) {
        EXPECT_TRUE(fs::is_regular_file(installata_ / file)) << file;
    }
    esito = reg({"query", chiaveOspite, "/v", "database"});
    EXPECT_THAT(esito.uscita, HasSubstr(installataWindows_ + "\\demo\\studio-demo.sqlite"));
    EXPECT_EQ(reg({"query", chiaveDisinstalla, "/v", "QuietUninstallString"}).stato, 0);

    esito = wine({(installata_ / "vd_kvt.exe").string(), "--version"});
    EXPECT_EQ(esito.stato, 0) << esito.errore;
    EXPECT_THAT(esito.uscita, HasSubstr(KVT_VERSIONE));

    // Wine's COM reads classes from HKLM only: the installed server is also
    // registered there (and the build's one again by the next test that
    // needs it).
    const std::string server = installataWindows_ + "\\vellodoc_server.dll";
    fs::remove(prefisso_ / ".kvt-host-registrato");
    ASSERT_EQ(wine({"regsvr32", "/s", "/n", "/i:machine", server}).stato, 0);

    const fs::path password = lavoro() / "password-demo";
    scrivi(password, "demo\n");
    fs::permissions(password, fs::perms::owner_read | fs::perms::owner_write);
    esito = wine({(installata_ / "vd_kvt.exe").string(), "--utente", "demo", "--password-file",
                  percorso(password), "--nuovo-invio"},
                 600s);
    wine({"regsvr32", "/s", "/u", "/n", "/i:machine", server});
    // The demo practice holds a patient without a birth date, on purpose:
    // every other patient of the doctor is sent.
    const std::string registrato = leggiLog(installata_ / "kvt" / "log.txt");
    std::smatch totale;
    ASSERT_TRUE(std::regex_search(registrato, totale, std::regex("Pazienti totali: ([0-9]+)")))
        << esito.uscita << esito.errore;
    const Riepilogo riepilogo = leggiRiepilogo(esito.uscita);
    ASSERT_TRUE(riepilogo.letto()) << esito.uscita << esito.errore;
    EXPECT_EQ(esito.stato, 3) << esito.errore;
    EXPECT_EQ(riepilogo.erroriCreazione, 1) << registrato;
    EXPECT_EQ(riepilogo.erroriInvio, 0) << registrato;
    EXPECT_EQ(riepilogo.scartati, 0);
    EXPECT_EQ(riepilogo.inviati + riepilogo.erroriCreazione, std::stoi(totale[1].str()));
    EXPECT_EQ(static_cast<int>(fileIn(installata_ / "kvt" / "xml" / "inviati", "_kvt.xml").size()),
              riepilogo.inviati);

    esito = disinstalla();
    ASSERT_EQ(esito.stato, 0) << esito.errore;
    EXPECT_THAT(voci(installata_), UnorderedElementsAre("kvt", "Disinstalla.exe"));
    EXPECT_FALSE(fs::exists(installata_ / "kvt" / "dtd"));
    EXPECT_TRUE(fs::is_regular_file(installata_ / "kvt" / "log.txt"));
    EXPECT_FALSE(fileIn(installata_ / "kvt" / "xml" / "inviati", "_kvt.xml").empty());
    EXPECT_NE(reg({"query", chiaveOspite, "/v", "database"}).stato, 0);
    EXPECT_NE(reg({"query", chiaveDisinstalla}).stato, 0);
}

// What the office already has stays as it is: its own connector (never
// replaced, nor removed by the uninstaller) and its configured practice.
TEST_F(Installazione, OfficeConnectorAndPracticeAreLeftAsTheyAre) {
    const fs::path lklib = installata_ / "LKlib.dll";
    const std::string connettore =
        leggi(fs::path(std::getenv("KVT_E2E_WINDOWS")) / "bin" / "LKlib.dll") + "dello studio";
    scrivi(lklib, connettore);
    const std::string archivio = "Z:\\studio\\archivio.sqlite";
    ASSERT_EQ(
        reg({"add", kChiaveOspite, "/v", "database", "/t", "REG_SZ", "/d", archivio, "/f"}).stato,
        0);

    Esito esito = installa();
    ASSERT_EQ(esito.stato, 0) << esito.errore;
    EXPECT_TRUE(fs::is_regular_file(installata_ / "vellodoc_server.dll"));
    EXPECT_TRUE(leggi(lklib) == connettore) << "LKlib.dll dello studio sostituita";
    EXPECT_THAT(reg({"query", kChiaveOspite, "/v", "database"}).uscita, HasSubstr(archivio));

    esito = disinstalla();
    ASSERT_EQ(esito.stato, 0) << esito.errore;
    EXPECT_TRUE(leggi(lklib) == connettore) << "LKlib.dll dello studio tolta o cambiata";
    EXPECT_THAT(voci(installata_), UnorderedElementsAre("kvt", "LKlib.dll", "Disinstalla.exe"));
    EXPECT_THAT(reg({"query", kChiaveOspite, "/v", "database"}).uscita, HasSubstr(archivio));
    reg({"delete", kChiaveOspite, "/v", "database", "/f"});
}

}  // namespace
}  // namespace kvt::e2e
