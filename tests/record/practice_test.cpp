// The record built through the real host adapter from the host stand-in over
// a practice database: a hand-made practice whose rows exercise the rules of
// the sections, and a generated practice of a few hundred patients.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/valid.h>
#include <openssl/evp.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/utf.h"
#include "peers/vellodoc/generator.h"
#include "peers/vellodoc/practice.h"
#include "peers/vellodoc/vellodoc_server.h"
#include "record/record_fixture.h"
#include "record/tld_crea_nodo.h"

namespace kvt {
namespace {

using Texts = std::vector<std::string>;

constexpr const char* kMedico = "MMG9";
constexpr const char* kUtente = "medico";
constexpr const char* kPassword = "segreto";

// A temporary folder for the practice file, removed with its content.
class TempFolder {
  public:
    TempFolder() {
        path_ = std::filesystem::temp_directory_path() /
                ("kvt_record_practice_" + std::to_string(::getpid()) + "_" +
                 std::to_string(++contatore()));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    static int& contatore() {
        static int n = 0;
        return n;
    }
    std::filesystem::path path_;
};

// SHA-1 of the fiscal code as the project computes it, written independently
// of PSHLib: blanks and control characters off both ends, a-z upper-cased,
// Windows-1252 bytes when the code has them.
std::string sha1Atteso(const std::string& codiceFiscale) {
    std::string byte = utf8ToWindows1252(codiceFiscale).value_or(codiceFiscale);
    while (!byte.empty() && static_cast<unsigned char>(byte.front()) <= 32) {
        byte.erase(0, 1);
    }
    while (!byte.empty() && static_cast<unsigned char>(byte.back()) <= 32) {
        byte.pop_back();
    }
    for (char& c : byte) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(byte.data(), byte.size(), digest, &size, EVP_sha1(), nullptr);
    static constexpr char kCifre[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex += kCifre[digest[i] >> 4];
        hex += kCifre[digest[i] & 15];
    }
    return hex;
}

// Collects the validator's messages into the std::string behind `data`.
void raccogliErrore(void* data, const char* format, ...) {
    char testo[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(testo, sizeof testo, format, args);
    va_end(args);
    *static_cast<std::string*>(data) += testo;
}

// The record wrapped in the upload file's envelope, checked against the
// upload file's document type; the validator's complaints, empty when valid.
std::string erroriDtd(XmlDocument& busta) {
    std::string errori;
    xmlDtdPtr dtd = xmlParseDTD(nullptr, reinterpret_cast<const xmlChar*>(KVT_UPLOAD_DTD));
    if (!dtd) {
        return "document type non leggibile: " KVT_UPLOAD_DTD;
    }
    const std::string xml = busta.xml();
    xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "busta.xml", nullptr,
                                  XML_PARSE_NONET);
    if (!doc) {
        xmlFreeDtd(dtd);
        return "busta non leggibile";
    }
    xmlValidCtxtPtr ctxt = xmlNewValidCtxt();
    ctxt->userData = &errori;
    ctxt->error = raccogliErrore;
    ctxt->warning = nullptr;
    if (!xmlValidateDtd(ctxt, doc, dtd) && errori.empty()) {
        errori = "non valido";
    }
    xmlFreeValidCtxt(ctxt);
    xmlFreeDoc(doc);
    xmlFreeDtd(dtd);
    return errori;
}

constexpr const char* kBusta =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><vekRichiesta><vekVersione>KVT 1.1</vekVersione>"
    "<vekTipoOperazione>UPLO</vekTipoOperazione><vekPazienti><vekPaziente/></vekPazienti>"
    "</vekRichiesta>";

bool vuoto(const std::string& testo) {
    for (const char c : testo) {
        if (static_cast<unsigned char>(c) > 32) {
            return false;
        }
    }
    return true;
}

class PracticeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setWindowing(&windows);
        vellodoc::registerServer();
        practice = folder.path() / "studio.sqlite";
    }
    void TearDown() override {
        host.stop();
        setWindowing(nullptr);
    }

