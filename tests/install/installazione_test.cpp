// The installer of the Windows builds in the Wine prefix, as an office runs
// it: a silent install with both stand-ins into the user's programs folder,
// the program from there (its own folder as program folder, nothing from the
// build on the DLL path) sending the demo practice to the Linux collector,
// then a silent uninstall that leaves only the user's kvt\ folder; and which
// build it installs for the connector it finds.
#include <pwd.h>

#include <algorithm>
#include <cstdint>
#include <regex>

#include "common/pe.h"
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
        // The host stand-in is installed only where no host is registered:
        // the build's one, which other tests register in either form (the
        // DLL or the local server), goes (they register it again, the stamp
        // gone).
        const fs::path bin = fs::path(std::getenv("KVT_E2E_WINDOWS")) / "bin";
        const std::string ospite = percorso(bin / "vellodoc_server.dll");
        wine({"regsvr32", "/s", "/u", "/n", "/i:machine", ospite});
        wine({"regsvr32", "/s", "/u", ospite});
        wine({percorso(bin / "vellodoc_server.exe"), "/unregserver", "machine"});
        wine({percorso(bin / "vellodoc_server.exe"), "/unregserver"});
        fs::remove(prefisso_ / ".kvt-host-registrato");
    }
    void TearDown() override {
        std::error_code ignorato;
        fs::remove_all(installata_, ignorato);
        fs::remove(sistema() / "LKlib.dll", ignorato);
    }
    fs::path sistema() const { return prefisso_ / "drive_c" / "windows" / "system32"; }

    // A program under Wine in the test's prefix; the build folder given to
    // wine-exec is the test's own, so no DLL of the build is on the path.
    Esito wine(const std::vector<std::string>& argomenti, std::chrono::seconds limite = 120s,
               const std::string& percorsoDll = "") {
        std::vector<std::string> argv = {KVT_WINE_EXEC, lavoro().string()};
        argv.insert(argv.end(), argomenti.begin(), argomenti.end());
        const std::string nome = "wine-" + std::to_string(++comandiWine_);
        Processo processo(
            argv,
            {{"KVT_WINEPREFIX", prefisso_.string()}, {"DISPLAY", ""}, {"WINEPATH", percorsoDll}},
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
    // The 64-bit build, which runs here (a 32-bit one would need wine32).
    Esito installa() { return wine({KVT_SETUP, "/S", "/PROVA", "/ARCH=x64"}, 300s); }
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

// The machine type of an installed file, 0 for one that is not a PE image.
std::uint16_t macchinaPe(const fs::path& file) {
    return pe::machine(leggi(file)).value_or(0);
}

constexpr std::uint16_t kX86 = pe::kI386;
constexpr std::uint16_t kX64 = pe::kAmd64;

// Which build the installer chooses: the connector's bitness where the
// programs would find it (beside the program, the system folder, the PATH),
// the 32-bit build without one, /ARCH over both; the stand-ins in the chosen
// bitness, the host's only where no host is registered, its practice in the
// registry view of the host's key where one view has it, else in the
// stand-in's.
TEST_F(Installazione, InstallsTheBuildMatchingTheConnector) {
    enum class Dove { Nessuno, Accanto, Sistema, Path };
    struct Caso {
        const char* nome;
        Dove dove;
        std::uint16_t connettore;
        std::vector<std::string> opzioni;
        bool ospiteRegistrato;
        std::uint16_t attesa;  // 0: the installer refuses
        int chiave = 0;        // the view (32, 64) that has the host's key before, 0 neither
        int vista = 0;         // where the demo practice is set, 0 unchecked
    };
    const Caso casi[] = {
        {"32 bit accanto", Dove::Accanto, kX86, {}, false, kX86},
        {"64 bit accanto", Dove::Accanto, kX64, {}, false, kX64},
        {"64 bit in System32", Dove::Sistema, kX64, {}, false, kX64},
        {"64 bit nel PATH", Dove::Path, kX64, {}, false, kX64},
        {"nessuno, con i sostituti", Dove::Nessuno, 0, {"/PROVA"}, false, kX86, 0, 32},
        {"sostituti a 64 bit, chiave a 32 bit",
         Dove::Nessuno,
         0,
         {"/ARCH=x64", "/PROVA"},
         false,
         kX64,
         32,
         32},
        {"/ARCH=x64 su un connettore a 32 bit", Dove::Accanto, kX86, {"/ARCH=x64"}, false, kX64},
        {"/ARCH=x86 su un connettore a 64 bit", Dove::Accanto, kX64, {"/ARCH=x86"}, false, kX86},
        {"/ARCH=x64, gestionale già registrato",
         Dove::Nessuno,
         0,
         {"/ARCH=x64", "/PROVA"},
         true,
         kX64},
        {"/ARCH non valido", Dove::Nessuno, 0, {"/ARCH=arm64"}, false, 0},
    };
    // A connector of either bitness: the build's own, its machine field set
    // (the installer reads no further than the header).
    const std::string lklib = leggi(fs::path(std::getenv("KVT_E2E_WINDOWS")) / "bin" / "LKlib.dll");
    const auto connettore = [&](const fs::path& file, std::uint16_t macchina) {
        std::string immagine = lklib;
        const std::size_t campo = static_cast<unsigned char>(immagine[0x3C]) +
                                  (static_cast<unsigned char>(immagine[0x3D]) << 8) + 4;
        immagine[campo] = static_cast<char>(macchina & 0xFF);
        immagine[campo + 1] = static_cast<char>(macchina >> 8);
        fs::create_directories(file.parent_path());
        scrivi(file, immagine);
        ASSERT_EQ(macchinaPe(file), macchina);
    };
    for (const Caso& caso : casi) {
        SCOPED_TRACE(caso.nome);
        fs::remove_all(installata_);
        fs::remove(sistema() / "LKlib.dll");
        const fs::path cartellaPath = lavoro() / "path";
        fs::remove_all(cartellaPath);
        if (caso.dove == Dove::Accanto) {
            connettore(installata_ / "LKlib.dll", caso.connettore);
        } else if (caso.dove == Dove::Sistema) {
            connettore(sistema() / "LKlib.dll", caso.connettore);
        } else if (caso.dove == Dove::Path) {
            connettore(cartellaPath / "LKlib.dll", caso.connettore);
        }
        if (caso.ospiteRegistrato) {
            piattaforma().registraHost(false);
        }
        const auto vista = [](int bit) { return "/reg:" + std::to_string(bit); };
        if (caso.vista != 0) {
            reg({"delete", kChiaveOspite, "/f", vista(32)});
            reg({"delete", kChiaveOspite, "/f", vista(64)});
            if (caso.chiave != 0) {
                reg({"add", kChiaveOspite, "/v", "ultimo_utente", "/d", "demo", "/f",
                     vista(caso.chiave)});
            }
        }
        std::vector<std::string> argv = {KVT_SETUP, "/S"};
        argv.insert(argv.end(), caso.opzioni.begin(), caso.opzioni.end());
        // The connector's folder after another one, in quotes as PATH may have it.
        Esito esito =
            wine(argv, 300s,
                 caso.dove == Dove::Path ? "C:\\manca;\"" + percorso(cartellaPath) + "\"" : "");
        if (caso.attesa == 0) {
            EXPECT_NE(esito.stato, 0);
            EXPECT_FALSE(fs::exists(installata_ / "vd_kvt.exe"));
            continue;
        }
        ASSERT_EQ(esito.stato, 0) << esito.errore;
        EXPECT_EQ(macchinaPe(installata_ / "vd_kvt.exe"), caso.attesa);
        EXPECT_EQ(macchinaPe(installata_ / "PSHLib.dll"), caso.attesa);
        if (std::find(caso.opzioni.begin(), caso.opzioni.end(), "/PROVA") != caso.opzioni.end()) {
            EXPECT_EQ(macchinaPe(installata_ / "LKlib.dll"), caso.attesa);
            if (caso.ospiteRegistrato) {
                EXPECT_FALSE(fs::exists(installata_ / "vellodoc_server.dll"));
            } else {
                EXPECT_EQ(macchinaPe(installata_ / "vellodoc_server.dll"), caso.attesa);
            }
        }
        if (caso.vista != 0) {
            EXPECT_THAT(reg({"query", kChiaveOspite, "/v", "database", vista(caso.vista)}).uscita,
                        HasSubstr(installataWindows_));
            EXPECT_NE(reg({"query", kChiaveOspite, "/v", "database", vista(96 - caso.vista)}).stato,
                      0);
        }
        esito = disinstalla();
        EXPECT_EQ(esito.stato, 0) << esito.errore;
        EXPECT_FALSE(fs::exists(installata_ / "vd_kvt.exe"));
    }
}

}  // namespace
}  // namespace kvt::e2e
