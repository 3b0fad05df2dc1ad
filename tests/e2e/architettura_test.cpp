// vd_kvt.exe beside the connector of the other Windows build (a 64-bit
// program with the 32-bit LKlib.dll an office has, or the other way round):
// unattended and windowed it names both bitnesses and the build to install,
// ends with status 3 and touches nothing.
#include "e2e/e2e_support.h"

namespace kvt::e2e {
namespace {

// Every file and folder below the folder, files with a hash of their bytes.
std::map<std::string, std::size_t> contenuto(const fs::path& cartella) {
    std::map<std::string, std::size_t> voci;
    for (const auto& voce : fs::recursive_directory_iterator(cartella)) {
        voci[voce.path().string()] = std::hash<std::string>{}(leggi(voce.path()));
    }
    return voci;
}

using Architettura = E2e;

TEST_F(Architettura, ConnectorOfTheOtherBitnessStopsWithTheMessage) {
    const fs::path build = std::getenv("KVT_E2E_WINDOWS") ? std::getenv("KVT_E2E_WINDOWS") : "";
    const bool trentadue = !build.empty() && build == KVT_WINDOWS_BUILD_I686_DIR;
    const fs::path altra = trentadue ? KVT_WINDOWS_BUILD_DIR : KVT_WINDOWS_BUILD_I686_DIR;
    if (build.empty() || altra.empty() || !fs::exists(altra / "bin" / "LKlib.dll")) {
        GTEST_SKIP() << "serve una build Windows (KVT_E2E_WINDOWS) e l'LKlib.dll dell'altra "
                        "(KVT_WINDOWS_BUILD_I686 / KVT_WINDOWS_BUILD)";
    }
    // All a sending needs, and work waiting in the folders.
    generaPratica(3);
    avviaCollettore();
    piattaforma().caricaRegistro(registro());
    scrivi(xml() / "no_conn" / "attesa.xml", "<attesa/>");
    scrivi(xml() / "da_inviare.xml", "<da_inviare/>");
    const auto prima = contenuto(programma());
    const fs::path eseguibile = lavoro() / "eseguibile";
    fs::create_directories(eseguibile);
    fs::copy_file(build / "bin" / "vd_kvt.exe", eseguibile / "vd_kvt.exe");
    fs::copy_file(build / "bin" / "PSHLib.dll", eseguibile / "PSHLib.dll");
    fs::copy_file(altra / "bin" / "LKlib.dll", eseguibile / "LKlib.dll");
    const std::string altri = trentadue ? "64 bit" : "32 bit";
    const std::string atteso = "vd_kvt: Il connettore LKlib.dll trovato in " +
                               percorso(eseguibile / "LKlib.dll") + " è a " + altri +
                               ", questo vd_kvt.exe è a " + (trentadue ? "32 bit" : "64 bit") +
                               ": installare vd_kvt a " + altri + ".\n";
    for (const bool finestre : {false, true}) {
        std::vector<std::string> argv = {KVT_WINE_EXEC, build.string(),
                                         (eseguibile / "vd_kvt.exe").string(), "--program-dir",
                                         percorso(programma())};
        if (!finestre) {
            argv.insert(argv.end(), {"--utente", kUtente, "--nuovo-invio"});
        }
        Processo vdKvt(argv,
                       {{"KVT_PASSWORD", kPassword}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}},
                       lavoro() / "vd_kvt.out", lavoro() / "vd_kvt.err");
        EXPECT_EQ(vdKvt.attendi(), 3) << finestre;
        EXPECT_EQ(vdKvt.errore(), atteso);
        EXPECT_EQ(contenuto(programma()), prima) << finestre;
    }
    collettore_.reset();
    EXPECT_TRUE(!fs::exists(archivio()) || contenuto(archivio()).empty());
}

}  // namespace
}  // namespace kvt::e2e
