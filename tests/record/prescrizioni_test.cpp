// Rehabilitation and drug prescriptions: the tables, the drug name split and
// the changes-only behaviour.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "record/record_fixture.h"
#include "record/tld_crea_nodo.h"

namespace kvt {
namespace {

using test::Riga;

std::string testo(const Sezione& sezione) {
    return sezione ? test::compatto(sezione.xml()) : "(nessuna)";
}

class PrescrizioniTest : public test::FakeHostTest {
  protected:
    void SetUp() override {
        FakeHostTest::SetUp();
        fake->attributi["id_paziente_vd"] = "12";
        fake->attributi["large_string:vd-xtac"] =
            "<cartella_variazioni><datatime_acquisizione_cartella>2024-01-01 08:00:00"
            "</datatime_acquisizione_cartella></cartella_variazioni>";
    }
    // trxFarmaco and trxConfezione of the one drug row named `nome`.
    std::pair<std::string, std::string> farmacoEConfezione(const std::string& nome) {
        fake->datasets["prescrizione_farmaco"].righe = {{{"nome_prescrizione", nome}}};
        TldCreaNodo builder(2, host);
        const Sezione lista = builder.carica_trxPrescrizioniFarmaci();
        if (!lista) {
            return {"(nessuna)", "(nessuna)"};
        }
        return {lista.selectSingleNode("trxPrescrizioneFarmaco/trxFarmaco").text(),
                lista.selectSingleNode("trxPrescrizioneFarmaco/trxConfezione").text()};
    }
};

TEST_F(PrescrizioniTest, RehabilitationRowsGiveOneItemEach) {
    const std::string nomeLungo(120, 'R');
    fake->datasets["prescrizione_varia"].righe = {
        {{"nome_prescrizione", "CICLO DI FISIOKINESITERAPIA"},
         {"data_prescrizione", "2023-05-02"},
         {"quantita", "10"},
         {"prezzo_unitario_euro", "-12,50"}},
        {{"nome_prescrizione", nomeLungo}, {"quantita", "1,5"}, {"prezzo_unitario_euro", "7"}},
    };
    TldCreaNodo builder(2, host);
    EXPECT_EQ(testo(builder.carica_trxPrescrizioniRiabilitazioni()),
              "<trxPrescrizioniRiabilitazioni><trxPrescrizioneRiabilitazione>"
              "<trxCodPrestazione/><trxCodRegionalePrestazione/><trxCodificaRegionale/>"
              "<trxPrestazione>CICLO DI FISIOKINESITERAPIA</trxPrestazione>"
              "<trxDataPrescrizione>02/05/2023</trxDataPrescrizione><trxDataEsecuzione/>"
              "<trxCodICD/><trxDiagnosi/><trxSuggAltro/><trxUBDP/><trxQuantita>10</trxQuantita>"
              "<trxSuggerimento/><trxCosto>12,5</trxCosto><trxCodEsenzione/>"
              "<trxCodRegionaleEsenzione/><trxNote/><trxInviatoCUP/>"
              "</trxPrescrizioneRiabilitazione><trxPrescrizioneRiabilitazione>"
              "<trxCodPrestazione/><trxCodRegionalePrestazione/><trxCodificaRegionale/>"
              "<trxPrestazione>" +
                  std::string(100, 'R') +
                  "</trxPrestazione><trxDataPrescrizione/><trxDataEsecuzione/>"
                  "<trxCodICD/><trxDiagnosi/><trxSuggAltro/><trxUBDP/><trxQuantita>1</trxQuantita>"
                  "<trxSuggerimento/><trxCosto>7</trxCosto><trxCodEsenzione/>"
                  "<trxCodRegionaleEsenzione/><trxNote/><trxInviatoCUP/>"
                  "</trxPrescrizioneRiabilitazione></trxPrescrizioniRiabilitazioni>");
    EXPECT_EQ(fake->filtri, std::vector<std::string>{"prescrizione_varia: codice=3132"});
    EXPECT_EQ(builder.testoErrori, "");
    EXPECT_EQ(fake->oggettiVivi(), 0);
}

TEST_F(PrescrizioniTest, DrugRowsSplitNameAndPackageAndCutNothing) {
    const std::string posologia(130, 'P');
    fake->datasets["prescrizione_farmaco"].righe = {
        {{"codice_minsan", "012345678"},
         {"nome_prescrizione", "FARMACO A*20 CPR 500 MG"},
         {"data_prescrizione", "2023-06-01"},
         {"quantita", "2"},
         {"farmaco_fascia", "A"},
         {"farmaco_continuativo", "TRUE"},
         {"posologia", "1 CPR AL GIORNO"}},
        {{"codice_minsan", "98765"},
         {"nome_prescrizione", "ACIDO ACETILSALICILICO RETARD* 30 CPR GASTRORESISTENTI"},
         {"data_prescrizione", "2023-06-02"},
         {"quantita", "1,5"},
         {"farmaco_fascia", "C"},
         {"farmaco_continuativo", "0"},
         {"posologia", posologia}},
    };
    TldCreaNodo builder(2, host);
    EXPECT_EQ(testo(builder.carica_trxPrescrizioniFarmaci()),
              "<trxPrescrizioniFarmaci><trxPrescrizioneFarmaco><trxCodAIC>012345678</trxCodAIC>"
              "<trxFarmaco>FARMACO A*</trxFarmaco><trxConfezione>20 CPR 500 MG</trxConfezione>"
              "<trxDataPrescrizione>01/06/2023</trxDataPrescrizione><trxCodICD/>"
              "<trxCodIstologicoNeoplasia/><trxDiagnosi/><trxSuggAltro/><trxUBDP/>"
              "<trxNotaAIFA/><trxQuantita>2</trxQuantita><trxClasse>A</trxClasse>"
              "<trxContinuativo>S</trxContinuativo><trxPosologia>1 CPR AL GIORNO</trxPosologia>"
              "<trxSuggerimento/><trxCosto/><trxCodEsenzione/><trxCodRegionaleEsenzione/>"
              "<trxNote/></trxPrescrizioneFarmaco><trxPrescrizioneFarmaco>"
              "<trxCodAIC>98765</trxCodAIC><trxFarmaco>ACIDO ACETILSALICILICO RETARD*</trxFarmaco>"
              "<trxConfezione>30 CPR GASTRORESISTENTI</trxConfezione>"
              "<trxDataPrescrizione>02/06/2023</trxDataPrescrizione><trxCodICD/>"
              "<trxCodIstologicoNeoplasia/><trxDiagnosi/><trxSuggAltro/><trxUBDP/>"
              "<trxNotaAIFA/><trxQuantita>1</trxQuantita><trxClasse>C</trxClasse>"
              "<trxContinuativo>N</trxContinuativo><trxPosologia>" +
                  posologia +
                  "</trxPosologia><trxSuggerimento/><trxCosto/><trxCodEsenzione/>"
                  "<trxCodRegionaleEsenzione/><trxNote/></trxPrescrizioneFarmaco>"
                  "</trxPrescrizioniFarmaci>");
    EXPECT_EQ(fake->filtri, std::vector<std::string>{"prescrizione_farmaco: codice=3132"});
    EXPECT_EQ(builder.testoErrori, "");
    EXPECT_EQ(fake->oggettiVivi(), 0);
}

TEST_F(PrescrizioniTest, TheDrugTextRunsUpToAndIncludingTheFirstStar) {
    using Coppia = std::pair<std::string, std::string>;
    EXPECT_EQ(farmacoEConfezione("FARMACO A*20 CPR 500 MG"), Coppia("FARMACO A*", "20 CPR 500 MG"));
    EXPECT_EQ(farmacoEConfezione("FARMACO A"), Coppia("", ""));
    EXPECT_EQ(farmacoEConfezione("*20 CPR"), Coppia("*", "20 CPR"));
    EXPECT_EQ(farmacoEConfezione("FARMACO A*"), Coppia("FARMACO A*", ""));
    EXPECT_EQ(farmacoEConfezione("A*B*C"), Coppia("A*", "B*C"));
    EXPECT_EQ(farmacoEConfezione(""), Coppia("", ""));
    // Accented names split at the star too, never inside a character.
    EXPECT_EQ(farmacoEConfezione("CAFFÈ*10 BUSTINE"), Coppia("CAFFÈ*", "10 BUSTINE"));
}

TEST_F(PrescrizioniTest, ContinuativeFlagAndQuantity) {
    const auto valori = [&](const std::string& continuativo, const std::string& quantita) {
        fake->datasets["prescrizione_farmaco"].righe = {
            {{"farmaco_continuativo", continuativo}, {"quantita", quantita}}};
        TldCreaNodo builder(2, host);
        const Sezione lista = builder.carica_trxPrescrizioniFarmaci();
        return lista.selectSingleNode("trxPrescrizioneFarmaco/trxContinuativo").text() + "|" +
               lista.selectSingleNode("trxPrescrizioneFarmaco/trxQuantita").text();
    };
    EXPECT_EQ(valori("TRUE", "2"), "S|2");
    EXPECT_EQ(valori("1", "1,5"), "S|1");
    EXPECT_EQ(valori("FALSE", "1.5"), "N|");  // a point is no decimal separator here
    EXPECT_EQ(valori("0", ""), "N|");
    EXPECT_EQ(valori("", "-3"), "|3");
}

TEST_F(PrescrizioniTest, ChangesOnlyRecordHasNoRehabilitationAndDrugsInTheWindow) {
    fake->datasets["prescrizione_varia"].righe = {{{"nome_prescrizione", "FISIOTERAPIA"}}};
    fake->datasets["prescrizione_farmaco"].righe = {
        {{"nome_prescrizione", "VECCHIO*1 FL"}, {"variato_il", "2023-12-31 23:59:59"}},
        {{"nome_prescrizione", "NUOVO*2 FL"}, {"variato_il", "2024-01-02 10:00:00"}}};
    TldCreaNodo builder(1, host);
    ASSERT_EQ(builder.testoErrori, "");
    EXPECT_FALSE(builder.carica_trxPrescrizioniRiabilitazioni());
    const Sezione farmaci = builder.carica_trxPrescrizioniFarmaci();
    ASSERT_TRUE(farmaci);
    EXPECT_EQ(farmaci.selectSingleNode("trxPrescrizioneFarmaco[1]/trxFarmaco").text(), "NUOVO*");
    EXPECT_TRUE(farmaci.selectSingleNode("trxPrescrizioneFarmaco[2]").isNull());
    // No host call at all for the rehabilitation list.
    EXPECT_EQ(fake->filtri,
              std::vector<std::string>{
                  "prescrizione_farmaco: codice=3132|variato_dopo_datatime=2024-01-01 08:00:00"});
    EXPECT_EQ(fake->oggettiVivi(), 0);
}

TEST_F(PrescrizioniTest, NoRowsNoSections) {
    TldCreaNodo builder(2, host);
    EXPECT_FALSE(builder.carica_trxPrescrizioniRiabilitazioni());
    EXPECT_FALSE(builder.carica_trxPrescrizioniFarmaci());
    EXPECT_EQ(fake->filtri, (std::vector<std::string>{"prescrizione_varia: codice=3132",
                                                      "prescrizione_farmaco: codice=3132"}));
    EXPECT_EQ(fake->oggettiVivi(), 0);
}

}  // namespace
}  // namespace kvt