    // Points the registry at the practice (and sets the region when given).
    void configura(const std::string& regione = "") {
        std::string body = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano]\r\n\"database\"=\"" +
                           practice.string() + "\"\r\n";
        if (!regione.empty()) {
            body +=
                "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano\\OPZIONI]\r\n"
                "\"regione\"=\"" +
                regione + "\"\r\n";
        }
        registry.write(body);
    }

    // Opens the session and loads the doctor's patients; the first is current.
    int apri(const std::string& medico, const std::string& utente, const std::string& password) {
        host.utente = utente;
        host.password = password;
        EXPECT_TRUE(host.start());
        return host.carica("codice_medico =" + medico + "|tipo_di_convenzione=S", "alfabetico");
    }

    // The record of the current patient, checking that no dataset object is left.
    Cartella record(int modalita) {
        Cartella cartella = creaCartella(upload, modalita, host);
        EXPECT_EQ(vellodoc::counters().liveDatasets, 0);
        return cartella;
    }

    test::RecordingWindowing windows;
    test::TempRegistry registry;
    workstation::ScopedFormats formats{test::formatiItaliani()};
    clock::FixedClock clock{test::oggiDiProva()};
    TempFolder folder;
    std::filesystem::path practice;
    Tvellopat host;
    XmlDocument upload;
};

// Two patients, in alphabetical order Bianchi then Rossi.
constexpr const char* kStudio = R"SQL(
INSERT INTO pazienti (codice, codice_medico, cognome, nome, codice_fiscale, sesso, data_nascita,
  gruppo_sanguigno, rh, codice_asl, via_piazza, numero_civico, mmg_data_scelta, mmg_data_revoca,
  decesso_data_evento, decesso_codice_icd9_cm, decesso_causa, xtac) VALUES
 ('12', 'MMG9', 'Rossi', 'Mario', 'RSSMRA80A01H501U', 'M', '1980-01-01', 'A', '+', '301',
  'Via Roma', '5', '2005-09-01', '2024-12-31', '', '', '', NULL),
 ('7', 'MMG9', 'Bianchi', 'Lara', 'bnclra90d41l219k ', 'F', '1990-04-01', '', '', '',
  'Corso Italia', '1', '', '2024-06-15', '2024-06-10', '428.0', 'Scompenso cardiaco',
  '<variazioni><datatime_acquisizione_cartella>2024-05-01 00:00:00</datatime_acquisizione_cartella></variazioni>'),
 ('99', 'ALTRO', 'Verdi', 'Gino', 'VRDGPP75C45F205X', 'M', '1975-03-05', '', '', '301',
  '', '', '', '', '', '', '', NULL);

INSERT INTO intolleranza_da_farmaco VALUES
 ('7', 'Acido acetilsalicilico', '2019-04-02', '004763114', '2024-04-01 09:00:00'),
 ('7', 'Penicillina G benzatina e altri antibiotici beta-lattamici', '2024-05-03', '', '2024-05-03 11:00:00');

INSERT INTO problema VALUES
 ('7', '477.0', 'Rinite allergica', 'S', '2015-03-20', 'allergie', '2024-05-02 08:00:00'),
 ('7', '401.9', 'Ipertensione essenziale', 'S', '2018-11-05', 'cardiovascolare', '2018-11-05 10:00:00'),
 ('7', '250.00', 'Diabete mellito tipo 2', 's', '2020-02-29', 'metabolismo', '2020-02-29 10:00:00');

INSERT INTO esenzione VALUES
 ('7', '013', 'Diabete mellito', '12345678', '250', '2020-03-10', '', '2020-03-10 10:00:00');

INSERT INTO prescrizione_accertamento (codice, id_prescrizione_vd, codice_accertamento,
  codice_vd_prescrizione, codice_vd_tipo_prescrizione, data_esecuzione, risultato_valore_breve,
  variato_il) VALUES
 ('7', '501', 'anamnesi_fumo', '2832', '_VD', '2022-01-10', '2', '2022-01-10 10:00:00'),
 ('7', '502', 'anamnesi_fumo', '2832', '_VD', '2021-01-10', 'n', '2021-01-10 10:00:00'),
 ('7', '503', 'attività_fisica', '2835', '_VD', '2023-03-01', 'Leggera', '2023-03-01 10:00:00'),
 ('7', '504', 'attività_fisica', '2835', '_VD', '2023-09-01', '', '2023-09-01 10:00:00'),
 ('12', '601', 'attività_fisica', '2835', '_VD', '2023-09-01', 'pesante', '2023-09-01 10:00:00'),
 ('12', '602', 'attività_fisica', '2835', '_VD', '2024-01-01', 'poca', '2024-01-01 10:00:00');
)SQL";

