// Hostile host data through the real host adapter and the host stand-in: XML
// specials, control characters and NUL, bytes that are not UTF-8, characters
// XML cannot carry, accents and emoji at the cut of a limited field, and 1 MB
// texts, in every text the record takes from the host. Each upload file must
// be well-formed and valid for libxml2, carry the right pseudonym, and hold
// every text as the field writer defines it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "common/utf.h"
#include "common/xml_document.h"
#include "host/tvellopat.h"
#include "peers/vellodoc/practice.h"
#include "peers/vellodoc/vellodoc_server.h"
#include "record/record_fixture.h"
#include "record/tld_crea_nodo.h"
#include "reliability/ostili.h"
#include "reliability/tracciato_libxml.h"

namespace kvt {
namespace {

namespace fs = std::filesystem;
using test::Ostile;
using test::sha1Atteso;
using test::Tracciato;

constexpr const char* kMedico = "MMG1";
constexpr const char* kUtente = "medico";
constexpr const char* kPassword = "segreto";
constexpr const char* kCodiceFiscale = "RSSMRA80A01H501U";

// Text elements of the record that come from the host, with the length the
// record tables give them (0: not limited), and the item that holds them.
struct Campo {
    const char* percorso;
    std::size_t limite;
};

constexpr Campo kCampi[] = {
    {"//trxAnagrafica/trxGruppoSang", 0},
    {"//trxAnagrafica/trxFattoreRH", 0},
    {"//trxAnagrafica/trxCodICDDecesso", 0},
    {"//trxAnagrafica/trxCausaDecesso", 100},
    {"//trxEsenzione/trxCodRegionaleEsenzione", 0},
    {"//trxPrescrizioneEsameLaboratorio//trxUnitaMisura", 0},
    {"//trxPrescrizioneFarmaco/trxCodAIC", 0},
    {"//trxAllergia[trxTipoAI='I']/trxFarmaco", 50},
    {"//trxEsenzione/trxDescrizioneEsenzione", 100},
    {"//trxProblemaClinico[trxProblemaFinale!='']/trxProblemaFinale", 100},
    {"//trxProblemaClinico[trxProblemaSospetto!='']/trxProblemaSospetto", 0},
    {"//trxPrescrizioneEsameLaboratorio/trxPrescrizione/trxPrestazione", 100},
    {"//trxPrescrizioneEsameLaboratorio//trxDexRisultato", 100},
    {"//trxPrescrizioneEsameLaboratorio//trxEsito", 0},
    {"//trxPrescrizioneEsameStrumentale/trxPrestazione", 100},
    {"//trxPrescrizioneEsameStrumentale/trxReferto", 0},
    {"//trxPrescrizioneVisitaSpec/trxPrestazione", 100},
    {"//trxPrescrizioneVisitaSpec/trxReferto", 0},
    {"//trxPrescrizioneRiabilitazione/trxPrestazione", 100},
    {"//trxPrescrizioneFarmaco/trxConfezione", 0},
    {"//trxPrescrizioneFarmaco/trxPosologia", 0},
    {"//trxPrestazioneExtra/trxPrestazione", 100},
    {"//trxPrestazioneExtra/trxDiagnosi", 100},
};

// The first `quanti` characters of a UTF-8 text.
std::string primiCaratteri(const std::string& testo, std::size_t quanti) {
    std::size_t i = 0;
    for (std::size_t visti = 0; i < testo.size(); ++i) {
        if ((static_cast<unsigned char>(testo[i]) & 0xC0) != 0x80) {
            if (visti == quanti) {
                break;
            }
            ++visti;
        }
    }
    return testo.substr(0, i);
}

// A temporary folder for the practice file, removed with its content.
class CartellaTemporanea {
  public:
    CartellaTemporanea() {
        percorso_ = fs::temp_directory_path() /
                    ("kvt_ostili_" + std::to_string(::getpid()) + "_" + std::to_string(++n_));
        fs::create_directories(percorso_);
    }
    ~CartellaTemporanea() {
        std::error_code ignorato;
        fs::remove_all(percorso_, ignorato);
    }
    const fs::path& percorso() const { return percorso_; }

