// Extra services and monitoring measurements.
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

// One measurement item with the given texts, empty where not given.
std::string misura(const std::string& data, const std::string& peso, const std::string& altezza,
                   const std::string& vita, const std::string& sistolica,
                   const std::string& diastolica, const std::string& frequenza) {
    const auto campo = [](const std::string& nome, const std::string& valore) {
        return valore.empty() ? "<" + nome + "/>" : "<" + nome + ">" + valore + "</" + nome + ">";
    };
    return "<trxMonitoraggio>" + campo("trxDataRilevazione", data) + campo("trxPeso", peso) +
           campo("trxAltezza", altezza) + campo("trxCirconfAddome", vita) +
           campo("trxPressSistolica", sistolica) + campo("trxPressDiastolica", diastolica) +
           "<trxOrtoClino/>" + campo("trxFreqCardiaca", frequenza) +
           "<trxRitmoCardiaco/><trxLatoMisurazione/><trxNote/></trxMonitoraggio>";
}

class MonitoraggiTest : public test::FakeHostTest {
  protected:
    void SetUp() override {
        FakeHostTest::SetUp();
        fake->attributi["id_paziente_vd"] = "12";
        fake->attributi["large_string:vd-xtac"] =
            "<cartella_variazioni><datatime_acquisizione_cartella>2024-01-01 08:00:00"
            "</datatime_acquisizione_cartella></cartella_variazioni>";
    }
};

TEST_F(MonitoraggiTest, PressuresFirstThenHeightWeightAndWaistEachWithOnlyItsOwnValue) {
    fake->datasets["pressione"].righe = {
        {{"data_esecuzione", "2023-01-05"},
         {"pressione_massima", "130"},
         {"pressione_minima", "85"}},
        {{"data_esecuzione", "2023-02-05"},
         {"pressione_massima", "125,5"},
         {"pressione_minima", "80"},
         {"frequenza_cardiaca", "72"}},
    };
    fake->datasets["prescrizione_accertamento"].righe = {
        // A measurement row reads only its own value, whatever else the row holds.
        {{"codice_accertamento", "weight"},
         {"data_esecuzione", "2023-01-05"},
         {"risultato_valore_breve", "72,6"},
         {"pressione_massima", "999"}},
        {{"codice_accertamento", "height"},
         {"data_esecuzione", "2022-12-01"},
         {"risultato_valore_breve", "1,78"}},
        {{"codice_accertamento", "anamnesi_fumo"},
         {"data_esecuzione", "2023-01-05"},
         {"risultato_valore_breve", "10"}},
        {{"codice_accertamento", "circonferenza_vita"},
         {"data_esecuzione", "2023-01-05"},
         {"risultato_valore_breve", "94,0"}},
        {{"codice_accertamento", "height"},
         {"data_esecuzione", "2023-01-05"},
         {"risultato_valore_breve", "178"}},
    };
    TldCreaNodo builder(2, host);
    EXPECT_EQ(testo(builder.carica_trxMonitoraggi()),
              "<trxMonitoraggi>" + misura("05/01/2023", "", "", "", "130", "85", "") +
                  misura("05/02/2023", "", "", "", "125", "80", "72") +
                  misura("01/12/2022", "", "1", "", "", "", "") +
                  misura("05/01/2023", "", "178", "", "", "", "") +
                  misura("05/01/2023", "72", "", "", "", "", "") +
                  misura("05/01/2023", "", "", "94", "", "", "") + "</trxMonitoraggi>");
    EXPECT_EQ(fake->filtri, (std::vector<std::string>{
                                "pressione: codice=3132",
                                "prescrizione_accertamento: codice=3132|"
                                "filtro_lista_codici_accertamento_spaziati=height",
                                "prescrizione_accertamento: codice=3132|"
                                "filtro_lista_codici_accertamento_spaziati=weight",
                                "prescrizione_accertamento: codice=3132|"
                                "filtro_lista_codici_accertamento_spaziati=circonferenza_vita"}));
    EXPECT_EQ(builder.testoErrori, "");
    EXPECT_EQ(fake->oggettiVivi(), 0);
}

TEST_F(MonitoraggiTest, OneRowInAnyOfTheFourDatasetsIsEnough) {
    TldCreaNodo senzaRighe(2, host);
    EXPECT_FALSE(senzaRighe.carica_trxMonitoraggi());
    EXPECT_EQ(fake->filtri.size(), 4u);
    EXPECT_EQ(fake->oggettiVivi(), 0);

    fake->datasets["prescrizione_accertamento"].righe = {
        {{"codice_accertamento", "circonferenza_vita"}, {"risultato_valore_breve", "abc"}}};
    TldCreaNodo soloVita(2, host);
    EXPECT_EQ(testo(soloVita.carica_trxMonitoraggi()),
              "<trxMonitoraggi>" + misura("", "", "", "", "", "", "") + "</trxMonitoraggi>");
}

