// Every record of a generated practice, wrapped in the upload file's
// envelope, is valid against RichiestaCaricamento.dtd in every mode, and
// leaves no host dataset object behind.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/valid.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/radix.h"
#include "common/xml_document.h"
#include "host/tvellopat.h"
#include "peers/vellodoc/generator.h"
#include "peers/vellodoc/vellodoc_server.h"
#include "record/record_fixture.h"
#include "record/tld_crea_nodo.h"

namespace kvt {
namespace {

namespace fs = std::filesystem;

// The upload file's document type, checked by libxml2.
class Validatore {
  public:
    Validatore() { dtd_ = xmlParseDTD(nullptr, reinterpret_cast<const xmlChar*>(KVT_UPLOAD_DTD)); }
    ~Validatore() {
        if (dtd_ != nullptr) {
            xmlFreeDtd(dtd_);
        }
    }
    Validatore(const Validatore&) = delete;
    Validatore& operator=(const Validatore&) = delete;

    bool caricato() const { return dtd_ != nullptr; }

    // Empty when the text is a well-formed upload file valid against the
    // document type; otherwise what libxml2 found.
    std::string errori(const std::string& xml) const {
        std::string errori;
        xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "tracciato.xml",
                                      nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR);
        if (doc == nullptr) {
            return "non ben formato";
        }
        xmlValidCtxtPtr contesto = xmlNewValidCtxt();
        contesto->userData = &errori;
        contesto->error = &Validatore::raccogli;
        contesto->warning = &Validatore::raccogli;
        const int valido = xmlValidateDtd(contesto, doc, dtd_);
        xmlFreeValidCtxt(contesto);
        xmlFreeDoc(doc);
        if (valido == 1) {
            return {};
        }
        return errori.empty() ? "non valido" : errori;
    }

  private:
    static void raccogli(void* destinazione, const char* formato, ...) {
        char riga[1024];
        va_list argomenti;
        va_start(argomenti, formato);
        std::vsnprintf(riga, sizeof riga, formato, argomenti);
        va_end(argomenti);
        *static_cast<std::string*>(destinazione) += riga;
    }