class StudioTest : public PracticeTest {
  protected:
    void SetUp() override {
        PracticeTest::SetUp();
        vellodoc::Database db = vellodoc::createPractice(practice);
        vellodoc::addUser(db, kUtente, kPassword, kMedico);
        db.exec(kStudio);
        preparaStudio(db);
        db.close();
        configura();
        ASSERT_EQ(apri(kMedico, kUtente, kPassword), 2);
    }
    virtual void preparaStudio(vellodoc::Database&) {}
};

TEST_F(StudioTest, IdentificationAndPersonalDataOfAPatient) {
    ASSERT_TRUE(host.skip());  // Rossi
    const Cartella cartella = record(2);
    EXPECT_EQ(test::compatto(cartella.elemento.selectSingleNode("trxIdentificazione").xml()),
              "<trxIdentificazione><trxCodInterno/>"
              "<trxCodRegioneAssistito>301</trxCodRegioneAssistito>"
              "<trxCodAslAssistito>301</trxCodAslAssistito>"
              "<trxCodFiscaleAssistito>8323195B26C1A58BC9E7D632C110BBCB25B33CD0"
              "</trxCodFiscaleAssistito><trxCodFiscaleMedico/></trxIdentificazione>");
    EXPECT_EQ(test::compatto(cartella.elemento.selectSingleNode("trxAnagrafica").xml()),
              "<trxAnagrafica><trxCognome/><trxNome/><trxSesso>M</trxSesso>"
              "<trxDataNascita>01/01/1980</trxDataNascita><trxCodComuneNascita/>"
              "<trxComuneNascita/><trxCodNazionalita/><trxNazionalita/><trxTipoAssistito/>"
              "<trxCodRegionale/><trxIndirizzoResidenza/><trxCapResidenza/><trxCodResidenza/>"
              "<trxComuneResidenza/><trxFrazioneResidenza/><trxNumeroTelefono/>"
              "<trxCognomeRiferimento/><trxNomeRiferimento/><trxNumeroTelefonoRiferimento/>"
              "<trxSiglaProvinciaResidenza/><trxNumDistretto/><trxDistretto/>"
              "<trxGruppoSang>A</trxGruppoSang><trxFattoreRH>+</trxFattoreRH>"
              "<trxSottoGruppoSang/><trxEmail/><trxCodProfessione/><trxProfessione/>"
              "<trxCodStatoCivile/><trxCodTitoloStudio/><trxStatusAssistito/>"
              "<trxDataSceltaMedico>01/09/2005</trxDataSceltaMedico><trxDataRevocaMedico/>"
              "<trxDataScadAssistenza>31/12/2024</trxDataScadAssistenza><trxCausaRevoca/>"
              "<trxDataDecesso/><trxCodICDDecesso/><trxCodIstologicoNeoplasia/>"
              "<trxCausaDecesso/><trxCognomeMedico/><trxNomeMedico/><trxCodRegionaleMedico/>"
              "<trxCodAslMedico/><trxProvAslMedico/><trxNote/><trxConsensoTD/>"
              "<trxAutorizzaDO/><trxDiniegoAT/></trxAnagrafica>");
    EXPECT_EQ(cartella.testoErrori, "");
    // Names and addresses stay in the host.
    const std::string xml = cartella.elemento.xml();
    for (const char* dato : {"Rossi", "Mario", "Via Roma", "RSSMRA"}) {
        EXPECT_EQ(xml.find(dato), std::string::npos) << dato;
    }
    // The last physical-activity row is not understood: no life style.
    EXPECT_FALSE(cartella.elemento.selectSingleNode("trxStileVita"));
    EXPECT_TRUE(windows.messages.empty());
}

