// The examination pass: routing by type and tariff, the three item forms of
// every mode, the "dbID" rules, row errors and the three lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "record/record_fixture.h"
#include "record/tld_crea_nodo.h"

namespace kvt {
namespace {

using test::Riga;

// Rows of one patient that touch every rule of the pass, in host order.
Riga emocromo() {  // laboratory with its result
    return {{"id_prescrizione_vd", "501"},
            {"codice_vd_tipo_prescrizione", "L"},
            {"codice_nomenclatore_tariffario", "90.62.2"},
            {"nome_prescrizione", "EMOCROMO"},
            {"data_richiesta", "2023-01-10"},
            {"data_esecuzione", "2023-01-12"},
            {"codice_vd_fuori_norma", "1"},
            {"risultato_valore_breve", "13,5"},
            {"risultato_unita_di_misura", "g/dl"}};
}
Riga glicemiaNonEseguita() {  // laboratory not yet done: no item
    return {{"id_prescrizione_vd", "502"},
            {"codice_vd_tipo_prescrizione", "l"},
            {"codice_nomenclatore_tariffario", "90.27.1"},
            {"nome_prescrizione", "GLICEMIA"},
            {"data_richiesta", "2023-01-10"}};
}
Riga colesteroloSenzaRisultato() {  // type "00" wins over a visit tariff
    return {{"id_prescrizione_vd", "503"},
            {"codice_vd_tipo_prescrizione", "00"},
            {"codice_nomenclatore_tariffario", "89.7"},
            {"nome_prescrizione", "COLESTEROLO HDL"},
            {"data_esecuzione_presunta", "2023-02-01"},
            {"data_esecuzione", "2023-02-03 08:15:00"}};
}
Riga visitaCardiologica() {  // another type with tariff 89.01: specialist visit
    return {{"id_prescrizione_vd", "504"},
            {"codice_vd_tipo_prescrizione", "S"},
            {"codice_nomenclatore_tariffario", "89.01"},
            {"nome_prescrizione", "VISITA CARDIOLOGICA"},
            {"data_richiesta", "2023-03-01"},
            {"data_esecuzione", "2023-03-15"},
            {"codice_vd_fuori_norma", "0"},
            {"risultato_referto", "Nella norma."},
            {"prezzo_unitario_euro", "-12,50"}};
}
Riga tcCranioSenzaReferto() {  // another type with any other tariff: instrumental
    return {{"id_prescrizione_vd", "505"},
            {"codice_vd_tipo_prescrizione", "S"},
            {"codice_nomenclatore_tariffario", "87.03"},
            {"nome_prescrizione", "TC CRANIO"},
            {"data_richiesta", "2023-04-01"},
            {"codice_vd_fuori_norma", "0"},
            {"prezzo_unitario_euro", "95"}};
}
Riga familiare() {  // never exported
    return {{"id_prescrizione_vd", "506"},
            {"codice_vd_tipo_prescrizione", "fam"},
            {"codice_nomenclatore_tariffario", "87.03"},
            {"nome_prescrizione", "ANAMNESI FAMILIARE"},
            {"data_esecuzione", "2023-01-01"}};
}
Riga tariffaEsclusa() {  // an excluded tariff
    return {{"id_prescrizione_vd", "507"},
            {"codice_vd_tipo_prescrizione", "X"},
            {"codice_nomenclatore_tariffario", "VD_1935"},
            {"nome_prescrizione", "CERTIFICATO"},
            {"data_esecuzione", "2023-01-01"}};
}

constexpr const char* kPrescrizioneEmocromo =
    "<trxCodPrestazione>90.62.2</trxCodPrestazione><trxCodRegionalePrestazione/>"
    "<trxCodificaRegionale/><trxPrestazione>EMOCROMO</trxPrestazione>"
    "<trxDataPrescrizione>10/01/2023</trxDataPrescrizione><trxCodICD/>"
    "<trxCodIstologicoNeoplasia/><trxDiagnosi/><trxSuggAltro/><trxUBDP/><trxQuantita/>"
    "<trxNumEsamiRicetta/><trxPatologico>S</trxPatologico><trxSuggerimento/><trxCosto/>"
    "<trxCodEsenzione/><trxCodRegionaleEsenzione/><trxDataFollowUp/><trxNote/>"
    "<trxInviatoCUP/></trxPrescrizione>";
constexpr const char* kPrescrizioneColesterolo =
    "<trxCodPrestazione>89.7</trxCodPrestazione><trxCodRegionalePrestazione/>"
    "<trxCodificaRegionale/><trxPrestazione>COLESTEROLO HDL</trxPrestazione>"
    "<trxDataPrescrizione>01/02/2023</trxDataPrescrizione><trxCodICD/>"
    "<trxCodIstologicoNeoplasia/><trxDiagnosi/><trxSuggAltro/><trxUBDP/><trxQuantita/>"
    "<trxNumEsamiRicetta/><trxPatologico/><trxSuggerimento/><trxCosto/>"
    "<trxCodEsenzione/><trxCodRegionaleEsenzione/><trxDataFollowUp/><trxNote/>"
    "<trxInviatoCUP/></trxPrescrizione>";
constexpr const char* kCorpoVisita =
    "<trxCodPrestazione>89.01</trxCodPrestazione><trxCodRegionalePrestazione/>"
    "<trxCodificaRegionale/><trxPrestazione>VISITA CARDIOLOGICA</trxPrestazione>"
    "<trxDataPrescrizione>01/03/2023</trxDataPrescrizione>"
    "<trxDataEsecuzione>15/03/2023</trxDataEsecuzione><trxCodICD/><trxDiagnosi/>"
    "<trxSuggAltro/><trxUBDP/><trxQuantita/><trxCodICDReferto/><trxCodIstologicoNeoplasia/>"
    "<trxReferto>Nella norma.</trxReferto><trxSuggerimento/><trxCosto>12,5</trxCosto>"
    "<trxCodEsenzione/><trxCodRegionaleEsenzione/><trxDataFollowUp/><trxNote/>"
    "<trxInviatoCUP/></trxPrescrizioneVisitaSpec>";
constexpr const char* kCorpoTcCranio =
    "<trxCodPrestazione>87.03</trxCodPrestazione><trxCodRegionalePrestazione/>"
    "<trxCodificaRegionale/><trxPrestazione>TC CRANIO</trxPrestazione>"
    "<trxDataPrescrizione>01/04/2023</trxDataPrescrizione><trxDataEsecuzione/><trxCodICD/>"
    "<trxCodIstologicoNeoplasia/><trxDiagnosi/><trxSuggAltro/><trxUBDP/><trxQuantita/>"
    "<trxReferto/><trxPatologico>N</trxPatologico><trxSuggerimento/><trxCosto>95</trxCosto>"
    "<trxCodRegionaleEsenzione/><trxDataFollowUp/><trxNote/><trxInviatoCUP/>"
    "</trxPrescrizioneEsameStrumentale>";

std::string testo(const Sezione& sezione) {
    return sezione ? test::compatto(sezione.xml()) : "(nessuna)";
}

class EsamiTest : public test::FakeHostTest {
  protected:
    void SetUp() override {
        FakeHostTest::SetUp();
        fake->attributi["id_paziente_vd"] = "12";
    }
    void righe(std::vector<Riga> righe) {
        fake->datasets["prescrizione_accertamento"].righe = std::move(righe);
    }
    void variazioni(const std::string& righeVariazione) {
        fake->attributi["large_string:vd-xtac"] =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><cartella_variazioni>"
            "<datatime_acquisizione_cartella>2024-01-01 08:00:00"
            "</datatime_acquisizione_cartella><righe>" +
            righeVariazione + "</righe></cartella_variazioni>";
    }
    static std::string riga(const std::string& rowidVellodoc, const std::string& esterno) {
        return "<riga><tabella>prescrizione_accertamento</tabella><rowid_vellodoc>" +
               rowidVellodoc + "</rowid_vellodoc><rowid_esterno>" + esterno +
               "</rowid_esterno></riga>";
    }
    std::vector<Riga> tutteLeRighe() {
        return {emocromo(),           glicemiaNonEseguita(),  colesteroloSenzaRisultato(),
                visitaCardiologica(), tcCranioSenzaReferto(), familiare(),
                tariffaEsclusa()};
    }
};

TEST_F(EsamiTest, FullRecordOfModeZeroRoutesEveryRowAndMarksExaminationsWithoutResult) {
    righe(tutteLeRighe());
    TldCreaNodo builder(0, host);
    EXPECT_TRUE(builder.carica_trxPrescrizioniEsami_LAB_STR_SPE());

    EXPECT_EQ(testo(builder.dammi_trxPrescrizioniEsamiLaboratorio()),
              std::string("<trxPrescrizioniEsamiLaboratorio><trxPrescrizioneEsameLaboratorio>"
                          "<trxPrescrizione><trxCodInterno/>") +
                  kPrescrizioneEmocromo +
                  "<trxRisultati><trxRisultato><trxDataEsecuzione>12/01/2023</trxDataEsecuzione>"
                  "<trxCodInterno/><trxDexRisultato>EMOCROMO</trxDexRisultato>"
                  "<trxEsito>13,5</trxEsito><trxUnitaMisura>g/dl</trxUnitaMisura>"
                  "</trxRisultato></trxRisultati></trxPrescrizioneEsameLaboratorio>"
                  "<trxPrescrizioneEsameLaboratorio><trxPrescrizione><trxCodInterno/>" +
                  kPrescrizioneColesterolo +
                  "<trxRisultati><trxRisultato dbID=\"353033\">"
                  "<trxDataEsecuzione>03/02/2023</trxDataEsecuzione><trxCodInterno/>"
                  "<trxDexRisultato>COLESTEROLO HDL</trxDexRisultato>"
                  "<trxEsito>(mancante)</trxEsito><trxUnitaMisura>(mancante)</trxUnitaMisura>"
                  "</trxRisultato></trxRisultati></trxPrescrizioneEsameLaboratorio>"
                  "</trxPrescrizioniEsamiLaboratorio>");
    EXPECT_EQ(testo(builder.dammi_trxPrescrizioniEsamiStrumentali()),
              std::string("<trxPrescrizioniEsamiStrumentali>"
                          "<trxPrescrizioneEsameStrumentale dbID=\"353035\"><trxCodInterno/>") +
                  kCorpoTcCranio + "</trxPrescrizioniEsamiStrumentali>");
    EXPECT_EQ(testo(builder.dammi_trxPrescrizioniVisiteSpec()),
              std::string("<trxPrescrizioniVisiteSpec><trxPrescrizioneVisitaSpec>"
                          "<trxCodInterno/>") +
                  kCorpoVisita + "</trxPrescrizioniVisiteSpec>");

    EXPECT_EQ(builder.numEsamiLaboratorio, 2);
    EXPECT_EQ(builder.numEsamiStrumentali, 1);
    EXPECT_EQ(builder.numVisiteSpec, 1);
    // Missing results are "(mancante)", not a failed record.
    EXPECT_EQ(builder.testoErrori, "");
    EXPECT_EQ(fake->filtri, std::vector<std::string>{"prescrizione_accertamento: codice=3132"});
    EXPECT_EQ(fake->oggettiVivi(), 0);
}

TEST_F(EsamiTest, ModeTwoCarriesNoRowIdentity) {
    righe(tutteLeRighe());
    TldCreaNodo builder(2, host);
    builder.carica_trxPrescrizioniEsami_LAB_STR_SPE();
    const std::string laboratorio = testo(builder.dammi_trxPrescrizioniEsamiLaboratorio());
    const std::string strumentali = testo(builder.dammi_trxPrescrizioniEsamiStrumentali());
    EXPECT_NE(laboratorio.find("<trxRisultato><trxDataEsecuzione>03/02/2023"), std::string::npos)
        << laboratorio;
    EXPECT_EQ(strumentali, std::string("<trxPrescrizioniEsamiStrumentali>"
                                       "<trxPrescrizioneEsameStrumentale><trxCodInterno/>") +
                               kCorpoTcCranio + "</trxPrescrizioniEsamiStrumentali>");
    EXPECT_EQ(laboratorio.find("dbID"), std::string::npos);
    EXPECT_EQ(testo(builder.dammi_trxPrescrizioniVisiteSpec()).find("dbID"), std::string::npos);
}

TEST_F(EsamiTest, ChangesOnlyRecordSendsKnownResultsAloneAndNewOnesWithoutInternalCodes) {
    // 501 and 505 are known to the service; 504 was refused there ("ERR").
    variazioni(riga("353031", "KVT-501") + riga("353034", "ERR") + riga("353035", "KVT-505"));
    righe(tutteLeRighe());
    TldCreaNodo builder(1, host);
    ASSERT_EQ(builder.testoErrori, "");
    builder.carica_trxPrescrizioniEsami_LAB_STR_SPE();

    EXPECT_EQ(testo(builder.dammi_trxPrescrizioniEsamiLaboratorio()),
              std::string("<trxPrescrizioniEsamiLaboratorio><trxPrescrizioneEsameLaboratorio>"
                          "<trxRisultati><trxRisultato dbID=\"KVT-501\">"
                          "<trxDataEsecuzione>12/01/2023</trxDataEsecuzione>"
                          "<trxEsito>13,5</trxEsito><trxUnitaMisura>g/dl</trxUnitaMisura>"
                          "</trxRisultato></trxRisultati></trxPrescrizioneEsameLaboratorio>"
                          "<trxPrescrizioneEsameLaboratorio><trxPrescrizione>") +
                  kPrescrizioneColesterolo +
                  "<trxRisultati><trxRisultato>"
                  "<trxDataEsecuzione>03/02/2023</trxDataEsecuzione>"
                  "<trxDexRisultato>COLESTEROLO HDL</trxDexRisultato>"
                  "<trxEsito>(mancante)</trxEsito><trxUnitaMisura>(mancante)</trxUnitaMisura>"
                  "</trxRisultato></trxRisultati></trxPrescrizioneEsameLaboratorio>"
                  "</trxPrescrizioniEsamiLaboratorio>");
    EXPECT_EQ(testo(builder.dammi_trxPrescrizioniEsamiStrumentali()),
              "<trxPrescrizioniEsamiStrumentali>"
              "<trxPrescrizioneEsameStrumentale dbID=\"KVT-505\"><trxDataEsecuzione/><trxReferto/>"
              "</trxPrescrizioneEsameStrumentale></trxPrescrizioniEsamiStrumentali>");
    EXPECT_EQ(testo(builder.dammi_trxPrescrizioniVisiteSpec()),
              std::string("<trxPrescrizioniVisiteSpec><trxPrescrizioneVisitaSpec>") + kCorpoVisita +
                  "</trxPrescrizioniVisiteSpec>");
    EXPECT_EQ(builder.testoErrori, "");
    EXPECT_EQ(
        fake->filtri,
        std::vector<std::string>{
            "prescrizione_accertamento: codice=3132|variato_dopo_datatime=2024-01-01 08:00:00"});
}

TEST_F(EsamiTest, CercaRisultatoVariazioneFindsTheServiceRowOfAHostId) {
    variazioni(riga("353031", "KVT-501") + riga("353032", "ERR") + riga("353031", "KVT-SECONDA"));
    TldCreaNodo builder(1, host);
    EXPECT_EQ(builder.cercaRisultatoVariazione("501"), "KVT-501");  // the first match
    EXPECT_EQ(builder.cercaRisultatoVariazione("502"), "");         // "ERR" counts as none
    EXPECT_EQ(builder.cercaRisultatoVariazione("509"), "");
    EXPECT_EQ(builder.cercaRisultatoVariazione("' or '1'='1"), "");
}

TEST_F(EsamiTest, AFailingRowIsReportedByItsPositionAndTheNextRowsAreStillBuilt) {
    // The change row of 503 has no "rowid_esterno": reading it fails.
    variazioni(riga("353031", "KVT-501") + "<riga><rowid_vellodoc>353033</rowid_vellodoc></riga>");
    righe({emocromo(), visitaCardiologica(), colesteroloSenzaRisultato(), tcCranioSenzaReferto()});
    TldCreaNodo builder(1, host);
    builder.carica_trxPrescrizioniEsami_LAB_STR_SPE();

    const std::string prefisso = "ERR_carica_trxPrescrizioniEsami_LAB_STR_SPE riga: 2 - errore:";
    const std::string& errori = builder.testoErrori;
    ASSERT_TRUE(errori.starts_with(prefisso)) << errori;
    EXPECT_TRUE(errori.ends_with("\r\n")) << errori;
    EXPECT_GT(errori.size(), prefisso.size() + 2) << "the error's own message is missing";
    EXPECT_EQ(errori.find("\r\n"), errori.size() - 2) << "one line only";
    EXPECT_TRUE(isErrore(errori));

    // The rows after the failing one are still processed.
    const Sezione strumentali = builder.dammi_trxPrescrizioniEsamiStrumentali();
    ASSERT_TRUE(strumentali);
    EXPECT_EQ(strumentali.selectSingleNode("trxPrescrizioneEsameStrumentale/trxPrestazione").text(),
              "TC CRANIO");
    // The failed row is neither in its list nor counted.
    EXPECT_EQ(builder.numEsamiLaboratorio, 1);
    EXPECT_EQ(builder.dammi_trxPrescrizioniEsamiLaboratorio().xml().find("COLESTEROLO"),
              std::string::npos);
    EXPECT_EQ(fake->oggettiVivi(), 0);
}

TEST_F(EsamiTest, AListWhoseOnlyRowFailedIsNotHandedOut) {
    variazioni("<riga><rowid_vellodoc>353035</rowid_vellodoc></riga>");
    righe({tcCranioSenzaReferto()});
    TldCreaNodo builder(1, host);
    builder.carica_trxPrescrizioniEsami_LAB_STR_SPE();
    EXPECT_TRUE(builder.testoErrori.starts_with(
        "ERR_carica_trxPrescrizioniEsami_LAB_STR_SPE riga: 0 - errore:"));
    EXPECT_EQ(builder.numEsamiStrumentali, 0);
    EXPECT_FALSE(builder.dammi_trxPrescrizioniEsamiStrumentali());
}

TEST_F(EsamiTest, LaboratoryRowsWithoutExecutionDateGiveNoSection) {
    righe({glicemiaNonEseguita(), familiare(), tariffaEsclusa()});
    TldCreaNodo builder(2, host);
    EXPECT_TRUE(builder.carica_trxPrescrizioniEsami_LAB_STR_SPE());
    EXPECT_FALSE(builder.dammi_trxPrescrizioniEsamiLaboratorio());
    EXPECT_FALSE(builder.dammi_trxPrescrizioniEsamiStrumentali());
    EXPECT_FALSE(builder.dammi_trxPrescrizioniVisiteSpec());
    EXPECT_EQ(builder.numEsamiLaboratorio, 0);
    EXPECT_EQ(builder.testoErrori, "");
    EXPECT_EQ(fake->oggettiVivi(), 0);
}

TEST_F(EsamiTest, TheGettersHandOutTheSameListEveryTime) {
    righe({emocromo()});
    TldCreaNodo builder(2, host);
    builder.carica_trxPrescrizioniEsami_LAB_STR_SPE();
    const Sezione prima = builder.dammi_trxPrescrizioniEsamiLaboratorio();
    ASSERT_TRUE(prima);
    EXPECT_EQ(builder.dammi_trxPrescrizioniEsamiLaboratorio(), prima);
}

TEST_F(EsamiTest, ClassificationGoesByTypeBeforeTariff) {
    Riga tipoSg = emocromo();
    tipoSg["codice_vd_tipo_prescrizione"] = "_sg";
    tipoSg["codice_nomenclatore_tariffario"] = "89.01";
    Riga esenteInVisita = visitaCardiologica();
    esenteInVisita["codice_vd_tipo_prescrizione"] = "eo";
    Riga visitaSuTariffaLunga = tcCranioSenzaReferto();
    visitaSuTariffaLunga["codice_nomenclatore_tariffario"] = "89.7A";
    righe({tipoSg, esenteInVisita, visitaSuTariffaLunga});
    TldCreaNodo builder(2, host);
    builder.carica_trxPrescrizioniEsami_LAB_STR_SPE();
    EXPECT_EQ(builder.numEsamiLaboratorio, 1);
    EXPECT_EQ(builder.numEsamiStrumentali, 0);
    EXPECT_EQ(builder.numVisiteSpec, 1);
}

}  // namespace
}  // namespace kvt
