// The record assembly, the list pattern, the change window and the sections
// of identification, personal data, allergies, exemptions, life style and
// clinical problems, on an in-memory host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/errors.h"
#include "record/record_fixture.h"
#include "record/tld_crea_nodo.h"

namespace kvt {
namespace {

using test::FakeHost;
using test::Riga;
using Texts = std::vector<std::string>;

constexpr const char* kPseudonimoRossi = "8323195B26C1A58BC9E7D632C110BBCB25B33CD0";
constexpr const char* kPseudonimoVuoto = "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709";

constexpr const char* kVariazione =
    "<?xml version=\"1.0\"?><variazioni><testata>"
    "<datatime_acquisizione_cartella>2024-05-01 10:00:00</datatime_acquisizione_cartella>"
    "</testata></variazioni>";

// The names of the element's children, in order.
Texts figli(const XmlNode& elemento) {
    Texts nomi;
    for (int i = 1;; ++i) {
        const XmlNode figlio = elemento.selectSingleNode("*[" + std::to_string(i) + "]");
        if (!figlio) {
            return nomi;
        }
        const std::string xml = figlio.xml();
        nomi.push_back(xml.substr(1, xml.find_first_of(" />") - 1));
    }
}

std::string sezione(const XmlNode& cartella, const std::string& nome) {
    const XmlNode nodo = cartella.selectSingleNode(nome);
    return nodo ? test::compatto(nodo.xml()) : std::string();
}

class RecordTest : public test::FakeHostTest {
  protected:
    void SetUp() override {
        FakeHostTest::SetUp();
        fake->attributi = {
            {"id_paziente_vd", "12"},
            {"codice_fiscale", "RSSMRA80A01H501U"},
            {"asl_di_assistenza\\asl\\codice_asl", "301"},
            {"sesso", "M"},
            {"data_nascita", "1980-01-01"},
        };
    }

    Cartella crea(int modalita) { return creaCartella(upload, modalita, host); }

