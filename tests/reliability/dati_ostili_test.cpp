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
#include "reliability/tracciato_libxml.h"

namespace kvt {
namespace {

namespace fs = std::filesystem;
using test::sha1Atteso;
using test::Tracciato;

constexpr const char* kMedico = "MMG1";
constexpr const char* kUtente = "medico";
constexpr const char* kPassword = "segreto";
constexpr const char* kCodiceFiscale = "RSSMRA80A01H501U";

// One kind of hostile text: what the host holds, and what the upload file
// must carry for it in a field without length limit (a limited field carries
// the first characters of it).
struct Ostile {
    const char* nome;
    std::string valore;
    std::string atteso;
    // Appended to the fiscal code, so that the pseudonym meets it too.
    std::string codaCodiceFiscale;
};

// A failing case is named, not dumped byte by byte.
void PrintTo(const Ostile& caso, std::ostream* out) {
    *out << caso.nome;
}

std::string ripeti(const std::string& pezzo, std::size_t volte) {
    std::string testo;
    testo.reserve(pezzo.size() * volte);
    for (std::size_t i = 0; i < volte; ++i) {
        testo += pezzo;
    }
    return testo;
}

// 1 MB of specials and accents, ending in a letter so that no trim shortens it.
const std::string kUnMega = ripeti("Referto & <note> \"già\" 'x' ]]> ", 1024 * 1024 / 32) + "fine";

const std::vector<Ostile>& casiOstili() {
    static const std::vector<Ostile> casi = {
        {"speciali", "A & B < C > D \" E ' F ]]> G &amp; <![CDATA[ x ]]> &#1; <!-- -->",
         "A & B < C > D \" E ' F ]]> G &amp; <![CDATA[ x ]]> &#1; <!-- -->", ""},
        // Control characters become blanks; TAB and line breaks stay.
        {"controlli", "a\x01z\x02y\x08x\x0Bw\x0Cv\x0Eu\x1Bt\x1Fs\x7Fr\tq\np",
         "a z y x w v u t s\x7Fr\tq\np", ""},
        {"nul", std::string("prima\0dopo\0fine", 16), "prima dopo fine", ""},
        // Bytes outside UTF-8 are read as Latin-1: a lone continuation byte,
        // sequences cut short, an overlong form, an encoded surrogate and a
        // code beyond U+10FFFF.
        {"utf8_non_valido",
         "a\x80"
         "b\xC3"
         "c\xE2\x82"
         "d\xC0\xAF"
         "e\xED\xA0\x80"
         "f\xF4\x90\x80\x80"
         "g",
         "a\xC2\x80"
         "b\xC3\x83"
         "c\xC3\xA2\xC2\x82"
         "d\xC3\x80\xC2\xAF"
         "e\xC3\xAD\xC2\xA0\xC2\x80"
         "f\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"
         "g",
         "\x80"},
        // U+FFFE and U+FFFF are UTF-8 but no XML character: blanks too.
        {"non_caratteri", "x\xEF\xBF\xBEy\xEF\xBF\xBFz", "x y z", ""},
        // Two- and four-byte characters, so that every cut of 50 or 100
        // characters falls inside a multi-byte sequence if counted in bytes.
        {"accenti_emoji", ripeti("è\xF0\x9F\x98\x80à", 60), ripeti("è\xF0\x9F\x98\x80à", 60),
         "\xC3\x80"},
        {"un_mega", kUnMega, kUnMega, ""},
    };
    return casi;
}

// Text elements of the record that come from the host, with the length the
// record tables give them (0: not limited), and the item that holds them.
struct Campo {
    const char* percorso;
    std::size_t limite;
};

constexpr Campo kCampi[] = {
    {"//trxAnagrafica/trxCausaDecesso", 100},
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

// One patient whose every text that reaches the upload file holds `v`, with
// one row of each dataset routed to each kind of item.
void scriviPaziente(vellodoc::Database& db, const std::string& codiceFiscale,
                    const std::string& v) {
    db.prepare(
          "INSERT INTO pazienti (codice, codice_medico, cognome, nome, codice_fiscale, sesso, "
          "data_nascita, gruppo_sanguigno, rh, codice_asl, via_piazza, numero_civico, "
          "decesso_data_evento, decesso_codice_icd9_cm, decesso_causa) VALUES "
          "('1', ?1, ?2, ?2, ?3, 'F', '1950-02-03', 'A', '+', '301', ?2, ?2, '2024-01-02', "
          "'428.0', ?2)")
        .bind(1, kMedico)
        .bind(2, v)
        .bind(3, codiceFiscale)
        .step();
    const auto inserisci = [&](const char* sql) { db.prepare(sql).bind(1, v).step(); };
    inserisci(
        "INSERT INTO intolleranza_da_farmaco VALUES ('1', ?1, '2020-01-01', '012345678', "
        "'2020-01-01 00:00:00')");
    inserisci(
        "INSERT INTO problema VALUES ('1', '401.9', ?1, 'N', '2019-01-01', 'cardio', "
        "'2019-01-01 00:00:00'), ('1', '250.0', ?1, 'S', '2019-02-01', 'metabolismo', "
        "'2019-02-01 00:00:00')");
    inserisci(
        "INSERT INTO esenzione VALUES ('1', '013', ?1, '12345678', '250', '2020-03-10', "
        "'2030-03-10', '2020-03-10 00:00:00')");
    inserisci(
        "INSERT INTO prescrizione_accertamento (codice, id_prescrizione_vd, "
        "codice_accertamento, codice_vd_prescrizione, codice_vd_tipo_prescrizione, "
        "codice_nomenclatore_tariffario, nome_prescrizione, data_richiesta, data_esecuzione, "
        "risultato_valore_breve, risultato_unita_di_misura, risultato_referto, "
        "prezzo_unitario_euro, variato_il) VALUES "
        "('1', '11', 'glicemia', '100', 'L', '90.27.1', ?1, '2023-01-02', '2023-01-05', ?1, ?1, "
        "?1, '3,50', '2023-01-05 00:00:00'), "
        "('1', '12', 'eco', '200', 'X', '88.74.1', ?1, '2023-02-02', '2023-02-05', '', '', ?1, "
        "'30', '2023-02-05 00:00:00'), "
        "('1', '13', 'visita', '300', 'X', '89.7', ?1, '2023-03-02', '2023-03-05', '', '', ?1, "
        "'25', '2023-03-05 00:00:00')");
    inserisci(
        "INSERT INTO prescrizione_varia VALUES ('1', ?1, '2023-04-01', '2', '10,00', "
        "'2023-04-01 00:00:00')");
    inserisci(
        "INSERT INTO prescrizione_farmaco VALUES ('1', '012345678', 'FARMACO*' || ?1, "
        "'2023-05-01', '1', 'A', 'S', ?1, '2023-05-01 00:00:00')");
    inserisci(
        "INSERT INTO prestazione_incentivante VALUES ('1', '2023-06-01', ?1, ?1, "
        "'2023-06-01 00:00:00')");
}

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
            scriviPaziente(db, codiceFiscale, GetParam().valore);
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
}

INSTANTIATE_TEST_SUITE_P(Host, DatiOstili, ::testing::ValuesIn(casiOstili()),
                         [](const ::testing::TestParamInfo<Ostile>& info) {
                             return std::string(info.param.nome);
                         });

}  // namespace
}  // namespace kvt