TEST_F(MonitoraggiTest, ChangesOnlyRecordHasNoExtraServicesAndMeasurementsInTheWindow) {
    fake->datasets["prestazione_incentivante"].righe = {{{"nome_prestazione", "PRESA IN CARICO"}}};
    fake->datasets["pressione"].righe = {
        {{"data_esecuzione", "2023-11-05"},
         {"pressione_massima", "140"},
         {"variato_il", "2023-11-05 09:00:00"}},
        {{"data_esecuzione", "2024-02-05"},
         {"pressione_massima", "135"},
         {"variato_il", "2024-02-05 09:00:00"}},
    };
    fake->datasets["prescrizione_accertamento"].righe = {
        {{"codice_accertamento", "weight"},
         {"data_esecuzione", "2024-02-05"},
         {"risultato_valore_breve", "80"},
         {"variato_il", "2024-02-05 09:00:00"}},
    };
    TldCreaNodo builder(1, host);
    ASSERT_EQ(builder.testoErrori, "");
    EXPECT_FALSE(builder.carica_trxPrestazioniExtra());
    EXPECT_EQ(testo(builder.carica_trxMonitoraggi()),
              "<trxMonitoraggi>" + misura("05/02/2024", "", "", "", "135", "", "") +
                  misura("05/02/2024", "80", "", "", "", "", "") + "</trxMonitoraggi>");
    const std::string finestra = "codice=3132|variato_dopo_datatime=2024-01-01 08:00:00";
    EXPECT_EQ(fake->filtri,
              (std::vector<std::string>{
                  "pressione: " + finestra,
                  "prescrizione_accertamento: " + finestra +
                      "|filtro_lista_codici_accertamento_spaziati=height",
                  "prescrizione_accertamento: " + finestra +
                      "|filtro_lista_codici_accertamento_spaziati=weight",
                  "prescrizione_accertamento: " + finestra +
                      "|filtro_lista_codici_accertamento_spaziati=circonferenza_vita"}));
    EXPECT_EQ(fake->oggettiVivi(), 0);
}

TEST_F(MonitoraggiTest, ExtraServicesCutTheirTextsAndIgnoreTheWindow) {
    const std::string nota = std::string(100, 'N') + std::string(50, 'X');
    fake->datasets["prestazione_incentivante"].righe = {
        {{"data_esecuzione", "2023-03-10"},
         {"nome_prestazione", "PRESA IN CARICO DEL PAZIENTE CRONICO"},
         {"breve_nota_prestazione", nota}},
        {{"nome_prestazione", "VACCINAZIONE ANTINFLUENZALE"}},
    };
    for (const int modalita : {0, 2}) {
        fake->filtri.clear();
        TldCreaNodo builder(modalita, host);
        EXPECT_EQ(testo(builder.carica_trxPrestazioniExtra()),
                  "<trxPrestazioniExtra><trxPrestazioneExtra>"
                  "<trxDataPrestazione>10/03/2023</trxDataPrestazione><trxTipoErogazione/>"
                  "<trxCodPrestazione/>"
                  "<trxPrestazione>PRESA IN CARICO DEL PAZIENTE CRONICO</trxPrestazione>"
                  "<trxCodICD/><trxDiagnosi>" +
                      std::string(100, 'N') +
                      "</trxDiagnosi><trxValore/><trxNote/></trxPrestazioneExtra>"
                      "<trxPrestazioneExtra><trxDataPrestazione/><trxTipoErogazione/>"
                      "<trxCodPrestazione/>"
                      "<trxPrestazione>VACCINAZIONE ANTINFLUENZALE</trxPrestazione>"
                      "<trxCodICD/><trxDiagnosi/><trxValore/><trxNote/></trxPrestazioneExtra>"
                      "</trxPrestazioniExtra>")
            << "modalita " << modalita;
        EXPECT_EQ(fake->filtri, std::vector<std::string>{"prestazione_incentivante: codice=3132"});
    }
    fake->datasets["prestazione_incentivante"].righe.clear();
    TldCreaNodo vuoto(2, host);
    EXPECT_FALSE(vuoto.carica_trxPrestazioniExtra());
    EXPECT_EQ(fake->oggettiVivi(), 0);
}

}  // namespace
}  // namespace kvt