    XmlDocument upload;
};

// --- creation and assembly ---------------------------------------------------

TEST_F(RecordTest, CreationCodesThePatientAndSelectsItExceptInMode2) {
    {
        TldCreaNodo builder(2, host);
        EXPECT_EQ(builder.codicePaziente, "3132");
        EXPECT_EQ(builder.filtroPaziente(true), "codice=3132");
        EXPECT_TRUE(fake->selezioni.empty());
        EXPECT_TRUE(builder.testoErrori.empty());
        EXPECT_TRUE(builder.datatimeVariazione.empty());
    }
    for (const int modalita : {0, 1}) {
        fake->selezioni.clear();
        TldCreaNodo builder(modalita, host);
        EXPECT_EQ(fake->selezioni, Texts{"3132"}) << modalita;
    }
}

TEST_F(RecordTest, PatientWithoutRowsHasOnlyIdentificationAndPersonalData) {
    for (const int modalita : {0, 2}) {
        const Cartella cartella = crea(modalita);
        EXPECT_EQ(figli(cartella.elemento), (Texts{"trxIdentificazione", "trxAnagrafica"}));
        EXPECT_EQ(figli(cartella.elemento.selectSingleNode("trxAnagrafica")).size(), 48u);
        EXPECT_EQ(cartella.testoErrori, "");
        EXPECT_EQ(fake->oggettiVivi(), 0);
    }
    EXPECT_TRUE(windows.messages.empty());
}

TEST_F(RecordTest, IdentificationCarriesThePseudonymAndTheAslCodes) {
    test::TempRegistry registry;
    registry.setRegione("030");
    const Cartella cartella = crea(2);
    EXPECT_EQ(sezione(cartella.elemento, "trxIdentificazione"),
              std::string("<trxIdentificazione><trxCodInterno/>"
                          "<trxCodRegioneAssistito>301</trxCodRegioneAssistito>"
                          "<trxCodAslAssistito>301</trxCodAslAssistito>"
                          "<trxCodFiscaleAssistito>") +
                  kPseudonimoRossi +
                  "</trxCodFiscaleAssistito><trxCodFiscaleMedico/></trxIdentificazione>");
    // The fiscal code itself never enters the record.
    EXPECT_EQ(upload.xml().find("RSSMRA"), std::string::npos);
    EXPECT_EQ(cartella.elemento.xml().find("RSSMRA"), std::string::npos);
}

TEST_F(RecordTest, IdentificationReadsTheAslTwiceAndTheFiscalCodeLast) {
    TldCreaNodo builder(2, host);
    fake->letture.clear();
    builder.carica_trxIdentificazione();
    EXPECT_EQ(fake->letture,
              (Texts{"paziente:asl_di_assistenza\\asl\\codice_asl",
                     "paziente:asl_di_assistenza\\asl\\codice_asl", "paziente:codice_fiscale"}));
}

TEST_F(RecordTest, WithoutAslTheRegionComesFromTheRegistry) {
    fake->attributi.erase("asl_di_assistenza\\asl\\codice_asl");
    registry.setRegione("030");
    const Cartella cartella = crea(2);
    EXPECT_EQ(
        cartella.elemento.selectSingleNode("trxIdentificazione/trxCodRegioneAssistito").text(),
        "030");
    EXPECT_EQ(cartella.elemento.selectSingleNode("trxIdentificazione/trxCodAslAssistito").xml(),
              "<trxCodAslAssistito/>");
    EXPECT_EQ(cartella.testoErrori, "ERR_OBL: Campo obbligatorio vuoto: <trxCodAslAssistito>\r\n");
}

TEST_F(RecordTest, MandatoryFieldLinesComeInTheOrderOfTheRecord) {
    fake->attributi = {{"id_paziente_vd", "12"}};
    const Cartella cartella = crea(2);
    EXPECT_EQ(cartella.testoErrori,
              "ERR_OBL: Campo obbligatorio vuoto: <trxCodRegioneAssistito>\r\n"
              "ERR_OBL: Campo obbligatorio vuoto: <trxCodAslAssistito>\r\n"
              "ERR_OBL: Campo obbligatorio vuoto: <trxSesso>\r\n"
              "ERR_OBL: Campo obbligatorio vuoto: <trxDataNascita>\r\n");
    EXPECT_TRUE(isErrore(cartella.testoErrori));
    // An empty fiscal code still has a pseudonym; the sections stay complete.
    EXPECT_EQ(
        cartella.elemento.selectSingleNode("trxIdentificazione/trxCodFiscaleAssistito").text(),
        kPseudonimoVuoto);
    EXPECT_EQ(figli(cartella.elemento.selectSingleNode("trxAnagrafica")).size(), 48u);
    EXPECT_EQ(figli(cartella.elemento.selectSingleNode("trxIdentificazione")).size(), 5u);
}

TEST_F(RecordTest, PseudonymIsTakenOverTheWindows1252BytesWhenTheCodeHasThem) {
    TldCreaNodo builder(2, host);
    fake->attributi["codice_fiscale"] =
        "\xC3\x80"
        "BC";  // "ÀBC"
    EXPECT_EQ(builder.carica_trxIdentificazione().selectSingleNode("trxCodFiscaleAssistito").text(),
              "73EDA281038C2B3C230008537DC8730817F19D62");
    fake->attributi["codice_fiscale"] = "\xC4\x80";  // U+0100, not in Windows-1252
    EXPECT_EQ(builder.carica_trxIdentificazione().selectSingleNode("trxCodFiscaleAssistito").text(),
              "B4E3EA36E04EDE658C463571F2DF3A2040BDA668");
    fake->attributi["codice_fiscale"] = " rssmra80a01h501u\t";
    EXPECT_EQ(builder.carica_trxIdentificazione().selectSingleNode("trxCodFiscaleAssistito").text(),
              kPseudonimoRossi);
}

TEST_F(RecordTest, ARevocationStillToComeIsTheEndOfAssistance) {
    const auto anagrafica = [&](const std::string& revoca) {
        fake->attributi["mmg_data_revoca"] = revoca;
        TldCreaNodo builder(2, host);
        const XmlNode sezione = builder.carica_trxAnagrafica();
        return std::pair{sezione.selectSingleNode("trxDataRevocaMedico").text(),
                         sezione.selectSingleNode("trxDataScadAssistenza").text()};
    };
    using Coppia = std::pair<std::string, std::string>;
    EXPECT_EQ(anagrafica("2024-06-16"), (Coppia{"", "16/06/2024"}));
    EXPECT_EQ(anagrafica("2024-06-15"), (Coppia{"15/06/2024", ""}));
    EXPECT_EQ(anagrafica("2024-06-14"), (Coppia{"14/06/2024", ""}));
    EXPECT_EQ(anagrafica("2024-13-40"), (Coppia{"40/13/2024", ""}));
    EXPECT_EQ(anagrafica(""), (Coppia{"", ""}));
}

TEST_F(RecordTest, PersonalDataKeepsLongAnfValuesAndCutsAnTexts) {
    fake->attributi["attributi_paziente\\rh"] = "POS";
    fake->attributi["decesso\\causa"] = std::string(120, 'c');
    fake->attributi["sesso"] = "";
    TldCreaNodo builder(2, host);
    const XmlNode sezione = builder.carica_trxAnagrafica();
    EXPECT_EQ(sezione.selectSingleNode("trxFattoreRH").text(), "POS");
    EXPECT_EQ(sezione.selectSingleNode("trxCausaDecesso").text(), std::string(100, 'c'));
    EXPECT_EQ(sezione.selectSingleNode("trxSesso").xml(), "<trxSesso/>");
    EXPECT_EQ(builder.testoErrori, "ERR_OBL: Campo obbligatorio vuoto: <trxSesso>\r\n");
}

// --- changes-only records ----------------------------------------------------

class VariazioniTest : public RecordTest {
  protected:
    void SetUp() override {
        RecordTest::SetUp();
        fake->attributi["large_string:vd-xtac"] = kVariazione;
        fake->datasets["intolleranza_da_farmaco"].righe = {
            {{"nome_intolleranza", "Penicillina"}, {"data_registrazione", "2024-05-02"}}};
        fake->datasets["problema"].righe = {
            {{"nome_problema", "Allergia al polline"}, {"classe_patologia", "allergie"}},
            {{"nome_problema", "Ipertensione"}, {"codice_icd9_cm", "401"}}};
        fake->datasets["esenzione"].righe = {{{"codice_nazionale_esenzione", "031"}}};
        // A life-style row as the host files it: not an examination, not a measurement.
        fake->datasets["prescrizione_accertamento"].righe = {
            {{"codice_vd_prescrizione", "2832"},
             {"codice_vd_tipo_prescrizione", "_VD"},
             {"codice_accertamento", "anamnesi_fumo"},
             {"risultato_valore_breve", "S"}}};
    }
};

TEST_F(VariazioniTest, ChangesOnlyRecordLeavesOutTheFullRecordSections) {
    const Cartella cartella = crea(1);
    EXPECT_EQ(figli(cartella.elemento), (Texts{"trxAllergie", "trxStileVita"}));
    EXPECT_EQ(cartella.elemento.xml().substr(0, 23), "<trxCartellaVariazioni>");
    EXPECT_EQ(cartella.testoErrori, "");
    EXPECT_EQ(fake->oggettiVivi(), 0);
    // Only the patient code and the change document are read of the patient.
    const Texts letturePaziente = [&] {
        Texts l;
        for (const std::string& lettura : fake->letture) {
            if (lettura.starts_with("paziente:")) {
                l.push_back(lettura);
            }
        }
        return l;
    }();
    EXPECT_EQ(letturePaziente, (Texts{"paziente:id_paziente_vd", "paziente:large_string:vd-xtac"}));
}

TEST_F(VariazioniTest, BothAllergyFiltersCarryTheWindowOnceRightAfterThePatient) {
    crea(1);
    EXPECT_EQ(
        fake->filtri,
        (Texts{"intolleranza_da_farmaco: codice=3132|variato_dopo_datatime=2024-05-01 10:00:00",
               "problema: filtro_classe_patologia=allergie|codice=3132|"
               "variato_dopo_datatime=2024-05-01 10:00:00",
               "prescrizione_accertamento: codice=3132|filtro_lista_codici_accertamento_"
               "spaziati=anamnesi_fumo attivit\xC3\xA0_fisica|filtro_solo_con_risultato|"
               "ordinamento=ordine_data",
               // The later sections under the window: examinations, drugs, measurements.
               "prescrizione_accertamento: codice=3132|variato_dopo_datatime=2024-05-01 10:00:00",
               "prescrizione_farmaco: codice=3132|variato_dopo_datatime=2024-05-01 10:00:00",
               "pressione: codice=3132|variato_dopo_datatime=2024-05-01 10:00:00",
               "prescrizione_accertamento: codice=3132|variato_dopo_datatime=2024-05-01 10:00:00|"
               "filtro_lista_codici_accertamento_spaziati=height",
               "prescrizione_accertamento: codice=3132|variato_dopo_datatime=2024-05-01 10:00:00|"
               "filtro_lista_codici_accertamento_spaziati=weight",
               "prescrizione_accertamento: codice=3132|variato_dopo_datatime=2024-05-01 10:00:00|"
               "filtro_lista_codici_accertamento_spaziati=circonferenza_vita"}));
}

TEST_F(VariazioniTest, FullRecordFiltersHaveNoWindow) {
    crea(2);
    ASSERT_GE(fake->filtri.size(), 5u);
    EXPECT_EQ(fake->filtri[0], "intolleranza_da_farmaco: codice=3132");
    EXPECT_EQ(fake->filtri[1], "problema: filtro_classe_patologia=allergie|codice=3132");
    EXPECT_EQ(fake->filtri[2], "esenzione: codice=3132");
    EXPECT_EQ(fake->filtri[3].substr(0, 47), "prescrizione_accertamento: codice=3132|filtro_l");
    EXPECT_EQ(fake->filtri[4], "problema: codice=3132");
}

TEST_F(VariazioniTest, AnUnusableChangeDocumentFailsTheRecordButStillBuildsIt) {
    for (const std::string& xml :
         {std::string("<variazioni><altro>1</altro></variazioni>"),
          std::string("<variazioni><datatime_acquisizione_cartella>empty"
                      "</datatime_acquisizione_cartella></variazioni>"),
          std::string("<variazioni><datatime_acquisizione_cartella/></variazioni>"),
          std::string("<variazioni><non chiuso>"), std::string()}) {
        fake->attributi["large_string:vd-xtac"] = xml;
        fake->filtri.clear();
        const Cartella cartella = crea(1);
        EXPECT_TRUE(
            cartella.testoErrori.starts_with("ERR_CaricaXmlVariazione: errore recupero xml!"))
            << xml << " -> " << cartella.testoErrori;
        EXPECT_TRUE(isErrore(cartella.testoErrori));
        EXPECT_TRUE(cartella.elemento);
        EXPECT_EQ(figli(cartella.elemento), (Texts{"trxAllergie", "trxStileVita"}));
        ASSERT_FALSE(fake->filtri.empty());
        EXPECT_EQ(fake->filtri[0], "intolleranza_da_farmaco: codice=3132|variato_dopo_datatime=");
    }
}

// --- the list pattern --------------------------------------------------------

TEST_F(RecordTest, RowCountDecidesTheItemsAndANonNumberEndsTheRecord) {
    fake->datasets["esenzione"].righe = {{{"codice_nazionale_esenzione", "031"}},
                                         {{"codice_nazionale_esenzione", "048"}},
                                         {{"codice_nazionale_esenzione", "0A02"}}};
    fake->datasets["esenzione"].rowcount = "2";
    EXPECT_EQ(figli(crea(2).elemento.selectSingleNode("trxEsenzioni")),
              (Texts{"trxEsenzione", "trxEsenzione"}));

    for (const char* nulla : {"", "   ", "\t\r\n", "0", "-1"}) {
        fake->datasets["esenzione"].rowcount = nulla;
        EXPECT_FALSE(crea(2).elemento.selectSingleNode("trxEsenzioni")) << nulla;
    }

    for (const char* nonNumero : {"2 ", "due", "2x"}) {
        fake->datasets["esenzione"].rowcount = nonNumero;
        EXPECT_THROW(crea(2), ConversionError) << nonNumero;
        // The dataset object that could not be read is released all the same.
        EXPECT_EQ(fake->oggettiVivi(), 0);
    }
    fake->datasets["esenzione"].rowcount = " 3";
    EXPECT_EQ(figli(crea(2).elemento.selectSingleNode("trxEsenzioni")).size(), 3u);
}

TEST_F(RecordTest, ListPatternWalksEveryRowAndReleasesTheObject) {
    fake->datasets["problema"].righe = {{{"nome_problema", "a"}}, {{"nome_problema", "b"}}};
    TldCreaNodo builder(2, host);
    std::vector<int> righe;
    const int n = builder.scorriDataset(
        "problema", builder.filtroPaziente(false), [&](const std::string& handle, int riga) {
            righe.push_back(riga);
            EXPECT_EQ(builder.leggiAttributoRiga("nome_problema", handle), riga == 1 ? "a" : "b");
            EXPECT_EQ(fake->oggettiVivi(), 1);
        });
    EXPECT_EQ(n, 2);
    EXPECT_EQ(righe, (std::vector<int>{1, 2}));
    EXPECT_EQ(fake->oggettiVivi(), 0);

    // An item builder that fails ends the list, and the object still goes.
    EXPECT_THROW(builder.caricaLista("trxProblemiClinici", "problema", "codice=3132",
                                     [](const std::string&) -> Sezione { throw Error("DOM"); }),
                 Error);
    EXPECT_EQ(fake->oggettiVivi(), 0);

    // Rows whose builder gives nothing add no item but still count as rows.
    XmlNode lista = builder.documento.createElement("trxLista");
    const EsitoLista esito = builder.accodaVoci(
        lista, "problema", "codice=3132", [&](const std::string& handle) -> Sezione {
            if (builder.leggiAttributoRiga("nome_problema", handle) == "a") {
                return Sezione{};
            }
            return builder.documento.createElement("trxVoce");
        });
    EXPECT_EQ(esito.righe, 2);
    EXPECT_EQ(esito.voci, 1);
    EXPECT_EQ(test::compatto(lista.xml()), "<trxLista><trxVoce/></trxLista>");
}

// --- allergies and exemptions ------------------------------------------------

TEST_F(RecordTest, AllergiesListIntolerancesFirstThenAllergyProblems) {
    fake->datasets["intolleranza_da_farmaco"].righe = {{{"nome_intolleranza", "Amoxicillina"},
                                                        {"data_registrazione", "2019-04-02"},
                                                        {"codice_minsan", "012345678"}}};
    fake->datasets["problema"].righe = {
        {{"nome_problema", "Allergia alle graminacee"},
         {"data_inizio", "2015-03-20"},
         {"codice_icd9_cm", "477.0"},
         {"classe_patologia", "allergie"}},
        {{"nome_problema", "Diabete"}, {"classe_patologia", "metabolismo"}}};
    const Cartella cartella = crea(2);
    EXPECT_EQ(sezione(cartella.elemento, "trxAllergie"),
              "<trxAllergie>"
              "<trxAllergia><trxCodATC/><trxMolecola/><trxCodAIC>012345678</trxCodAIC>"
              "<trxFarmaco>Amoxicillina</trxFarmaco><trxTipoAI>I</trxTipoAI><trxDataIns/>"
              "<trxDataRilievo>02/04/2019</trxDataRilievo><trxNote/></trxAllergia>"
              "<trxAllergia><trxCodATC/><trxMolecola/><trxCodAIC/><trxFarmaco/>"
              "<trxTipoAI>A</trxTipoAI><trxDataIns/><trxDataRilievo>20/03/2015</trxDataRilievo>"
              "<trxNote/></trxAllergia>"
              "</trxAllergie>");
    EXPECT_EQ(cartella.testoErrori, "");
}

TEST_F(RecordTest, AllergiesArePresentWhenEitherDatasetHasRows) {
    fake->datasets["problema"].righe = {{{"classe_patologia", "allergie"}}};
    EXPECT_EQ(figli(crea(2).elemento.selectSingleNode("trxAllergie")), Texts{"trxAllergia"});
    fake->datasets["problema"].righe.clear();
    fake->datasets["intolleranza_da_farmaco"].righe = {{{"nome_intolleranza", "x"}}};
    EXPECT_EQ(figli(crea(2).elemento.selectSingleNode("trxAllergie")), Texts{"trxAllergia"});
    fake->datasets["intolleranza_da_farmaco"].righe.clear();
    EXPECT_FALSE(crea(2).elemento.selectSingleNode("trxAllergie"));
}

TEST_F(RecordTest, AllergyItemsReadTheirColumnsInOrderBeforeWriting) {
    fake->datasets["intolleranza_da_farmaco"].righe = {{{"nome_intolleranza", "x"}}};
    fake->datasets["problema"].righe = {{{"classe_patologia", "allergie"}}};
    TldCreaNodo builder(2, host);
    fake->letture.clear();
    builder.carica_trxAllergie();
    EXPECT_EQ(fake->letture,
              (Texts{"intolleranza_da_farmaco:nome_intolleranza",
                     "intolleranza_da_farmaco:data_registrazione",
                     "intolleranza_da_farmaco:codice_minsan", "problema:data_inizio"}));
}

TEST_F(RecordTest, ExemptionsWriteEveryColumnAndCutTheName) {
    fake->datasets["esenzione"].righe = {{{"codice_nazionale_esenzione", "048"},
                                          {"nome_esenzione", std::string(105, 'n')},
                                          {"numero_esenzione", "12345678"},
                                          {"codice_icd9_cm", "250.00"},
                                          {"data_rilascio", "2010-01-15"},
                                          {"data_scadenza", "2030-01-14 00:00:00"}}};
    const Cartella cartella = crea(2);
    EXPECT_EQ(sezione(cartella.elemento, "trxEsenzioni"),
              "<trxEsenzioni><trxEsenzione><trxCodEsenzione>048</trxCodEsenzione>"
              "<trxDescrizioneEsenzione>" +
                  std::string(100, 'n') +
                  "</trxDescrizioneEsenzione>"
                  "<trxCodRegionaleEsenzione>12345678</trxCodRegionaleEsenzione>"
                  "<trxCodICD>250.00</trxCodICD>"
                  "<trxDataInizioEsenzione>15/01/2010</trxDataInizioEsenzione>"
                  "<trxDataScadEsenzione>14/01/2030</trxDataScadEsenzione><trxNote/>"
                  "</trxEsenzione></trxEsenzioni>");
    EXPECT_EQ(cartella.testoErrori, "");
}

// --- life style and clinical problems -----------------------------------------

class StileVitaTest : public RecordTest {
  protected:
    // The trxStileVita of the rows, in the host's order; empty when absent.
    std::string stileVita(std::vector<std::pair<std::string, std::string>> righe) {
        fake->datasets["prescrizione_accertamento"].righe.clear();
        for (auto& [codice, risultato] : righe) {
            fake->datasets["prescrizione_accertamento"].righe.push_back(
                {{"codice_vd_prescrizione", codice}, {"risultato_valore_breve", risultato}});
        }
        return sezione(crea(2).elemento, "trxStileVita");
    }
};

TEST_F(StileVitaTest, TheLastRowOfEachCodeDecides) {
    EXPECT_EQ(stileVita({{"2832", "n"}, {"2832", "2"}}),
              "<trxStileVita><trxAttivitaFisica/><trxStatoFumatore>3</trxStatoFumatore>"
              "<trxQuantitaFumo>2</trxQuantitaFumo></trxStileVita>");
    EXPECT_EQ(stileVita({{"2835", "Media"}}),
              "<trxStileVita><trxAttivitaFisica>3</trxAttivitaFisica><trxStatoFumatore/>"
              "<trxQuantitaFumo/></trxStileVita>");
    EXPECT_EQ(stileVita({{"2835", "MEDIA "}}), "");
    EXPECT_EQ(stileVita({{"2835", "PESANTE"}, {"2835", "boh"}}), "");
    EXPECT_EQ(stileVita({{"2835", "PESANTE"}, {"2832", "3"}, {"2832", "x"}}),
              "<trxStileVita><trxAttivitaFisica>4</trxAttivitaFisica>"
              "<trxStatoFumatore>1</trxStatoFumatore><trxQuantitaFumo/></trxStileVita>");
    EXPECT_EQ(stileVita({{"2832", "2"}, {"2832", ""}, {"2835", "leggera"}}),
              "<trxStileVita><trxAttivitaFisica>2</trxAttivitaFisica><trxStatoFumatore/>"
              "<trxQuantitaFumo/></trxStileVita>");
    EXPECT_EQ(stileVita({{"9999", "S"}, {"", "1"}}), "");
    EXPECT_EQ(stileVita({}), "");
}

TEST_F(StileVitaTest, EverySmokingAndActivityResultHasItsCode) {
    const std::vector<std::tuple<std::string, std::string, std::string>> fumo = {
        {"X", "1", ""}, {"n", "1", ""}, {"E", "2", ""},  {"m", "2", ""},  {"F", "2", ""},
        {"z", "2", ""}, {"u", "2", ""}, {"1", "3", "1"}, {"2", "3", "2"}, {"3", "3", "3"},
        {"s", "4", ""}, {"5", "5", ""}, {"4", "", ""},   {"SI", "", ""}};
    for (const auto& [risultato, stato, quantita] : fumo) {
        const std::string atteso =
            stato.empty()
                ? ""
                : "<trxStileVita><trxAttivitaFisica/>" + std::string("<trxStatoFumatore>") + stato +
                      "</trxStatoFumatore>" +
                      (quantita.empty() ? "<trxQuantitaFumo/>"
                                        : "<trxQuantitaFumo>" + quantita + "</trxQuantitaFumo>") +
                      "</trxStileVita>";
        EXPECT_EQ(stileVita({{"2832", risultato}}), atteso) << risultato;
    }
    const std::vector<std::pair<std::string, std::string>> attivita = {
        {"assente", "1"}, {"Leggera", "2"}, {"MEDIA", "3"}, {"pesante", "4"}, {"nulla", ""}};
    for (const auto& [risultato, codice] : attivita) {
        const std::string atteso = codice.empty() ? ""
                                                  : "<trxStileVita><trxAttivitaFisica>" + codice +
                                                        "</trxAttivitaFisica><trxStatoFumatore/>"
                                                        "<trxQuantitaFumo/></trxStileVita>";
        EXPECT_EQ(stileVita({{"2835", risultato}}), atteso) << risultato;
    }
}

TEST_F(RecordTest, OnlyCertaintyExactlySMakesASuspectedProblem) {
    const std::string nomeLungo(110, 'p');
    fake->datasets["problema"].righe = {
        {{"codice_icd9_cm", "401.9"},
         {"nome_problema", nomeLungo},
         {"certezza", "S"},
         {"data_inizio", "2020-02-29"}},
        {{"codice_icd9_cm", "250.00"}, {"nome_problema", nomeLungo}, {"certezza", "s"}},
        {{"codice_icd9_cm", "272.4"}, {"nome_problema", "Dislipidemia"}, {"certezza", ""}},
        {{"codice_icd9_cm", "493"}, {"nome_problema", "Asma"}, {"certezza", " S"}}};
    const Cartella cartella = crea(2);
    const std::string vuoti =
        "<trxSintomi/><trxObiettivo/><trxOrientDiagnosi/><trxDataDiagnosiCerta/>";
    const std::string coda =
        "<trxDataChiusura/><trxSoluzioneProblema/><trxNote/></trxProblemaClinico>";
    EXPECT_EQ(sezione(cartella.elemento, "trxProblemiClinici"),
              "<trxProblemiClinici>"
              "<trxProblemaClinico><trxCodICDSospetto>401.9</trxCodICDSospetto>"
              "<trxProblemaSospetto>" +
                  nomeLungo +
                  "</trxProblemaSospetto><trxDataInizio/>"
                  "<trxDataApertura>29/02/2020</trxDataApertura>" +
                  vuoti + "<trxCodICDFinale/><trxCodIstologicoNeoplasia/><trxProblemaFinale/>" +
                  coda +
                  "<trxProblemaClinico><trxCodICDSospetto/><trxProblemaSospetto/><trxDataInizio/>"
                  "<trxDataApertura/>" +
                  vuoti +
                  "<trxCodICDFinale>250.00</trxCodICDFinale><trxCodIstologicoNeoplasia/>"
                  "<trxProblemaFinale>" +
                  std::string(100, 'p') + "</trxProblemaFinale>" + coda +
                  "<trxProblemaClinico><trxCodICDSospetto/><trxProblemaSospetto/><trxDataInizio/>"
                  "<trxDataApertura/>" +
                  vuoti +
                  "<trxCodICDFinale>272.4</trxCodICDFinale><trxCodIstologicoNeoplasia/>"
                  "<trxProblemaFinale>Dislipidemia</trxProblemaFinale>" +
                  coda +
                  "<trxProblemaClinico><trxCodICDSospetto/><trxProblemaSospetto/><trxDataInizio/>"
                  "<trxDataApertura/>" +
                  vuoti +
                  "<trxCodICDFinale>493</trxCodICDFinale><trxCodIstologicoNeoplasia/>"
                  "<trxProblemaFinale>Asma</trxProblemaFinale>" +
                  coda + "</trxProblemiClinici>");
}

TEST_F(RecordTest, ProblemColumnsAreReadBeforeTheStartDate) {
    fake->datasets["problema"].righe = {{{"nome_problema", "x"}}};
    TldCreaNodo builder(2, host);
    fake->letture.clear();
    builder.carica_trxProblemiClinici();
    EXPECT_EQ(fake->letture, (Texts{"problema:codice_icd9_cm", "problema:nome_problema",
                                    "problema:certezza", "problema:data_inizio"}));
}

}  // namespace
}  // namespace kvt