    xmlDtdPtr dtd_ = nullptr;
};

// The upload file of one record, made as the upload run makes it.
std::string tracciato(int modalita, Tvellopat& host, std::string& testoErrori) {
    XmlDocument documento;
    documento.setAsync(false);
    documento.setValidateOnParse(false);
    documento.setResolveExternals(false);
    EXPECT_TRUE(documento.loadXML(
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>"
        "<!DOCTYPE vekRichiesta SYSTEM \"RichiestaCaricamento.dtd\"><vekRichiesta />"));
    XmlNode radice = documento.documentElement();
    XmlNode versione = documento.createElement("vekVersione");
    versione.setText("KVT 1.1");
    radice.appendChild(versione);
    XmlNode operazione = documento.createElement("vekTipoOperazione");
    operazione.setText("UPLO");
    radice.appendChild(operazione);
    XmlNode pazienti = documento.createElement("vekPazienti");
    XmlNode paziente = documento.createElement("vekPaziente");
    const Cartella cartella = creaCartella(documento, modalita, host);
    testoErrori = cartella.testoErrori;
    paziente.appendChild(cartella.elemento);
    pazienti.appendChild(paziente);
    radice.appendChild(pazienti);
    return documento.xml();
}

constexpr const char* kSezioniCartella[] = {
    "trxIdentificazione",
    "trxAnagrafica",
    "trxAllergie",
    "trxEsenzioni",
    "trxStileVita",
    "trxProblemiClinici",
    "trxPrescrizioniEsamiLaboratorio",
    "trxPrescrizioniEsamiStrumentali",
    "trxPrescrizioniVisiteSpec",
    "trxPrescrizioniRiabilitazioni",
    "trxPrescrizioniFarmaci",
    "trxPrestazioniExtra",
    "trxMonitoraggi",
};

constexpr int kPazienti = 250;

class RecordValidityTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        xmlInitParser();
        cartella_ =
            fs::temp_directory_path() / ("kvt_record_validity_" + std::to_string(::getpid()));
        fs::create_directories(cartella_);
        vellodoc::GeneratorOptions opzioni;
        opzioni.patients = kPazienti;
        opzioni.years = 4;
        opzioni.seed = 777;
        riepilogo_ = vellodoc::generatePractice(opzioni, cartella_ / "practice.sqlite");
    }
    static void TearDownTestSuite() {
        std::error_code ignorato;
        fs::remove_all(cartella_, ignorato);
    }

    void SetUp() override {
        setWindowing(&windows_);
        registro_.write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano]\r\n\"database\"=\"" +
                        (cartella_ / "practice.sqlite").string() +
                        "\"\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano\\OPZIONI]\r\n"
                        "\"regione\"=\"030\"\r\n");
        vellodoc::registerServer();
        host_.utente = vellodoc::kDefaultUser;
        host_.password = vellodoc::kDefaultPassword;
        ASSERT_TRUE(host_.start());
    }
    void TearDown() override {
        host_.stop();
        setWindowing(nullptr);
    }

    struct Esito {
        int record = 0;
        int conErrori = 0;
        int conErroreRiga = 0;               // records with an examination row that failed
        int conDbId = 0;                     // records with at least one "dbID"
        std::map<std::string, int> sezioni;  // how many records hold each section
        std::set<std::string> invalidi;
    };

    // Builds and checks the record of every patient of the doctor, in the
    // host's order. Mode 2 walks the list as the upload run does; modes 0 and
    // 1 select each patient on its own (the host's "select_single", which the
    // builder repeats), since a selection of one patient ends the list.
    Esito costruisciTutti(int modalita) {
        Esito esito;
        const int n = host_.carica(std::string("codice_medico =") + vellodoc::kDefaultDoctorCode +
                                       "|tipo_di_convenzione=S",
                                   "alfabetico");
        EXPECT_EQ(n, riepilogo_.doctorPatients);
        std::vector<std::string> codici;
        if (modalita != 2) {
            for (int i = 1; i <= n; ++i) {
                codici.push_back(string2hex(host_.leggi_attributo("id_paziente_vd")));
                host_.skip();
            }
        }
        for (int i = 1; i <= n; ++i) {
            if (modalita != 2) {
                EXPECT_TRUE(host_.select_single(codici[static_cast<std::size_t>(i - 1)]));
            }
            std::string testoErrori;
            const std::string xml = tracciato(modalita, host_, testoErrori);
            ++esito.record;
            if (testoErrori.find("ERR_carica_trxPrescrizioniEsami_LAB_STR_SPE riga: ") !=
                std::string::npos) {
                ++esito.conErroreRiga;
            }
            if (isErrore(testoErrori)) {
                ++esito.conErrori;
            }
            if (const std::string errori = validatore_.errori(xml); !errori.empty()) {
                esito.invalidi.insert("paziente " + std::to_string(i) + ": " + errori);
            }
            if (xml.find(" dbID=\"") != std::string::npos) {
                ++esito.conDbId;
            }
            XmlDocument letto;
            EXPECT_TRUE(letto.loadXML(xml));
            const XmlNode cartella =
                letto.selectSingleNode("/vekRichiesta/vekPazienti/vekPaziente/*");
            for (const char* sezione : kSezioniCartella) {
                if (cartella.selectSingleNode(sezione)) {
                    ++esito.sezioni[sezione];
                }
            }
            EXPECT_EQ(vellodoc::counters().liveDatasets, 0) << "paziente " << i;
            if (modalita == 2) {
                host_.skip();
            }
        }
        return esito;
    }

    static inline fs::path cartella_;
    static inline vellodoc::GenerationSummary riepilogo_;

    test::RecordingWindowing windows_;
    test::TempRegistry registro_;
    workstation::ScopedFormats formati_{test::formatiItaliani()};
    Validatore validatore_;
    Tvellopat host_;
};