TEST_F(StudioTest, MissingMandatoryDataAndTheRegionFromTheRegistry) {
    const Cartella senzaRegione = record(2);  // Bianchi: no ASL code
    EXPECT_EQ(senzaRegione.testoErrori,
              "ERR_OBL: Campo obbligatorio vuoto: <trxCodRegioneAssistito>\r\n"
              "ERR_OBL: Campo obbligatorio vuoto: <trxCodAslAssistito>\r\n");

    configura("030");
    const Cartella conRegione = record(2);
    EXPECT_EQ(test::compatto(conRegione.elemento.selectSingleNode("trxIdentificazione").xml()),
              "<trxIdentificazione><trxCodInterno/>"
              "<trxCodRegioneAssistito>030</trxCodRegioneAssistito><trxCodAslAssistito/>"
              "<trxCodFiscaleAssistito>33DF12D552869C6124C075D0851A64CE50AC1BB1"
              "</trxCodFiscaleAssistito><trxCodFiscaleMedico/></trxIdentificazione>");
    EXPECT_EQ(conRegione.testoErrori,
              "ERR_OBL: Campo obbligatorio vuoto: <trxCodAslAssistito>\r\n");
    // Revoked today: a revocation; death data are written.
    const XmlNode anagrafica = conRegione.elemento.selectSingleNode("trxAnagrafica");
    EXPECT_EQ(anagrafica.selectSingleNode("trxDataRevocaMedico").text(), "15/06/2024");
    EXPECT_EQ(anagrafica.selectSingleNode("trxDataScadAssistenza").text(), "");
    EXPECT_EQ(anagrafica.selectSingleNode("trxDataDecesso").text(), "10/06/2024");
    EXPECT_EQ(anagrafica.selectSingleNode("trxCodICDDecesso").text(), "428.0");
    EXPECT_EQ(anagrafica.selectSingleNode("trxCausaDecesso").text(), "Scompenso cardiaco");
    EXPECT_EQ(anagrafica.selectSingleNode("trxGruppoSang").xml(), "<trxGruppoSang/>");
}

TEST_F(StudioTest, AllergiesExemptionsLifeStyleAndProblemsOfAPatient) {
    const Cartella cartella = record(2);  // Bianchi
    EXPECT_EQ(test::compatto(cartella.elemento.selectSingleNode("trxAllergie").xml()),
              "<trxAllergie>"
              "<trxAllergia><trxCodATC/><trxMolecola/><trxCodAIC>004763114</trxCodAIC>"
              "<trxFarmaco>Acido acetilsalicilico</trxFarmaco><trxTipoAI>I</trxTipoAI>"
              "<trxDataIns/><trxDataRilievo>02/04/2019</trxDataRilievo><trxNote/></trxAllergia>"
              "<trxAllergia><trxCodATC/><trxMolecola/><trxCodAIC/>"
              "<trxFarmaco>Penicillina G benzatina e altri antibiotici beta-l</trxFarmaco>"
              "<trxTipoAI>I</trxTipoAI><trxDataIns/><trxDataRilievo>03/05/2024</trxDataRilievo>"
              "<trxNote/></trxAllergia>"
              "<trxAllergia><trxCodATC/><trxMolecola/><trxCodAIC/><trxFarmaco/>"
              "<trxTipoAI>A</trxTipoAI><trxDataIns/><trxDataRilievo>20/03/2015</trxDataRilievo>"
              "<trxNote/></trxAllergia>"
              "</trxAllergie>");
    EXPECT_EQ(test::compatto(cartella.elemento.selectSingleNode("trxEsenzioni").xml()),
              "<trxEsenzioni><trxEsenzione><trxCodEsenzione>013</trxCodEsenzione>"
              "<trxDescrizioneEsenzione>Diabete mellito</trxDescrizioneEsenzione>"
              "<trxCodRegionaleEsenzione>12345678</trxCodRegionaleEsenzione>"
              "<trxCodICD>250</trxCodICD><trxDataInizioEsenzione>10/03/2020"
              "</trxDataInizioEsenzione><trxDataScadEsenzione/><trxNote/></trxEsenzione>"
              "</trxEsenzioni>");
    // Rows in date order: smoking "n" (2021) then "2" (2022); the activity row
    // without a result is not asked for.
    EXPECT_EQ(test::compatto(cartella.elemento.selectSingleNode("trxStileVita").xml()),
              "<trxStileVita><trxAttivitaFisica>2</trxAttivitaFisica>"
              "<trxStatoFumatore>3</trxStatoFumatore><trxQuantitaFumo>2</trxQuantitaFumo>"
              "</trxStileVita>");
    const std::string vuoti =
        "<trxSintomi/><trxObiettivo/><trxOrientDiagnosi/><trxDataDiagnosiCerta/>";
    const std::string coda =
        "<trxDataChiusura/><trxSoluzioneProblema/><trxNote/></trxProblemaClinico>";
    EXPECT_EQ(
        test::compatto(cartella.elemento.selectSingleNode("trxProblemiClinici").xml()),
        "<trxProblemiClinici>"
        "<trxProblemaClinico><trxCodICDSospetto>477.0</trxCodICDSospetto>"
        "<trxProblemaSospetto>Rinite allergica</trxProblemaSospetto><trxDataInizio/>"
        "<trxDataApertura>20/03/2015</trxDataApertura>" +
            vuoti + "<trxCodICDFinale/><trxCodIstologicoNeoplasia/><trxProblemaFinale/>" + coda +
            "<trxProblemaClinico><trxCodICDSospetto>401.9</trxCodICDSospetto>"
            "<trxProblemaSospetto>Ipertensione essenziale</trxProblemaSospetto><trxDataInizio/>"
            "<trxDataApertura>05/11/2018</trxDataApertura>" +
            vuoti + "<trxCodICDFinale/><trxCodIstologicoNeoplasia/><trxProblemaFinale/>" + coda +
            "<trxProblemaClinico><trxCodICDSospetto/><trxProblemaSospetto/><trxDataInizio/>"
            "<trxDataApertura>29/02/2020</trxDataApertura>" +
            vuoti +
            "<trxCodICDFinale>250.00</trxCodICDFinale><trxCodIstologicoNeoplasia/>"
            "<trxProblemaFinale>Diabete mellito tipo 2</trxProblemaFinale>" +
            coda + "</trxProblemiClinici>");
}

