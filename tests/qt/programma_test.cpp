// vd_kvt chooses between the windows and the unattended front end.
#include "e2e/e2e_support.h"

namespace kvt::qt::test {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

class Programma : public e2e::E2e {
  protected:
    std::unique_ptr<e2e::Processo> avviaConAmbiente(const std::vector<std::string>& argomenti,
                                                    std::map<std::string, std::string> ambiente) {
        std::vector<std::string> argv = {(e2e::kBin / "vd_kvt").string(), "--program-dir",
                                         programma().string()};
        argv.insert(argv.end(), argomenti.begin(), argomenti.end());
        ambiente["KVT_REGISTRY"] = registro().string();
        return std::make_unique<e2e::Processo>(argv, ambiente, lavoro() / "vd_kvt.out",
                                               lavoro() / "vd_kvt.err");
    }
    static std::map<std::string, std::string> senzaDisplay() {
        return {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};
    }
};

TEST_F(Programma, SenzaDisplayNeOpzioniDiceInUnaRigaComeInviareEdEsceCon2) {
    auto vd = avviaConAmbiente({}, senzaDisplay());
    EXPECT_EQ(vd->attendi(30s), 2);
    const std::vector<std::string> righe = e2e::righe(vd->errore());
    ASSERT_EQ(righe.size(), 1u) << vd->errore();
    EXPECT_THAT(righe[0], HasSubstr("--utente"));
    EXPECT_THAT(righe[0], HasSubstr("--nuovo-invio"));
    EXPECT_FALSE(std::filesystem::exists(kvt() / "log.txt"));
}

TEST_F(Programma, ConUnDisplaySenzaOpzioniApreIlLoginEAttende) {
    auto ambiente = senzaDisplay();
    ambiente["QT_QPA_PLATFORM"] = "offscreen";
    auto vd = avviaConAmbiente({}, ambiente);
    // The login window waits for the operator: the program is still there.
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(vd->vivo()) << vd->errore();
    vd->uccidi();
    EXPECT_THAT(vd->errore(), ::testing::Not(HasSubstr("--utente")));
}

TEST_F(Programma, LeOpzioniDiComandoRestanoAlFrontEndNonPresidiatoAncheConUnDisplay) {
    generaPratica(3);
    avviaCollettore();
    auto ambiente = senzaDisplay();
    ambiente["QT_QPA_PLATFORM"] = "offscreen";
    ambiente["KVT_PASSWORD"] = kPassword;
    auto vd = avviaConAmbiente({"--utente", kUtente, "--riprendi"}, ambiente);
    const std::optional<int> stato = vd->attendi(120s);
    ASSERT_TRUE(stato.has_value()) << vd->errore();
    EXPECT_THAT(*stato, ::testing::AnyOf(0, 3)) << vd->errore();
    EXPECT_THAT(vd->uscita(), HasSubstr("Procedura terminata."));

    auto versione = avviaConAmbiente({"--version"}, ambiente);
    EXPECT_EQ(versione->attendi(30s), 0);
    EXPECT_THAT(versione->uscita(), HasSubstr("1.46"));
}

}  // namespace
}  // namespace kvt::qt::test