TEST_F(RecordValidityTest, TheValidatorRefusesWhatTheDocumentTypeForbids) {
    ASSERT_TRUE(validatore_.caricato());
    const std::string busta =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
        "<!DOCTYPE vekRichiesta SYSTEM \"RichiestaCaricamento.dtd\">\n"
        "<vekRichiesta><vekVersione>KVT 1.1</vekVersione><vekTipoOperazione>UPLO"
        "</vekTipoOperazione><vekPazienti><vekPaziente>";
    const std::string fine = "</vekPaziente></vekPazienti></vekRichiesta>\n";
    const std::string misura =
        "<trxMonitoraggio><trxDataRilevazione/><trxPeso/><trxAltezza/><trxCirconfAddome/>"
        "<trxPressSistolica/><trxPressDiastolica/><trxOrtoClino/><trxFreqCardiaca/>"
        "<trxRitmoCardiaco/><trxLatoMisurazione/><trxNote/></trxMonitoraggio>";
    EXPECT_EQ(validatore_.errori(busta + "<trxCartellaVariazioni><trxMonitoraggi>" + misura +
                                 "</trxMonitoraggi></trxCartellaVariazioni>" + fine),
              "");
    // An empty list, a field out of order, an unknown element.
    EXPECT_NE(validatore_.errori(busta +
                                 "<trxCartellaVariazioni><trxMonitoraggi/>"
                                 "</trxCartellaVariazioni>" +
                                 fine),
              "");
    std::string scambiato = misura;
    scambiato.replace(scambiato.find("<trxPeso/><trxAltezza/>"), 23, "<trxAltezza/><trxPeso/>");
    EXPECT_NE(validatore_.errori(busta + "<trxCartellaVariazioni><trxMonitoraggi>" + scambiato +
                                 "</trxMonitoraggi></trxCartellaVariazioni>" + fine),
              "");
    EXPECT_NE(validatore_.errori(busta +
                                 "<trxCartellaVariazioni><trxAltro/>"
                                 "</trxCartellaVariazioni>" +
                                 fine),
              "");
}

TEST_F(RecordValidityTest, FullRecordsOfModeTwoAreValidAndHoldEverySection) {
    Esito esito = costruisciTutti(2);
    EXPECT_GT(esito.record, 100);
    EXPECT_TRUE(esito.invalidi.empty())
        << esito.invalidi.size() << " non validi, il primo " << *esito.invalidi.begin();
    for (const char* sezione : kSezioniCartella) {
        EXPECT_GT(esito.sezioni[sezione], 0) << sezione;
    }
    EXPECT_EQ(esito.sezioni["trxIdentificazione"], esito.record);
    EXPECT_EQ(esito.sezioni["trxAnagrafica"], esito.record);
    // Only mode 0 marks examinations without result.
    EXPECT_EQ(esito.conDbId, 0);
    EXPECT_EQ(esito.conErroreRiga, 0);
    // The practice has patients with missing mandatory data, never all of them.
    EXPECT_GT(esito.conErrori, 0);
    EXPECT_LT(esito.conErrori, esito.record);
    EXPECT_TRUE(windows_.messages.empty()) << windows_.messages.front();
}

TEST_F(RecordValidityTest, FullRecordsOfModeZeroAreValidAndMarkExaminationsWithoutResult) {
    Esito esito = costruisciTutti(0);
    EXPECT_TRUE(esito.invalidi.empty())
        << esito.invalidi.size() << " non validi, il primo " << *esito.invalidi.begin();
    for (const char* sezione : kSezioniCartella) {
        EXPECT_GT(esito.sezioni[sezione], 0) << sezione;
    }
    EXPECT_GT(esito.conDbId, 0);
    EXPECT_TRUE(windows_.messages.empty()) << windows_.messages.front();
}

TEST_F(RecordValidityTest, ChangesOnlyRecordsAreValidAndSendKnownResultsAlone) {
    Esito esito = costruisciTutti(1);
    EXPECT_TRUE(esito.invalidi.empty())
        << esito.invalidi.size() << " non validi, il primo " << *esito.invalidi.begin();
    for (const char* sezione :
         {"trxIdentificazione", "trxAnagrafica", "trxEsenzioni", "trxProblemiClinici",
          "trxPrescrizioniRiabilitazioni", "trxPrestazioniExtra"}) {
        EXPECT_EQ(esito.sezioni[sezione], 0) << sezione;
    }
    for (const char* sezione :
         {"trxPrescrizioniEsamiLaboratorio", "trxPrescrizioniFarmaci", "trxMonitoraggi"}) {
        EXPECT_GT(esito.sezioni[sezione], 0) << sezione;
    }
    // Results the service already knows travel alone, under its row id.
    EXPECT_GT(esito.conDbId, 0);
    // The practice holds a change document whose row lacks its external id:
    // that record fails, and is still valid (no list without an item).
    EXPECT_GT(esito.conErroreRiga, 0);
    EXPECT_TRUE(windows_.messages.empty()) << windows_.messages.front();
}

}  // namespace
}  // namespace kvt