TEST_F(StudioTest, ChangesOnlyRecordReadsTheWindowFromTheChangeDocument) {
    const Cartella cartella = record(1);  // Bianchi, changes since 2024-05-01
    EXPECT_EQ(cartella.testoErrori, "");
    EXPECT_FALSE(cartella.elemento.selectSingleNode("trxIdentificazione"));
    EXPECT_FALSE(cartella.elemento.selectSingleNode("trxAnagrafica"));
    EXPECT_FALSE(cartella.elemento.selectSingleNode("trxEsenzioni"));
    EXPECT_FALSE(cartella.elemento.selectSingleNode("trxProblemiClinici"));
    // Only the intolerance and the allergy problem changed after the window opened.
    const XmlNode allergie = cartella.elemento.selectSingleNode("trxAllergie");
    ASSERT_TRUE(allergie);
    EXPECT_EQ(allergie.selectSingleNode("trxAllergia[1]/trxDataRilievo").text(), "03/05/2024");
    EXPECT_EQ(allergie.selectSingleNode("trxAllergia[2]/trxTipoAI").text(), "A");
    EXPECT_FALSE(allergie.selectSingleNode("trxAllergia[3]"));
    // Life style takes every row, as in a full record.
    EXPECT_EQ(cartella.elemento.selectSingleNode("trxStileVita/trxStatoFumatore").text(), "3");
}

class StudioConGuastoTest : public StudioTest {
  protected:
    void preparaStudio(vellodoc::Database& db) override {
        vellodoc::addFault(db, {"call_method_pipe", "esenzione.rowcount", "", "2 ", false, 1});
    }
};

TEST_F(StudioConGuastoTest, ARowCountWithATrailingBlankEndsTheRecord) {
    EXPECT_THROW(creaCartella(upload, 2, host), ConversionError);
    EXPECT_EQ(vellodoc::counters().liveDatasets, 0);
    // The next patient is built as usual: nothing of the failed record stays.
    ASSERT_TRUE(host.skip());
    EXPECT_EQ(record(2).testoErrori, "");
}

