// The dry run's report in its two forms: the same rows, every host text shown
// as text, and a CSV a spreadsheet of the workstation splits right.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/rapporto_verifica.h"
#include "common/workstation.h"
#include "common/xml_document.h"

namespace kvt {
namespace {

using ::testing::ElementsAre;

RapportoVerifica rapportoDiProva() {
    RapportoVerifica rapporto;
    rapporto.medico = "M&1";
    rapporto.quando = {2026, 12, 9, 7, 5, 3};
    rapporto.versione = "1.46";

    RigaVerifica inviare;
    inviare.posizione = 1;
    inviare.nome = "<script>alert(1)</script> D'Amico";
    inviare.codiceFiscale = "DMCLSN73C51Z100Z";
    inviare.ultimaVisita = DateTime{2026, 3, 15, 10, 30, 0};
    inviare.esito = EsitoPrevisto::DaInviare;
    inviare.motivo = "mai inviato";
    inviare.dimensione = 2048 + 103;
    inviare.validita = Validita::Valida;

    RigaVerifica mancante;
    mancante.posizione = 2;
    mancante.nome = "=SOMMA(A1) \"Rossi\"; Maria";
    mancante.codiceFiscale = "RSSMRA80A41H501U";
    mancante.ultimoInvio = DateTime{2025, 1, 2, 8, 0, 0};
    mancante.esito = EsitoPrevisto::ErroreCreazione;
    mancante.mancanti = {"trxSesso", "trxDataNascita"};
    mancante.motivo = "dati obbligatori mancanti: sesso (trxSesso)\nseconda riga";

    RigaVerifica inviato;
    inviato.posizione = 3;
    inviato.nome = "Bianchi Ugo";
    inviato.codiceFiscale = "BNCGUO50A01F205X";
    inviato.esito = EsitoPrevisto::GiaInviato;
    inviato.motivo = "non visitato";

    rapporto.righe = {inviare, mancante, inviato};
    rapporto.avvisi.push_back({1, inviare.nome, {"trxNota", "<b>lungo</b>", "AN", 5}});
    return rapporto;
}

std::vector<std::string> celle(const XmlNode& riga) {
    std::vector<std::string> testi;
    for (int i = 1;; ++i) {
        const XmlNode cella =
            riga.selectSingleNode("*[local-name()='td'][" + std::to_string(i) + "]");
        if (!cella) {
            return testi;
        }
        testi.push_back(cella.text());
    }
}

// Splits CSV text the way a spreadsheet does: quoted fields may hold the
// separator, doubled quotes and line breaks.
std::vector<std::vector<std::string>> leggiCsv(const std::string& testo, char separatore) {
    std::vector<std::vector<std::string>> righe(1);
    std::string campo;
    bool virgolette = false;
    for (std::size_t i = 0; i < testo.size(); ++i) {
        const char c = testo[i];
        if (virgolette) {
            if (c == '"' && i + 1 < testo.size() && testo[i + 1] == '"') {
                campo += '"';
                ++i;
            } else if (c == '"') {
                virgolette = false;
            } else {
                campo += c;
            }
        } else if (c == '"') {
            virgolette = true;
        } else if (c == separatore) {
            righe.back().push_back(campo);
            campo.clear();
        } else if (c == '\r' && i + 1 < testo.size() && testo[i + 1] == '\n') {
            righe.back().push_back(campo);
            campo.clear();
            righe.emplace_back();
            ++i;
        } else {
            campo += c;
        }
    }
    righe.pop_back();  // after the last line end
    return righe;
}

TEST(RapportoVerificaTest, BothFormsHoldTheSameRowsWithEveryTextEscaped) {
    const workstation::ScopedFormats formati({",", "dd/MM/yyyy", "HH:mm:ss", ";"});
    const RapportoVerifica rapporto = rapportoDiProva();

    XmlDocument pagina;
    ASSERT_TRUE(pagina.loadXML(rapportoHtml(rapporto))) << pagina.parseError().reason;
    // The host's texts are text: no element of theirs reaches the page.
    EXPECT_FALSE(pagina.selectSingleNode("//*[local-name()='script']"));
    EXPECT_FALSE(pagina.selectSingleNode("//*[local-name()='b' and text()='lungo']"));

    std::vector<std::vector<std::string>> righeHtml;
    for (int i = 1;; ++i) {
        const XmlNode riga = pagina.selectSingleNode(
            "//*[@id='pazienti']/*[local-name()='tbody']/*[local-name()='tr'][" +
            std::to_string(i) + "]");
        if (!riga) {
            break;
        }
        righeHtml.push_back(celle(riga));
    }
    ASSERT_EQ(righeHtml.size(), 3u);
    EXPECT_THAT(righeHtml[0],
                ElementsAre("1", "<script>alert(1)</script> D'Amico", "DMCLSN73C51Z100Z",
                            "15/03/2026 10:30", "mai", "Da inviare", "mai inviato", "2,1", "sì"));
    EXPECT_EQ(righeHtml[1][3], "nessuna");
    EXPECT_EQ(righeHtml[1][4], "02/01/2025 08:00");
    EXPECT_EQ(righeHtml[1][5], "Errore creazione");

    // The predicted counts, in the summary's order and labels.
    std::vector<std::string> previsione;
    for (int i = 1; i <= 5; ++i) {
        const XmlNode riga = pagina.selectSingleNode("//*[@id='previsione']/*[local-name()='tr'][" +
                                                     std::to_string(i) + "]");
        ASSERT_TRUE(riga);
        previsione.push_back(riga.selectSingleNode("*[local-name()='th']").text() + "=" +
                             celle(riga).at(0));
    }
    EXPECT_THAT(previsione, ElementsAre("Inviati=1", "Già inviati=1", "Scartati dal server=0",
                                        "Errore creazione=1", "Errore connessione invio=0"));
    EXPECT_EQ(testoPrevisione(rapporto),
              "Inviati: 1\r\nGià inviati: 1\r\nScartati dal server:0\r\nErrore creazione:1\r\n"
              "Errore connessione invio:0");
    EXPECT_EQ(rapporto.mancantiPer("trxSesso"), 1);
    EXPECT_EQ(rapporto.mancantiPer("trxCodAslAssistito"), 0);

    const std::string csv = rapportoCsv(rapporto, ";", ",");
    ASSERT_EQ(csv.rfind("\xEF\xBB\xBF", 0), 0u);
    const auto righeCsv = leggiCsv(csv.substr(3), ';');
    ASSERT_EQ(righeCsv.size(), 4u);
    EXPECT_EQ(righeCsv[0].front(), "N.");
    // The same cells, but a text that a spreadsheet would run as a formula
    // stays a text.
    std::vector<std::vector<std::string>> attese = righeHtml;
    attese[1][1] = "'" + attese[1][1];
    for (std::size_t i = 0; i < righeHtml.size(); ++i) {
        EXPECT_EQ(righeCsv[i + 1], attese[i]) << "riga " << i + 1;
    }
    EXPECT_NE(csv.find(";\"'=SOMMA(A1) \"\"Rossi\"\"; Maria\";"), std::string::npos);
    // Another workstation's separators.
    const auto virgole = leggiCsv(rapportoCsv(rapporto, ",", ".").substr(3), ',');
    EXPECT_EQ(virgole.at(1).at(7), "2.1");
    EXPECT_EQ(virgole.at(2).at(1), attese[1][1]);
}

TEST(RapportoVerificaTest, ACsvCellIsNeverRunAsAFormulaAndReadsBackWhole) {
    struct Caso {
        std::string testo;
        std::string separatore;
        std::string cella;  // as written in the file
        bool apostrofo;     // the spreadsheet shows it after a "'"
    };
    const Caso casi[] = {
        {"=HYPERLINK(\"x\")", ";", "\"'=HYPERLINK(\"\"x\"\")\"", true},
        {"+1", ";", "'+1", true},
        {"-1", ";", "'-1", true},
        {"@SUM(A1)", ";", "'@SUM(A1)", true},
        {"\t=1+1", ";", "\"'\t=1+1\"", true},
        {"\r=1+1", ";", "\"'\r=1+1\"", true},
        {"-1;2", ";", "\"'-1;2\"", true},
        {"D\"Amico", ";", "\"D\"\"Amico\"", false},
        {"Rossi; Maria", ";", "\"Rossi; Maria\"", false},
        {"Rossi; Maria", ",", "Rossi; Maria", false},
        {"2,1", ",", "\"2,1\"", false},
        {"riga\nriga", ";", "\"riga\nriga\"", false},
        {"a=1", ";", "a=1", false},
        {"", ";", "", false},
    };
    for (const Caso& caso : casi) {
        SCOPED_TRACE(caso.testo);
        const std::string cella = protezione_rapporto::cellaCsv(caso.testo, caso.separatore);
        EXPECT_EQ(cella, caso.cella);
        const auto lette = leggiCsv(cella + "\r\n", caso.separatore[0]);
        ASSERT_EQ(lette.size(), 1u);
        EXPECT_THAT(lette[0], ElementsAre((caso.apostrofo ? "'" : "") + caso.testo));
    }
}

TEST(RapportoVerificaTest, MandatoryElementsCarryTheLabelAnOfficeKnows) {
    EXPECT_EQ(etichettaElemento("trxSesso"), "sesso (trxSesso)");
    EXPECT_EQ(etichettaElemento("trxAltro"), "trxAltro");
}

}  // namespace
}  // namespace kvt
