// The operator commands of the main window on its model: the new sending's
// log rotation and reset, the line test, the options, the hidden single send
// and debug switch.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/comandi.h"
#include "app/frm_main.h"
#include "app_support.h"
#include "connector/connector_texts.h"

namespace kvt {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
namespace fs = std::filesystem;
using test::leggi;
using test::righeLog;

// Writes the file, with the folders it needs.
void scriviFileDiProva(const fs::path& file, const std::string& testo) {
    fs::create_directories(file.parent_path());
    test::scriviFileDiProva(file, testo);
}

class ComandiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        finestra = std::make_unique<TfrmMain>(studio.programma(), &studio.host(), &connettore);
    }

    fs::path fileLog() const { return studio.kvt() / "log.txt"; }
    std::string prefissoXml() const { return studio.xml().string() + "/"; }

    // The log lines without their time stamps.
    std::vector<std::string> messaggiLog() const {
        std::vector<std::string> messaggi;
        for (const std::string& riga : righeLog(fileLog())) {
            messaggi.push_back(riga.substr(0, riga.rfind(" - ")));
        }
        return messaggi;
    }
    int leggiStart() const {
        int n = 0;
        for (const std::string& riga : messaggiLog()) {
            n += riga.rfind("START - Pazienti totali: ", 0) == 0;
        }
        return n;
    }
    std::vector<std::string> righeReset() const {
        std::vector<std::string> trovate;
        for (const std::string& riga : messaggiLog()) {
            if (riga.rfind("---Reset:", 0) == 0) {
                trovate.push_back(riga);
            }
        }
        return trovate;
    }

    test::FinestreDiProva finestre;
    test::ConnettoreDiProva connettore;
    test::Studio studio;
    std::unique_ptr<TfrmMain> finestra;
};

TEST_F(ComandiTest, NuovoInvioRotatesTheLogResetsTheFoldersThenRuns) {
    scriviFileDiProva(studio.kvt() / "log_old.txt", "il log più vecchio\r\n");
    const std::string logPrima = leggi(fileLog());
    // Leftovers of every kind, and what the reset keeps.
    for (const char* file :
         {"A_kvt.xml", "B_kvt.xml", "C_kvt.Xml", "A_kvt.xml.err", "inviati/D_kvt.xml",
          "no_conn/E_kvt.xml", "no_conn/F_kvt.xml", "risposte/A_kvt.xml"}) {
        scriviFileDiProva(studio.xml() / file, "x");
    }
    for (const char* file : {"RichiestaCaricamento.dtd", "nota.txt", "A_kvt.xml.bak",
                             "risposte/RispostaCaricamento.dtd", "inviati/vecchi/G_kvt.xml"}) {
        scriviFileDiProva(studio.xml() / file, "resta");
    }
    fs::create_directories(studio.xml() / "cartella.xml");
    scriviFileDiProva(studio.kvt() / "update_new.ini", "[data_visita]\r\nX=2009-03-15\t10:30\r\n");

    finestra->cmdNuovoInvioClick();

    EXPECT_EQ(leggi(studio.kvt() / "log_old.txt"), logPrima);
    const std::string base = "---Reset: file xml cancellati " + prefissoXml();
    EXPECT_THAT(righeReset(),
                ElementsAre(base + "*.xml:3", base + "*.err:1", base + "inviati/*.xml:1",
                            base + "no_conn/*.xml:2", base + "risposte/*.xml:1"));
    // The reset lines begin the new log; the run follows them.
    const std::vector<std::string> messaggi = messaggiLog();
    ASSERT_GE(messaggi.size(), 7u);
    EXPECT_EQ(messaggi[0], base + "*.xml:3");
    EXPECT_EQ(messaggi[5], "cmdEstraiClick");
    EXPECT_EQ(finestra->ultimoEsito(), EsitoInvio::Completato);
    EXPECT_THAT(test::fileIn(studio.xml(), "_kvt.xml"), IsEmpty());
    for (const char* file : {"RichiestaCaricamento.dtd", "nota.txt", "A_kvt.xml.bak",
                             "risposte/RispostaCaricamento.dtd", "inviati/vecchi/G_kvt.xml"}) {
        EXPECT_TRUE(fs::exists(studio.xml() / file)) << file;
    }
    EXPECT_TRUE(fs::is_directory(studio.xml() / "cartella.xml"));
    EXPECT_THAT(leggi(studio.kvt() / "update_new.ini"), HasSubstr("X=2009-03-15\t10:30"));
}