class GeneratedPracticeTest : public PracticeTest {
  protected:
    void SetUp() override {
        PracticeTest::SetUp();
        vellodoc::GeneratorOptions options;
        options.patients = 300;
        options.years = 3;
        options.seed = 20240615;
        vellodoc::generatePractice(options, practice);
        configura();
        medico = options.doctorCode;
        pazienti = apri(options.doctorCode, options.user, options.password);
    }

    // The record of the current patient in the upload file's envelope, which
    // must be valid against the upload file's document type.
    Cartella inBusta(int modalita, int paziente) {
        XmlDocument busta;
        EXPECT_TRUE(busta.loadXML(kBusta));
        Cartella cartella = creaCartella(busta, modalita, host);
        EXPECT_EQ(vellodoc::counters().liveDatasets, 0);
        busta.selectSingleNode("//vekPaziente").appendChild(cartella.elemento);
        EXPECT_EQ(erroriDtd(busta), "") << paziente << " modalita " << modalita;
        return cartella;
    }

    std::string medico;
    int pazienti = 0;
};

TEST_F(GeneratedPracticeTest, EveryPatientHasItsPseudonymAndErrorsOnlyForMissingData) {
    ASSERT_GT(pazienti, 100);
    int completi = 0;
    int incompleti = 0;
    for (int i = 0; i < pazienti; ++i) {
        const std::string codiceFiscale = host.leggi_attributo("codice_fiscale");
        const bool obbligatori =
            !vuoto(host.leggi_attributo("asl_di_assistenza\\asl\\codice_asl")) &&
            !vuoto(host.leggi_attributo("sesso")) && !vuoto(host.leggi_attributo("data_nascita"));
        const Cartella cartella = inBusta(2, i);
        const XmlNode pseudonimo =
            cartella.elemento.selectSingleNode("trxIdentificazione/trxCodFiscaleAssistito");
        ASSERT_TRUE(pseudonimo) << i;
        EXPECT_EQ(pseudonimo.text().size(), 40u);
        EXPECT_EQ(pseudonimo.text(), sha1Atteso(codiceFiscale)) << i;
        EXPECT_EQ(cartella.testoErrori.empty(), obbligatori) << i << ": " << cartella.testoErrori;
        EXPECT_EQ(cartella.testoErrori.empty(), !isErrore(cartella.testoErrori));
        EXPECT_TRUE(cartella.elemento.selectSingleNode("trxAnagrafica/*[48]"));
        (obbligatori ? completi : incompleti) += 1;
        if (i + 1 < pazienti) {
            ASSERT_TRUE(host.skip());
        }
    }
    // The generated practice has both kinds of patients.
    EXPECT_GT(completi, 0);
    EXPECT_GT(incompleti, 0);
    EXPECT_TRUE(windows.messages.empty()) << windows.messages.front();
}

TEST_F(GeneratedPracticeTest, SelectedPatientsGiveTheSameFullRecordAndAChangesRecord) {
    // Modes 0 and 1 select the patient, which makes it the host's whole
    // selection: each patient is reached again from a fresh patient list.
    for (int i = 0; i < pazienti; i += 17) {
        ASSERT_EQ(host.carica("codice_medico =" + medico + "|tipo_di_convenzione=S", "alfabetico"),
                  pazienti);
        for (int k = 0; k < i; ++k) {
            ASSERT_TRUE(host.skip());
        }
        const Cartella completo = inBusta(2, i);
        const Cartella selezionato = inBusta(0, i);
        // Mode 0 differs only by the "dbID" of examinations still without result.
        const std::regex dbId(" dbID=\"[0-9A-F]+\"");
        EXPECT_EQ(completo.elemento.xml().find("dbID"), std::string::npos) << i;
        EXPECT_EQ(std::regex_replace(selezionato.elemento.xml(), dbId, ""), completo.elemento.xml())
            << i;
        EXPECT_EQ(selezionato.testoErrori, completo.testoErrori) << i;
        const Cartella variazioni = inBusta(1, i);
        EXPECT_FALSE(variazioni.elemento.selectSingleNode("trxIdentificazione"));
        EXPECT_FALSE(variazioni.elemento.selectSingleNode("trxAnagrafica"));
    }
    EXPECT_TRUE(windows.messages.empty()) << windows.messages.front();
}

}  // namespace
}  // namespace kvt