  private:
    static inline int n_ = 0;
    fs::path percorso_;
};

class DatiOstili : public ::testing::TestWithParam<Ostile> {
  protected:
    void SetUp() override {
        setWindowing(&finestre);
        vellodoc::registerServer();
        pratica = cartella.percorso() / "studio.sqlite";
        codiceFiscale = kCodiceFiscale + GetParam().codaCodiceFiscale;
        {
            vellodoc::Database db = vellodoc::createPractice(pratica);
            vellodoc::addUser(db, kUtente, kPassword, kMedico);
            test::scriviPaziente(db, "1", kMedico, codiceFiscale, GetParam().valore);
            db.close();
        }
        registro.write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano]\r\n\"database\"=\"" +
                       pratica.string() + "\"\r\n");
        host.utente = kUtente;
        host.password = kPassword;
        ASSERT_TRUE(host.start());
        ASSERT_EQ(host.carica(std::string("codice_medico =") + kMedico + "|tipo_di_convenzione=S",
                              "alfabetico"),
                  1);
    }
    void TearDown() override {
        host.stop();
        setWindowing(nullptr);
    }

    // The upload file of the current patient, made as the upload run makes it.
    std::string tracciato(std::string& testoErrori) {
        XmlDocument documento;
        EXPECT_TRUE(documento.loadXML(
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>"
            "<!DOCTYPE vekRichiesta SYSTEM \"RichiestaCaricamento.dtd\"><vekRichiesta />"));
        XmlNode radice = documento.documentElement();
        for (const auto& [nome, testo] :
             {std::pair{"vekVersione", "KVT 1.1"}, std::pair{"vekTipoOperazione", "UPLO"}}) {
            XmlNode elemento = documento.createElement(nome);
            elemento.setText(testo);
            radice.appendChild(elemento);
        }
        XmlNode pazienti = documento.createElement("vekPazienti");
        XmlNode paziente = documento.createElement("vekPaziente");
        const kvt::Cartella cartellaClinica = creaCartella(documento, 2, host);
        testoErrori = cartellaClinica.testoErrori;
        paziente.appendChild(cartellaClinica.elemento);
        pazienti.appendChild(paziente);
        radice.appendChild(pazienti);
        return documento.xml();
    }

    test::RecordingWindowing finestre;
    test::TempRegistry registro;
    workstation::ScopedFormats formati{test::formatiItaliani()};
    clock::FixedClock orologio{test::oggiDiProva()};
    CartellaTemporanea cartella;
    fs::path pratica;
    std::string codiceFiscale;
    Tvellopat host;
};

TEST_P(DatiOstili, TheUploadFileIsWellFormedValidAndCarriesEveryTextSoundly) {
    const Ostile& caso = GetParam();
    std::string testoErrori;
    const std::string xml = tracciato(testoErrori);
    EXPECT_EQ(testoErrori, "");
    EXPECT_TRUE(finestre.messages.empty()) << finestre.messages.front();

    const Tracciato letto(xml);
    ASSERT_TRUE(letto.benFormato());
    EXPECT_EQ(letto.erroriDtd(), "");

    EXPECT_EQ(letto.testi("//trxIdentificazione/trxCodFiscaleAssistito"),
              std::vector<std::string>{sha1Atteso(codiceFiscale)});
    // Names and addresses stay in the host, whatever they hold.
    EXPECT_EQ(xml.find("RSSMRA"), std::string::npos);

    for (const Campo& campo : kCampi) {
        const std::vector<std::string> testi = letto.testi(campo.percorso);
        ASSERT_EQ(testi.size(), 1u) << campo.percorso;
        const std::string atteso =
            campo.limite == 0 ? caso.atteso : primiCaratteri(caso.atteso, campo.limite);
        // Compared by size and start first, so that a 1 MB difference is told briefly.
        EXPECT_EQ(testi.front().size(), atteso.size()) << campo.percorso;
        EXPECT_TRUE(testi.front() == atteso)
            << campo.percorso << ": " << testi.front().substr(0, 200) << " invece di "
            << atteso.substr(0, 200);
    }
    // The drug is the host's name up to its "*", which it keeps.
    EXPECT_TRUE(letto.testi("//trxPrescrizioneFarmaco/trxFarmaco") ==
                std::vector<std::string>{caso.atteso + "*"});
}

INSTANTIATE_TEST_SUITE_P(Host, DatiOstili, ::testing::ValuesIn(test::casiOstili()),
                         [](const ::testing::TestParamInfo<Ostile>& info) {
                             return std::string(info.param.nome);
                         });

}  // namespace
}  // namespace kvt