TEST_F(ComandiTest, NuovoInvioOnEmptyFoldersCountsZero) {
    fs::remove_all(studio.xml());
    finestra->cmdNuovoInvioClick();
    const std::vector<std::string> reset = righeReset();
    ASSERT_EQ(reset.size(), 5u);
    for (const std::string& riga : reset) {
        EXPECT_THAT(riga, ::testing::EndsWith(":0"));
    }
    EXPECT_THAT(messaggiLog(), ::testing::Contains("START - Pazienti totali: 0 versione 1.46"));
}

TEST_F(ComandiTest, NoResetOrSecondRunWhileARunIsInProgress) {
    studio.aggiungi(
        {.codice = "P1", .cognome = "ROSSI", .nome = "MARIO", .codiceFiscale = "RSSMRA60E12F205X"});
    studio.aggiungi(
        {.codice = "P2", .cognome = "VERDI", .nome = "LUCA", .codiceFiscale = "VRDLCU60E12F205X"});
    connettore.connessioni = {6, 6};
    int clic = 0;
    finestre.inAttesa = [&] {
        if (clic++ == 0) {
            finestra->cmdNuovoInvioClick();
            finestra->cmdInvioClick();
            finestra->cmdInvioSingoloClick();
            finestra->cmdConnessioneClick();
        }
    };
    finestra->cmdNuovoInvioClick();
    EXPECT_GT(clic, 0);
    EXPECT_EQ(righeReset().size(), 5u);
    EXPECT_EQ(leggiStart(), 1);
    EXPECT_EQ(connettore.connessioniFatte, 2);
}

TEST_F(ComandiTest, TestLineaLogsThenTellsThenDisconnects) {
    std::vector<std::string> logAlMessaggio;
    int disconnessioniAlMessaggio = -1;
    finestre.suMessaggio = [&](const std::string&) {
        logAlMessaggio = messaggiLog();
        disconnessioniAlMessaggio = connettore.disconnessioniFatte;
    };

    connettore.connessioni = {6};
    finestra->cmdConnessioneClick();
    const std::string esito = "6 = " + descriviCodice(6);
    EXPECT_THAT(finestre.messaggi, ElementsAre("Errore Connessione: " + esito));
    EXPECT_EQ(logAlMessaggio.back(), "...test connessione: " + esito);
    EXPECT_EQ(disconnessioniAlMessaggio, 0);
    EXPECT_EQ(connettore.disconnessioniFatte, 1);
    EXPECT_THAT(connettore.servizi, ElementsAre("KVT"));

    connettore.connessioni = {0};
    finestra->cmdConnessioneClick();
    EXPECT_EQ(finestre.messaggi.back(), "Connessione stabilita con successo.");
    EXPECT_EQ(messaggiLog().back(), "...test connessione: 0 = " + descriviCodice(0));
    EXPECT_EQ(connettore.disconnessioniFatte, 2);
    // No folder is touched by a line test.
    EXPECT_FALSE(fs::exists(studio.xml()));
}

TEST_F(ComandiTest, TestLineaWithAnErrorInsideTheConnector) {
    connettore.erroreInConnessione = true;
    finestra->cmdConnessioneClick();
    EXPECT_THAT(messaggiLog(), ::testing::Contains("...Eccezione mLKConnect : -1"));
    EXPECT_EQ(finestre.messaggi.size(), 1u);
    EXPECT_EQ(connettore.disconnessioniFatte, 1);
}

TEST_F(ComandiTest, OpzioniOpensTheConnectorsDialog) {
    const int prima = connettore.configurazioni;
    finestra->cmdConfigClick();
    EXPECT_EQ(connettore.configurazioni, prima + 1);
}

class InvioSingoloTest : public ComandiTest {
  protected:
    void SetUp() override {
        ComandiTest::SetUp();
        ASSERT_TRUE(finestra->controlliIniziali());
        percorsi = finestra->percorsiPaziente(kCodiceInvioSingolo);
        scriviFileDiProva(percorsi.fileXml, "<vekRichiesta/>");
    }
    PercorsiPaziente percorsi;
};

TEST_F(InvioSingoloTest, AcceptedMovesToInviatiAndRecordsNothingElse) {
    scriviFileDiProva(percorsi.fileInviato, "vecchio");
    connettore.connessioni = {0};
    connettore.risposte = {test::rispostaServizio()};
    connettore.errori = {0};
    finestra->cmdInvioSingoloClick();
    EXPECT_FALSE(fs::exists(percorsi.fileXml));
    EXPECT_EQ(leggi(percorsi.fileInviato), "<vekRichiesta/>");
    EXPECT_TRUE(fs::exists(percorsi.fileRisposta));
    EXPECT_THAT(connettore.richieste, ElementsAre("<vekRichiesta/>"));
    EXPECT_FALSE(fs::exists(studio.kvt() / "update_new.ini"));
    EXPECT_EQ(finestra->contatori().nInviati, 0);
    EXPECT_TRUE(finestre.messaggi.empty());
}

TEST_F(InvioSingoloTest, NoConnectionMovesToNoConnUnlessAFileWaitsThere) {
    connettore.connessioni = {6, 6};
    finestra->cmdInvioSingoloClick();
    EXPECT_FALSE(fs::exists(percorsi.fileXml));
    EXPECT_EQ(leggi(percorsi.fileNoConn), "<vekRichiesta/>");
    EXPECT_TRUE(finestre.messaggi.empty());

    // A file already waiting is kept; the new one stays in "kvt/xml/".
    scriviFileDiProva(percorsi.fileNoConn, "in attesa");
    scriviFileDiProva(percorsi.fileXml, "<vekRichiesta/>");
    finestra->chkDbg.setChecked(true);
    finestra->cmdInvioSingoloClick();
    EXPECT_EQ(leggi(percorsi.fileNoConn), "in attesa");
    EXPECT_EQ(leggi(percorsi.fileXml), "<vekRichiesta/>");
    EXPECT_THAT(
        finestre.messaggi,
        ElementsAre("Errore invio/risposta del tracciato corrente.\r\n\r\n" + percorsi.fileXml +
                    "\r\n\r\nLog:\r\nErrConnessione: " + descriviCodice(6)));
}

TEST_F(InvioSingoloTest, AFailedQueryLeavesTheFileWhereItIs) {
    connettore.connessioni = {0};
    connettore.risposte = {""};
    connettore.errori = {8};
    finestra->cmdInvioSingoloClick();
    EXPECT_TRUE(fs::exists(percorsi.fileXml));
    EXPECT_FALSE(fs::exists(percorsi.fileNoConn));
    EXPECT_FALSE(fs::exists(percorsi.fileInviato));
}

TEST_F(InvioSingoloTest, WithoutTheFileNothingIsSent) {
    fs::remove(percorsi.fileXml);
    finestra->chkDbg.setChecked(true);
    finestra->cmdInvioSingoloClick();
    EXPECT_EQ(connettore.connessioniFatte, 0);
    ASSERT_EQ(finestre.messaggi.size(), 1u);
    EXPECT_THAT(finestre.messaggi[0], HasSubstr("ErrXml: xml è vuoto!"));
}

TEST_F(ComandiTest, TheHiddenControlsStayHiddenAndDebugDoesNothingElse) {
    const std::vector<std::string> logPrima = messaggiLog();
    finestra->chkDbg.setChecked(true);
    finestra->chkDbgClick();
    EXPECT_EQ(messaggiLog(), logPrima);
    connettore.connessioni = {0};
    finestra->cmdConnessioneClick();
    finestra->cmdConfigClick();
    finestra->cmdInvioSingoloClick();
    finestra->cmdNuovoInvioClick();
    EXPECT_FALSE(finestra->chkDbg.visible());
    EXPECT_FALSE(finestra->cmdInvioSingolo.visible());
    EXPECT_EQ(finestra->cmdInvioSingolo.caption(), "Invio Singolo");
    EXPECT_EQ(finestra->chkDbg.caption(), "Debug");
}

}  // namespace
}  // namespace kvt
