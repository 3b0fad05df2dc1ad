// The upload run over a practice of the host stand-in, with a connector that
// answers as each test scripts it: the patient rules across runs, the log,
// the labels and counters, the service's answers, and the run's failures.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "app/frm_main.h"
#include "app/working_files.h"
#include "app_support.h"
#include "common/clock.h"
#include "common/general_functions.h"
#include "common/paths.h"
#include "common/workstation.h"
#include "common/xml_document.h"
#include "peers/vellodoc/practice.h"

namespace kvt::test {
namespace {

const std::string kOra = " - 15/03/2009 10:30:05";
const std::string kTrattini(57, '-');
const std::string kOk = "ERR_OK: comando eseguito con successo";

// The answer as it is kept: without its document-type declaration.
std::string senzaDichiarazione(std::string risposta) {
    const std::size_t dichiarazione = risposta.find("<!DOCTYPE");
    if (dichiarazione != std::string::npos) {
        risposta.erase(dichiarazione, risposta.find('>', dichiarazione) - dichiarazione + 1);
    }
    return risposta;
}

class InvioTest : public ::testing::Test {
  protected:
    void SetUp() override { apri(); }
    void TearDown() override { finestra.reset(); }

    void apri() {
        finestra.reset();
        finestra = std::make_unique<TfrmMain>(studio.programma(), &studio.host(), &connettore);
        finestra->setPausaTraPazienti(std::chrono::milliseconds(0));
    }

    // Runs "Riprendi" and gives the log lines it wrote.
    std::vector<std::string> esegui() {
        const std::size_t prima = log().size();
        finestra->cmdInvioClick();
        const std::vector<std::string> righe = log();
        return std::vector<std::string>(righe.begin() + static_cast<std::ptrdiff_t>(prima),
                                        righe.end());
    }

    std::vector<std::string> log() { return righeLog(studio.kvt() / "log.txt"); }

    // What the reset of a new sending removes.
    void azzeraCartelle() {
        for (const auto& [cartella, suffisso] :
             std::vector<std::pair<fs::path, std::string>>{{studio.xml(), ".xml"},
                                                           {studio.xml(), ".err"},
                                                           {studio.xml() / "inviati", ".xml"},
                                                           {studio.xml() / "no_conn", ".xml"},
                                                           {studio.xml() / "risposte", ".xml"}}) {
            for (const std::string& nome : fileIn(cartella, suffisso)) {
                fs::remove(cartella / nome);
            }
        }
    }

    std::string nome(const std::string& codiceFiscale) { return codiceFiscale + "_kvt.xml"; }
    std::string xml(const std::string& codiceFiscale) {
        return (studio.xml() / nome(codiceFiscale)).string();
    }
    std::string visita(const std::string& codiceFiscale) {
        return leggiIni(studio.kvt() / "update_new.ini", "data_visita", codiceFiscale);
    }

    static bool contiene(const std::vector<std::string>& righe, const std::string& riga) {
        return std::find(righe.begin(), righe.end(), riga) != righe.end();
    }
    static std::vector<std::string> cheIniziano(const std::vector<std::string>& righe,
                                                const std::string& inizio) {
        std::vector<std::string> trovate;
        for (const std::string& riga : righe) {
            if (riga.rfind(inizio, 0) == 0) {
                trovate.push_back(riga);
            }
        }
        return trovate;
    }

    FinestreDiProva finestre;
    Studio studio;
    ConnettoreDiProva connettore;
    workstation::ScopedFormats formati{{",", "dd/MM/yyyy", "HH:mm:ss"}};
    clock::FixedClock orologio{{2009, 3, 15, 10, 30, 5}};
    std::unique_ptr<TfrmMain> finestra;
};

TEST_F(InvioTest, TheLogOfAThreePatientRunLineByLine) {
    studio.aggiungi({.codice = "1", .cognome = "BIANCHI", .nome = "ANNA", .codiceFiscale = ""});
    studio.aggiungi(
        {.codice = "2", .cognome = "ROSSI", .nome = "MARIO", .codiceFiscale = "RSSMRA60E12H501Z"});
    studio.aggiungi({.codice = "3",
                     .cognome = "VERDI",
                     .nome = "LUCA",
                     .codiceFiscale = "VRDLCU70A01F205X",
                     .sesso = ""});
    studio.aggiungiVisita("2", "2009-03-10", "09:15");

    const std::vector<std::string> righe = esegui();

    const std::string cartella = studio.xml().string() + "/";
    const std::vector<std::string> attese = {
        "cmdEstraiClick" + kOra,
        "START - Pazienti totali: 3 versione 1.46" + kOra,
        "paz: 1 di 3: BIANCHI ANNA in " + cartella + "_kvt.xml" + kOra,
        "Fase 1: paz1  SCARTATO (non inviabile perchè privo di codice fiscale) " + cartella +
            "_kvt.xml" + kOra,
        "",
        "paz:RSSMRA60E12H501Z 2 di 3: ROSSI MARIO in " + cartella + "RSSMRA60E12H501Z_kvt.xml" +
            kOra,
        "Fase 1: creaTracciato: OK" + kOra,
        "Fase 2: paz2 in " + cartella + "RSSMRA60E12H501Z_kvt.xml" + kOra,
        "Fase 2: #1 connessione: 0 = " + kOk + kOra,
        "Fase 2: #2 Invio: 0 = " + kOk + kOra,
        "Fase 2: #3 Risposta: OK" + kOra,
        "",
        "paz:VRDLCU70A01F205X 3 di 3: VERDI LUCA in " + cartella + "VRDLCU70A01F205X_kvt.xml" +
            kOra,
        "Fase 1: creaTracciato: ERRORE_CREAZIONE: dettagli: ERR_OBL: Campo obbligatorio vuoto: "
        "<trxSesso>",
        kOra,
        "creaTracciato: ERRORE_CREAZIONE: file non trovato" + kOra,
        "",
        kTrattini + kOra,
        "Procedura terminata.",
        "Inviati: 1",
        "Già inviati: 0",
        "Scartati dal server:1",
        "Errore creazione:1",
        "Errore connessione invio:0" + kOra,
        kTrattini + kOra,
    };
    ASSERT_EQ(righe.size(), attese.size());
    for (std::size_t i = 0; i < attese.size(); ++i) {
        EXPECT_EQ(righe[i], attese[i]) << "riga " << i + 1;
    }

    EXPECT_EQ(finestre.messaggi,
              std::vector<std::string>{"Procedura terminata.\r\nInviati: 1\r\nGià inviati: 0\r\n"
                                       "Scartati dal server:1\r\nErrore creazione:1\r\n"
                                       "Errore connessione invio:0"});
    EXPECT_EQ(finestra->testoRiepilogo(), finestre.messaggi[0]);
    EXPECT_EQ(finestra->ultimoEsito(), EsitoInvio::Completato);
    EXPECT_EQ(finestra->lblFase.caption(), "---");
    EXPECT_EQ(finestra->lblPaz.caption(), "---");
    EXPECT_EQ(finestra->lblConteggio.caption(), "OK:1, KO:2");
    EXPECT_EQ(finestra->pBar.min(), 0);
    EXPECT_EQ(finestra->pBar.max(), 3);
    EXPECT_EQ(finestra->pBar.position(), 3);

    EXPECT_EQ(fileIn(studio.xml() / "inviati", ".xml"),
              std::vector<std::string>{nome("RSSMRA60E12H501Z")});
    EXPECT_EQ(fileIn(studio.xml() / "risposte", ".xml"),
              std::vector<std::string>{nome("RSSMRA60E12H501Z")});
    EXPECT_EQ(fileIn(studio.xml(), ".err"),
              std::vector<std::string>{"VRDLCU70A01F205X_kvt.xml.err"});
    EXPECT_TRUE(fileIn(studio.xml(), ".xml").empty());
    EXPECT_EQ(visita("RSSMRA60E12H501Z"), "2009-03-10\t09:15");
    EXPECT_EQ(permessi(studio.kvt() / "update_new.ini"), 0600u);

    // What was sent is the saved upload file, whole, in its envelope.
    ASSERT_EQ(connettore.richieste.size(), 1u);
    EXPECT_EQ(connettore.richieste[0], leggi(studio.xml() / "inviati" / nome("RSSMRA60E12H501Z")));
    XmlDocument caricamento;
    ASSERT_TRUE(caricamento.loadXML(connettore.richieste[0]));
    EXPECT_EQ(caricamento.selectSingleNode("/vekRichiesta/vekVersione").text(), "KVT 1.1");
    EXPECT_EQ(caricamento.selectSingleNode("/vekRichiesta/vekTipoOperazione").text(), "UPLO");
    EXPECT_TRUE(caricamento.selectSingleNode("/vekRichiesta/vekPazienti/vekPaziente/trxCartella"));
    EXPECT_EQ(connettore.richieste[0].rfind(
                  "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
                  "<!DOCTYPE vekRichiesta SYSTEM \"RichiestaCaricamento.dtd\">\n"
                  "<vekRichiesta>\n"
                  "\t<vekVersione>KVT 1.1</vekVersione>\n"
                  "\t<vekTipoOperazione>UPLO</vekTipoOperazione>\n"
                  "\t<vekPazienti>\n"
                  "\t\t<vekPaziente>\n"
                  "\t\t\t<trxCartella>\n",
                  0),
              0u);
    // Exactly three envelope elements, one patient.
    EXPECT_TRUE(caricamento.selectSingleNode("/vekRichiesta/*[3][self::vekPazienti]"));
    EXPECT_FALSE(caricamento.selectSingleNode("/vekRichiesta/*[4]"));
    EXPECT_FALSE(caricamento.selectSingleNode("/vekRichiesta/vekPazienti/*[2]"));
    EXPECT_FALSE(caricamento.selectSingleNode("/vekRichiesta/@*"));
    EXPECT_EQ(connettore.servizi, std::vector<std::string>{"KVT"});
    EXPECT_EQ(connettore.secondi, std::vector<std::string>{""});
    EXPECT_EQ(connettore.costanti, std::vector<int>{255});
    EXPECT_EQ(connettore.timeout, std::vector<int>{90});
    EXPECT_EQ(connettore.disconnessioniFatte, 1);
}

// Every row of the table of what a run does with what it finds, over four
// successive runs of six patients.
TEST_F(InvioTest, EachPatientFollowsTheRulesAcrossSuccessiveRuns) {
    const Paziente pazienti[] = {
        {.codice = "a", .cognome = "ACCETTO", .nome = "A", .codiceFiscale = "AAAAAA01"},
        {.codice = "b", .cognome = "BOCCIATO", .nome = "B", .codiceFiscale = "BBBBBB02"},
        {.codice = "c", .cognome = "CONNESSIONE", .nome = "C", .codiceFiscale = "CCCCCC03"},
        {.codice = "d", .cognome = "DATI", .nome = "D", .codiceFiscale = "DDDDDD04", .sesso = ""},
        {.codice = "e", .cognome = "ESITO", .nome = "E", .codiceFiscale = "EEEEEE05"},
        {.codice = "f", .cognome = "FUORILINEA", .nome = "F", .codiceFiscale = "FFFFFF06"},
    };
    for (const Paziente& paziente : pazienti) {
        studio.aggiungi(paziente);
        if (paziente.codice != "e") {
            studio.aggiungiVisita(paziente.codice, "2009-03-10", "09:00");
        }
    }
    const fs::path inviati = studio.xml() / "inviati";
    const fs::path noConn = studio.xml() / "no_conn";

    // Run 1: nothing found. Accepted, refused, no connection, missing data,
    // accepted without visits, no connection.
    connettore.connessioni = {0, 0, 6, 0, 6};
    connettore.risposte = {rispostaServizio(), rispostaServizio("", "", "290", "respinto"),
                           rispostaServizio()};
    std::vector<std::string> righe = esegui();
    EXPECT_EQ(fileIn(inviati, ".xml"),
              (std::vector<std::string>{nome("AAAAAA01"), nome("EEEEEE05")}));
    EXPECT_EQ(fileIn(studio.xml(), ".xml"), std::vector<std::string>{nome("BBBBBB02")});
    EXPECT_EQ(fileIn(noConn, ".xml"),
              (std::vector<std::string>{nome("CCCCCC03"), nome("FFFFFF06")}));
    EXPECT_EQ(fileIn(studio.xml(), ".err"), std::vector<std::string>{nome("DDDDDD04") + ".err"});
    EXPECT_EQ(visita("AAAAAA01"), "2009-03-10\t09:00");
    EXPECT_EQ(visita("EEEEEE05"), "2009-03-15\t10:30");  // now minus 5 seconds
    EXPECT_EQ(visita("BBBBBB02"), "");
    EXPECT_EQ(finestra->testoRiepilogo(),
              "Procedura terminata.\r\nInviati: 2\r\nGià inviati: 0\r\nScartati dal server:0\r\n"
              "Errore creazione:1\r\nErrore connessione invio:3");
    const std::string attesaC = leggi(noConn / nome("CCCCCC03"));

    // Run 2, "Riprendi": F's waiting file is older than its last visit.
    impostaDataFile(noConn / nome("FFFFFF06"), {2009, 3, 1, 12, 0, 0});
    clock::setFixed(DateTime{2009, 3, 15, 11, 0, 5});
    connettore.richieste.clear();
    righe = esegui();
    EXPECT_TRUE(contiene(righe, "Fase 1: paz1 INVIATO_PREC (già inviato )  " + xml("AAAAAA01") +
                                    " - 15/03/2009 11:00:05"));
    EXPECT_TRUE(contiene(righe,
                         "Fase 1: paz2  SCARTATO (già tentato invio ma rifiutato dal "
                         "server) " +
                             xml("BBBBBB02") + " - 15/03/2009 11:00:05"));
    EXPECT_TRUE(contiene(righe, "Fase 1: paz3  NOCONN (recupero xml precedente) " +
                                    (noConn / nome("CCCCCC03")).string() +
                                    " - 15/03/2009 11:00:05"));
    EXPECT_TRUE(contiene(righe,
                         "Fase 1: paz4  SCARTATO (già presente con .err. e non inviabile "
                         "perchè dati obbligatori mancanti) " +
                             xml("DDDDDD04") + " - 15/03/2009 11:00:05"));
    EXPECT_TRUE(contiene(righe, "Fase 1: paz5 INVIATO_PREC (già inviato )  " + xml("EEEEEE05") +
                                    " - 15/03/2009 11:00:05"));
    // C is sent as it waited, F is built again: two sendings, one build.
    EXPECT_EQ(cheIniziano(righe, "Fase 1: creaTracciato: OK").size(), 1u);
    EXPECT_TRUE(cheIniziano(righe, "Fase 1: paz6  NOCONN").empty());
    ASSERT_EQ(connettore.richieste.size(), 2u);
    EXPECT_EQ(connettore.richieste[0], attesaC);
    EXPECT_EQ(leggi(inviati / nome("CCCCCC03")), attesaC);
    EXPECT_EQ(fileIn(inviati, ".xml"),
              (std::vector<std::string>{nome("AAAAAA01"), nome("CCCCCC03"), nome("EEEEEE05"),
                                        nome("FFFFFF06")}));
    EXPECT_TRUE(fileIn(noConn, ".xml").empty());
    EXPECT_EQ(finestra->testoRiepilogo(),
              "Procedura terminata.\r\nInviati: 2\r\nGià inviati: 2\r\nScartati dal server:2\r\n"
              "Errore creazione:0\r\nErrore connessione invio:0");

    // Run 3, after a reset, the next day: A was visited since its send, C was
    // not; E has no visits and is sent again; B and D are tried again.
    azzeraCartelle();
    studio.aggiungiVisita("a", "2009-03-16", "08:00");
    clock::setFixed(DateTime{2009, 3, 16, 9, 0, 5});
    connettore.richieste.clear();
    righe = esegui();
    EXPECT_TRUE(contiene(righe,
                         "Fase 1: paz3 INVIATO_PREC ( già inviato. Non visitato/modificato "
                         ") - 16/03/2009 09:00:05"));
    EXPECT_TRUE(contiene(righe,
                         "Fase 1: paz6 INVIATO_PREC ( già inviato. Non visitato/modificato "
                         ") - 16/03/2009 09:00:05"));
    EXPECT_EQ(fileIn(inviati, ".xml"),
              (std::vector<std::string>{nome("AAAAAA01"), nome("BBBBBB02"), nome("EEEEEE05")}));
    EXPECT_EQ(fileIn(studio.xml(), ".err"), std::vector<std::string>{nome("DDDDDD04") + ".err"});
    EXPECT_EQ(visita("AAAAAA01"), "2009-03-16\t08:00");
    EXPECT_EQ(visita("EEEEEE05"), "2009-03-16\t09:00");
    EXPECT_EQ(finestra->testoRiepilogo(),
              "Procedura terminata.\r\nInviati: 3\r\nGià inviati: 2\r\nScartati dal server:0\r\n"
              "Errore creazione:1\r\nErrore connessione invio:0");

    // Run 4, "Riprendi" right after: nothing is sent again.
    connettore.richieste.clear();
    righe = esegui();
    EXPECT_TRUE(connettore.richieste.empty());
    EXPECT_EQ(finestra->testoRiepilogo(),
              "Procedura terminata.\r\nInviati: 0\r\nGià inviati: 5\r\nScartati dal server:1\r\n"
              "Errore creazione:0\r\nErrore connessione invio:0");
}

TEST_F(InvioTest, AStoredVisitEqualToTheLastOneIsAlreadySentAndALaterOneIsNot) {
    studio.aggiungi({.codice = "1", .cognome = "UGUALE", .nome = "U", .codiceFiscale = "UUU"});
    studio.aggiungi({.codice = "2", .cognome = "VISITATO", .nome = "V", .codiceFiscale = "VVV"});
    studio.aggiungi({.codice = "3", .cognome = "ZAPPATO", .nome = "Z", .codiceFiscale = "ZZZ"});
    studio.aggiungiVisita("1", "2009-03-15", "10:30");
    studio.aggiungiVisita("2", "2009-03-15", "10:31");
    studio.aggiungiVisita("3", "2009-03-01", "08:00");
    fs::create_directories(studio.kvt());
    scriviFileDiProva(studio.kvt() / "update_new.ini",
                      "[data_visita]\r\nUUU=2009-03-15\t10:30\r\nVVV=\"2009-03-15\"\t\"10:30\"\r\n"
                      "ZZZ=2009-03-15 10:30\r\n");

    const std::vector<std::string> righe = esegui();

    EXPECT_TRUE(contiene(righe,
                         "Fase 1: paz1 INVIATO_PREC ( già inviato. Non visitato/modificato "
                         ")" +
                             kOra));
    EXPECT_EQ(cheIniziano(righe, "Fase 1: creaTracciato: OK").size(), 2u);
    EXPECT_EQ(visita("VVV"), "2009-03-15\t10:31");
    // A value without its TAB cannot be read: the patient counts as never sent.
    EXPECT_EQ(visita("ZZZ"), "2009-03-01\t08:00");
    EXPECT_EQ(finestra->contatori().nInviati, 2);
    EXPECT_EQ(finestra->contatori().nGiaInviati, 1);
}

TEST_F(InvioTest, AWaitingFileIsTakenBackUnlessThePatientWasVisitedAfterItWasWritten) {
    studio.aggiungi({.codice = "1", .cognome = "PRIMA", .nome = "P", .codiceFiscale = "PPP"});
    studio.aggiungi({.codice = "2", .cognome = "SECONDA", .nome = "S", .codiceFiscale = "SSS"});
    studio.aggiungiVisita("1", "2009-03-15", "10:30");
    studio.aggiungiVisita("2", "2009-03-15", "10:45");
    ASSERT_TRUE(finestra->controlliIniziali());
    const fs::path noConn = studio.xml() / "no_conn";
    for (const char* codice : {"PPP", "SSS"}) {
        scriviFileDiProva(noConn / nome(codice), "<attesa/>");
        impostaDataFile(noConn / nome(codice), {2009, 3, 15, 10, 40, 0});
    }
    EXPECT_EQ(TfrmMain::dataFile((noConn / nome("PPP")).string()),
              (DateTime{2009, 3, 15, 10, 40, 0}));
    impostaDataFile(noConn / nome("SSS"), {2009, 3, 15, 10, 40, 7});
    EXPECT_EQ(TfrmMain::dataFile((noConn / nome("SSS")).string()),
              (DateTime{2009, 3, 15, 10, 40, 6}));
    EXPECT_EQ(TfrmMain::dataFile((noConn / "manca.xml").string()), std::nullopt);

    const std::vector<std::string> righe = esegui();

    EXPECT_TRUE(contiene(righe, "Fase 1: paz1  NOCONN (recupero xml precedente) " +
                                    (noConn / nome("PPP")).string() + kOra));
    EXPECT_TRUE(cheIniziano(righe, "Fase 1: paz2  NOCONN").empty());
    ASSERT_EQ(connettore.richieste.size(), 2u);
    EXPECT_EQ(connettore.richieste[0], "<attesa/>");
    EXPECT_NE(connettore.richieste[1], "<attesa/>");
    EXPECT_TRUE(fileIn(noConn, ".xml").empty());
}

struct CasoRisposta {
    const char* nome;
    int connessione;
    std::string risposta;
    int errore;
    // The log lines from the connection to the end of the patient; a line
    // that ends a log entry carries the time stamp.
    std::vector<std::string> righe;
    const char* cartella;  // where the upload file is afterwards
};

class RispostaTest : public InvioTest, public ::testing::WithParamInterface<CasoRisposta> {};

TEST_P(RispostaTest, TheAnswerDecidesWhereTheUploadFileGoes) {
    const CasoRisposta& caso = GetParam();
    studio.aggiungi({.codice = "1", .cognome = "ROSSI", .nome = "MARIO", .codiceFiscale = "RSS"});
    connettore.connessioni = {caso.connessione};
    connettore.risposte = {caso.risposta};
    connettore.errori = {caso.errore};

    std::vector<std::string> righe = esegui();

    const auto inizio =
        std::find(righe.begin(), righe.end(), "Fase 2: paz1 in " + xml("RSS") + kOra);
    ASSERT_NE(inizio, righe.end());
    const auto fine = std::find(inizio, righe.end(), "");
    EXPECT_EQ(std::vector<std::string>(inizio + 1, fine), caso.righe);
    const fs::path cartella = studio.xml() / caso.cartella;
    EXPECT_EQ(fileIn(cartella, ".xml"), std::vector<std::string>{nome("RSS")}) << cartella;
    const bool accettato = std::string(caso.cartella) == "inviati";
    EXPECT_EQ(finestra->contatori().nInviati, accettato ? 1 : 0);
    EXPECT_EQ(finestra->contatori().nErroriInvio, accettato ? 0 : 1);
    EXPECT_EQ(connettore.disconnessioniFatte, 1);
    EXPECT_EQ(visita("RSS").empty(), !accettato);

    // Every answer received is kept, without its document-type line.
    const fs::path risposta = studio.xml() / "risposte" / nome("RSS");
    if (caso.connessione == 0 && caso.errore == 0) {
        EXPECT_EQ(leggi(risposta), senzaDichiarazione(caso.risposta));
        EXPECT_EQ(permessi(risposta), 0600u);
    } else {
        EXPECT_FALSE(fs::exists(risposta));
    }
}

std::vector<std::string> erroreInvio(const std::vector<std::string>& righe) {
    std::vector<std::string> tutte = {"Fase 2: Errore InviaXml:"};
    tutte.insert(tutte.end(), righe.begin(), righe.end());
    tutte.back() += kOra;
    return tutte;
}

std::vector<std::string> unisci(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::string kConnessa = "Fase 2: #1 connessione: 0 = " + kOk + kOra;
const std::string kInviata = "Fase 2: #2 Invio: 0 = " + kOk + kOra;

INSTANTIATE_TEST_SUITE_P(
    Risposte, RispostaTest,
    ::testing::Values(
        CasoRisposta{"accettata",
                     0,
                     rispostaServizio(),
                     0,
                     {kConnessa, kInviata, "Fase 2: #3 Risposta: OK" + kOra},
                     "inviati"},
        CasoRisposta{"senza_dichiarazione_di_tipo",
                     0,
                     "<vekRisposta><vekCodiceErrore/><vekPazienti><vekPaziente><vekCodiceErrore>"
                     "  </vekCodiceErrore></vekPaziente></vekPazienti></vekRisposta>",
                     0,
                     {kConnessa, kInviata, "Fase 2: #3 Risposta: OK" + kOra},
                     "inviati"},
        CasoRisposta{
            "richiesta_respinta", 0, rispostaServizio("190", "richiesta respinta dal servizio"), 0,
            unisci({kConnessa, kInviata,
                    "Fase 2: #3 Risposta: KO+ - CodiceErrore: 190 - DescrizioneErrore: "
                    "richiesta respinta dal servizio" +
                        kOra},
                   erroreInvio({"ErrInvio: " + kOk,
                                "CodiceErr:190 DescrErr: richiesta respinta dal servizio"})),
            ""},
        CasoRisposta{
            "paziente_respinto", 0,
            rispostaServizio("", "", "290", "assistito respinto dal servizio"), 0,
            unisci({kConnessa, kInviata,
                    "Fase 2: #3 Risposta: KO - CodiceErrore: 290 - DescrizioneErrore: "
                    "assistito respinto dal servizio" +
                        kOra},
                   erroreInvio({"ErrInvio: " + kOk,
                                "CodiceErr:290 DescrErr: assistito respinto dal servizio"})),
            ""},
        CasoRisposta{"senza_codici", 0,
                     "<?xml version=\"1.0\"?>\n<!DOCTYPE vekRisposta SYSTEM \"dtdUnknown.dtd\">\n"
                     "<vekRisposta><vekPazienti><vekPaziente/></vekPazienti></vekRisposta>\n",
                     0,
                     unisci({kConnessa, kInviata,
                             "Fase 2: #3 Risposta: KO+ - CodiceErrore: empty - "
                             "DescrizioneErrore: empty" +
                                 kOra},
                            erroreInvio({"ErrInvio: " + kOk, "CodiceErr:empty DescrErr: empty"})),
                     ""},
        CasoRisposta{"senza_codice_della_richiesta", 0,
                     "<vekRisposta><vekDescrizioneErrore>vuoto</vekDescrizioneErrore>"
                     "</vekRisposta>",
                     0,
                     unisci({kConnessa, kInviata,
                             "Fase 2: #3 Risposta: KO+ - CodiceErrore: empty - "
                             "DescrizioneErrore: vuoto" +
                                 kOra},
                            erroreInvio({"ErrInvio: " + kOk, "CodiceErr:empty DescrErr: vuoto"})),
                     ""},
        CasoRisposta{"senza_codice_del_paziente", 0,
                     "<vekRisposta><vekCodiceErrore></vekCodiceErrore></vekRisposta>", 0,
                     unisci({kConnessa, kInviata,
                             "Fase 2: #3 Risposta: KO - CodiceErrore: empty - "
                             "DescrizioneErrore: empty" +
                                 kOra},
                            erroreInvio({"ErrInvio: " + kOk, "CodiceErr:empty DescrErr: empty"})),
                     ""},
        CasoRisposta{
            "tempo_scaduto", 0, "", 8,
            unisci({kConnessa, "Fase 2: #2 Invio: 8 = ERR_TIMEOUT: mancata risposta" + kOra},
                   erroreInvio({"ErrInvio: ERR_TIMEOUT: mancata risposta"})),
            ""},
        CasoRisposta{"senza_connessione", 6, "", 0,
                     unisci({"...Eccezione mLKConnect : 6" + kOra,
                             "Fase 2: #1 connessione: 6 = ERR_CONNECT: connessione fallita" + kOra},
                            erroreInvio({"ErrConnessione: ERR_CONNECT: connessione fallita"})),
                     "no_conn"}),
    [](const ::testing::TestParamInfo<CasoRisposta>& info) { return info.param.nome; });

// The parser's reason for a text, as the answer reader finds it.
std::string motivo(const fs::path& file, const std::string& testo) {
    scriviFileDiProva(file, testo);
    XmlDocument documento;
    documento.load(file);
    return documento.parseError().reason;
}

TEST_F(InvioTest, AnAnswerThatDoesNotParseOrIsEmptyRefusesTheFileWithTheParsersReason) {
    studio.aggiungi({.codice = "1", .cognome = "MALE", .nome = "M", .codiceFiscale = "MMM"});
    studio.aggiungi({.codice = "2", .cognome = "VUOTO", .nome = "V", .codiceFiscale = "VVV"});
    const std::string malformata =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE vekRisposta SYSTEM \"x.dtd\">\n"
        "<vekRisposta>\n  <vekCodiceErrore>\n</vekRisposta>\n";
    connettore.risposte = {malformata, ""};

    const std::vector<std::string> righe = esegui();

    const std::string senzaDichiarazione =
        "<?xml version=\"1.0\"?>\n\n<vekRisposta>\n  <vekCodiceErrore>\n</vekRisposta>\n";
    const std::string primo = motivo(studio.radice() / "m.xml", senzaDichiarazione);
    const std::string secondo = motivo(studio.radice() / "v.xml", "");
    ASSERT_FALSE(primo.empty());
    ASSERT_FALSE(secondo.empty());
    EXPECT_TRUE(contiene(righe, "Fase 2: #3 Risposta: KO+ - CodiceErrore: " + primo +
                                    " - DescrizioneErrore: " + primo + kOra));
    EXPECT_TRUE(contiene(righe, "Fase 2: #3 Risposta: KO+ - CodiceErrore: " + secondo +
                                    " - DescrizioneErrore: " + secondo + kOra));
    EXPECT_EQ(leggi(studio.xml() / "risposte" / nome("MMM")), senzaDichiarazione);
    EXPECT_EQ(leggi(studio.xml() / "risposte" / nome("VVV")), "");
    EXPECT_EQ(fileIn(studio.xml(), ".xml"), (std::vector<std::string>{nome("MMM"), nome("VVV")}));
    EXPECT_EQ(finestra->contatori().nErroriInvio, 2);
}

TEST_F(InvioTest, InviaXmlGivesTheErrorTextInEachOfItsForms) {
    const std::string file = (studio.radice() / "caricamento.xml").string();
    const std::string risposta = (studio.radice() / "risposta.xml").string();
    std::string errore = "prima";

    EXPECT_FALSE(finestra->InviaXml("KVT", file, errore, risposta));  // no file at all
    EXPECT_EQ(errore, "\r\nErrXml: xml è vuoto!");
    scriviFileDiProva(file, "");
    EXPECT_FALSE(finestra->InviaXml("KVT", file, errore, risposta));
    EXPECT_EQ(errore, "\r\nErrXml: xml è vuoto!");
    EXPECT_EQ(connettore.connessioniFatte, 0);

    scriviFileDiProva(file, "<vekRichiesta/>");
    connettore.connessioni = {14};
    EXPECT_FALSE(finestra->InviaXml("KVT", file, errore, risposta));
    EXPECT_EQ(errore, "\r\nErrConnessione: ERR_UNCONN: non connesso");

    connettore.errori = {27};
    EXPECT_FALSE(finestra->InviaXml("KVT", file, errore, risposta));
    EXPECT_EQ(errore, "\r\nErrInvio: ERR_DROP: client remoto disconnesso");

    // A failed disconnection is only logged.
    connettore.disconnessioni = {7};
    EXPECT_TRUE(finestra->InviaXml("KVT", file, errore, risposta));
    EXPECT_EQ(errore, "\r\nErrInvio: " + kOk + "\r\nCodiceErr: DescrErr: ");
    EXPECT_EQ(log().back(), "...Eccezione mLKDisconnect : 7" + kOra);
    EXPECT_EQ(connettore.disconnessioniFatte, 3);
    EXPECT_EQ(connettore.richieste.back(), "<vekRichiesta/>");
}

TEST_F(InvioTest, TheQueryTimeOutIsTheSettingInWholeSeconds) {
    studio.aggiungi({.codice = "1", .cognome = "ROSSI", .nome = "M", .codiceFiscale = "RSS"});
    const std::string file = (studio.radice() / "c.xml").string();
    scriviFileDiProva(file, "<a/>");
    std::string errore;
    for (const auto& [valore, secondi] :
         std::vector<std::pair<std::string, int>>{{"dword:00017318", 95},     // 95000
                                                  {"dword:0001629f", 90},     // 90999
                                                  {"dword:00016184", 90}}) {  // 90500
        studio.scriviRegistro({"\"LogFilename\"=\"lk.log\"", "\"ReqTout\"=" + valore});
        apri();
        finestra->InviaXml("KVT", file, errore, (studio.radice() / "r.xml").string());
        EXPECT_EQ(connettore.timeout.back(), secondi) << valore;
    }
}

TEST_F(InvioTest, WithTheDebugSwitchFailuresAndWarningsAreAlsoShown) {
    studio.aggiungi({.codice = "1",
                     .cognome = "AVVISO",
                     .nome = "A",
                     .codiceFiscale = "AAA",
                     .codiceAsl = "1234"});
    studio.aggiungi(
        {.codice = "2", .cognome = "MANCA", .nome = "M", .codiceFiscale = "MMM", .sesso = ""});
    connettore.risposte = {rispostaServizio("190", "no")};

    std::vector<std::string> righe = esegui();
    EXPECT_TRUE(cheIniziano(righe, "Fase 1: creaTracciato: AVVISI:").empty());
    EXPECT_EQ(finestre.messaggi.size(), 1u);  // the summary only

    azzeraCartelle();
    finestre.messaggi.clear();
    finestra->chkDbg.setChecked(true);
    connettore.risposte = {rispostaServizio("190", "no")};
    righe = esegui();

    const auto ok = std::find(righe.begin(), righe.end(), "Fase 1: creaTracciato: OK" + kOra);
    ASSERT_NE(ok, righe.end());
    EXPECT_EQ(*(ok + 1), "Fase 1: creaTracciato: AVVISI:");
    EXPECT_NE((ok + 2)->find("1234"), std::string::npos);
    ASSERT_EQ(finestre.messaggi.size(), 3u);
    EXPECT_EQ(finestre.messaggi[0], "Errore invio/risposta del tracciato corrente. (1/2)\r\n\r\n" +
                                        xml("AAA") + "\r\n\r\nLog:\r\nErrInvio: " + kOk +
                                        "\r\nCodiceErr:190 DescrErr: no");
    EXPECT_EQ(finestre.messaggi[1],
              "Errore creazione tracciato: " + xml("MMM") +
                  ".err\r\nERR_OBL: Campo obbligatorio vuoto: <trxSesso>\r\n");
    EXPECT_EQ(finestre.messaggi[2].rfind("Procedura terminata.", 0), 0u);
}

TEST_F(InvioTest, ARecordThatFailsToBuildIsLoggedAndCountedWithoutAFile) {
    studio.aggiungi({.codice = "1", .cognome = "GUASTO", .nome = "G", .codiceFiscale = "GGG"});
    vellodoc::Fault guasto;
    guasto.metodo = "call_method_pipe";
    guasto.argomento = "problema.rowcount";
    guasto.risposta = "2 ";
    vellodoc::addFault(studio.database(), guasto);

    const std::vector<std::string> righe = esegui();

    const std::vector<std::string> ko = cheIniziano(righe, "Fase 1: creaTracciato: KO - Errore:");
    ASSERT_EQ(ko.size(), 1u);
    EXPECT_GT(ko[0].size(),
              std::string("Fase 1: creaTracciato: KO - Errore:").size() + kOra.size());
    EXPECT_TRUE(contiene(righe, "creaTracciato: ERRORE_CREAZIONE: file non trovato" + kOra));
    EXPECT_EQ(finestra->contatori().nErroriCreazione, 1);
    EXPECT_TRUE(fileIn(studio.xml(), ".xml").empty());
    EXPECT_TRUE(fileIn(studio.xml(), ".err").empty());
    EXPECT_TRUE(connettore.richieste.empty());
}

TEST_F(InvioTest, FailedChecksAndAnEmptyListStillEndWithTheSummary) {
    studio.aggiungi({.codice = "1",
                     .cognome = "ALTRO",
                     .nome = "A",
                     .codiceFiscale = "AAA",
                     .medico = "MMG999"});
    std::vector<std::string> righe = esegui();
    EXPECT_EQ(righe, (std::vector<std::string>{
                         "cmdEstraiClick" + kOra, "START - Pazienti totali: 0 versione 1.46" + kOra,
                         kTrattini + kOra, "Procedura terminata.", "Inviati: 0", "Già inviati: 0",
                         "Scartati dal server:0", "Errore creazione:0",
                         "Errore connessione invio:0" + kOra, kTrattini + kOra}));

    fs::remove(studio.kvt() / "dtd" / "RispostaCaricamento.dtd");
    finestre.messaggi.clear();
    righe = esegui();
    EXPECT_EQ(righe.size(), 10u);
    EXPECT_EQ(righe[1], "NO RISPOSTA_UPLO_DTD" + kOra);
    EXPECT_TRUE(cheIniziano(righe, "START").empty());
    ASSERT_EQ(finestre.messaggi.size(), 2u);
    EXPECT_EQ(finestre.messaggi[1],
              "Procedura terminata.\r\nInviati: 0\r\nGià inviati: 0\r\nScartati dal server:0\r\n"
              "Errore creazione:0\r\nErrore connessione invio:0");
    EXPECT_EQ(finestra->lblFase.caption(), "---");
}

class Osservatore : public WindowObserver {
  public:
    void controlChanged(const Control& control) override {
        if (const auto* barra = dynamic_cast<const ProgressBar*>(&control)) {
            cambiati.push_back("pBar=" + std::to_string(barra->min()) + ".." +
                               std::to_string(barra->max()) + "@" +
                               std::to_string(barra->position()));
        } else {
            cambiati.push_back(control.name() + "=" + control.caption());
        }
    }
    void repaint() override { ++ridisegni; }
    std::vector<std::string> di(const std::string& nome) const {
        std::vector<std::string> valori;
        for (const std::string& cambio : cambiati) {
            if (cambio.rfind(nome + "=", 0) == 0) {
                valori.push_back(cambio.substr(nome.size() + 1));
            }
        }
        return valori;
    }
    std::vector<std::string> cambiati;
    int ridisegni = 0;
};

TEST_F(InvioTest, TheLabelsTheBarAndTheCursorFollowTheRun) {
    studio.aggiungi({.codice = "1", .cognome = "ALFA", .nome = "UNO", .codiceFiscale = "AAA"});
    studio.aggiungi({.codice = "2", .cognome = "BETA", .nome = "DUE", .codiceFiscale = ""});
    studio.aggiungi({.codice = "3", .cognome = "GAMMA", .nome = "TRE", .codiceFiscale = "GGG"});
    Osservatore vista;
    finestra->setObserver(&vista);
    bool clessidraDuranteIlRiepilogo = false;
    finestre.suMessaggio = [&](const std::string& testo) {
        if (testo.rfind("Procedura terminata.", 0) == 0) {
            clessidraDuranteIlRiepilogo = finestre.clessidra;
        }
    };

    esegui();

    EXPECT_EQ(vista.di("lblFase"),
              (std::vector<std::string>{"Controlli iniziali...", "Fase 1 di 2: creazione tracciato",
                                        "Fase 2 di 2: invio tracciato", "---"}));
    EXPECT_EQ(vista.di("lblPaz"), (std::vector<std::string>{"1 di 3: ALFA UNO", "2 di 3: BETA DUE",
                                                            "3 di 3: GAMMA TRE", "---"}));
    EXPECT_EQ(vista.di("lblConteggio"),
              (std::vector<std::string>{"OK:1, KO:0", "OK:1, KO:1", "OK:2, KO:1"}));
    EXPECT_EQ(vista.di("pBar"), (std::vector<std::string>{"0..3@0", "0..3@1", "0..3@2", "0..3@3"}));
    EXPECT_GE(vista.ridisegni, 3 * 2 + 2);
    EXPECT_EQ(finestre.processate, 3);
    EXPECT_TRUE(clessidraDuranteIlRiepilogo);
    EXPECT_FALSE(finestre.clessidra);
    EXPECT_EQ(finestre.cambiClessidra, 2);
}

TEST_F(InvioTest, AnErrorInsideAConnectorCallEndsTheRunWithTheGeneralErrorMessage) {
    studio.aggiungi({.codice = "1", .cognome = "PRIMO", .nome = "P", .codiceFiscale = "PPP"});
    studio.aggiungi({.codice = "2", .cognome = "SECONDO", .nome = "S", .codiceFiscale = "SSS"});
    connettore.erroreInConnessione = true;

    const std::vector<std::string> righe = esegui();

    EXPECT_TRUE(contiene(righe, "...Eccezione mLKConnect : -1" + kOra));
    EXPECT_EQ(righe.back(), "Invio interrotto - Errore: guasto del connettore in LKConnect" + kOra);
    EXPECT_TRUE(cheIniziano(righe, "paz:SSS").empty());
    EXPECT_TRUE(cheIniziano(righe, "Procedura terminata.").empty());
    EXPECT_EQ(finestre.messaggi, std::vector<std::string>{"guasto del connettore in LKConnect"});
    EXPECT_EQ(finestre.icone, std::vector<MessageIcon>{MessageIcon::Error});
    EXPECT_EQ(finestra->ultimoEsito(), EsitoInvio::Interrotto);
    EXPECT_EQ(finestra->erroreInvio(), "guasto del connettore in LKConnect");
    EXPECT_EQ(finestra->lblFase.caption(), "---");
    EXPECT_FALSE(finestre.clessidra);
    EXPECT_FALSE(finestra->occupata());
    EXPECT_EQ(connettore.disconnessioniFatte, 1);  // the connector is left free

    // The next run starts normally; the file the failed call left unfiled
    // never reached the service, so it is made and sent again rather than
    // passed over as refused.
    connettore.erroreInConnessione = false;
    finestre.messaggi.clear();
    esegui();
    EXPECT_EQ(finestra->ultimoEsito(), EsitoInvio::Completato);
    EXPECT_EQ(finestra->contatori().nInviati, 2);
    EXPECT_EQ(fileIn(studio.xml() / "inviati", ".xml"),
              (std::vector<std::string>{nome("PPP"), nome("SSS")}));
}

TEST_F(InvioTest, AnErrorInsideTheQueryIsShownAndTheAnswerIsTheMarkerText) {
    studio.aggiungi({.codice = "1", .cognome = "PRIMO", .nome = "P", .codiceFiscale = "PPP"});
    connettore.erroreInQuery = true;

    const std::vector<std::string> righe = esegui();

    ASSERT_GE(finestre.messaggi.size(), 1u);
    EXPECT_EQ(finestre.messaggi[0], "Eccezione mLKQuery: guasto del connettore in LKQuery");
    EXPECT_EQ(leggi(studio.xml() / "risposte" / nome("PPP")), "ERR_mLKQuery");
    EXPECT_EQ(cheIniziano(righe, "Fase 2: #3 Risposta: KO+ - CodiceErrore: ").size(), 1u);
    EXPECT_EQ(finestra->contatori().nErroriInvio, 1);
    EXPECT_EQ(finestra->ultimoEsito(), EsitoInvio::Completato);
}

// What NTFS can show after a power cut: a file at its full size, all zeros.
// Each such state file is renamed aside with a log line, never read as state
// nor sent; the patients are decided afresh.
TEST_F(InvioTest, AZeroFilledStateFileIsSetAsideLoggedAndNeverTrusted) {
    studio.aggiungi({.codice = "a", .cognome = "ALFA", .nome = "A", .codiceFiscale = "AAA"});
    studio.aggiungi({.codice = "b", .cognome = "BETA", .nome = "B", .codiceFiscale = "BBB"});
    studio.aggiungi({.codice = "c", .cognome = "GAMMA", .nome = "C", .codiceFiscale = "CCC"});
    const std::string zeri(4096, '\0');
    const std::vector<fs::path> danneggiati{studio.kvt() / "update_new.ini",
                                            finestra->fileInvioInCorso(), xml("BBB"),
                                            studio.xml() / "no_conn" / nome("CCC")};
    fs::create_directories(studio.xml() / "no_conn");
    for (const fs::path& file : danneggiati) {
        scriviFileDiProva(file, zeri);
    }

    const std::vector<std::string> righe = esegui();

    EXPECT_EQ(cheIniziano(righe, "File danneggiato (byte nulli").size(), danneggiati.size());
    for (const fs::path& file : danneggiati) {
        EXPECT_EQ(leggi(file.string() + ".danneggiato"), zeri) << file;
    }
    EXPECT_EQ(fileIn(studio.xml() / "inviati", ".xml"),
              (std::vector<std::string>{nome("AAA"), nome("BBB"), nome("CCC")}));
    for (const std::string& richiesta : connettore.richieste) {
        EXPECT_EQ(richiesta.find('\0'), std::string::npos);
        EXPECT_FALSE(richiesta.empty());
    }
    EXPECT_EQ(visita("BBB"), "2009-03-15\t10:30");  // a last-visit file made anew
    EXPECT_EQ(finestra->contatori().nInviati, 3);
}

TEST_F(InvioTest, AnOutcomeThatCannotBeRecordedCostsOnlyThatPatient) {
    studio.aggiungi({.codice = "1", .cognome = "PRIMO", .nome = "P", .codiceFiscale = "PPP"});
    studio.aggiungi({.codice = "2", .cognome = "SECONDO", .nome = "S", .codiceFiscale = "SSS"});
    studio.aggiungi({.codice = "3", .cognome = "TERZO", .nome = "T", .codiceFiscale = "TTT"});
    studio.aggiungiVisita("1", "2009-03-15", "10:30");
    studio.aggiungiVisita("2", "2009-03-15", "10:30");

    // The last-visit file cannot be written: both uploads are still filed.
    fs::create_directories(studio.kvt() / "update_new.ini");
    std::vector<std::string> righe = esegui();
    EXPECT_EQ(fileIn(studio.xml() / "inviati", ".xml").size(), 3u);
    EXPECT_EQ(cheIniziano(righe, "Data ultima visita non registrata per PPP: ").size(), 1u);
    EXPECT_EQ(finestra->ultimoEsito(), EsitoInvio::Completato);
    EXPECT_EQ(finestra->contatori().nInviati, 3);
    EXPECT_EQ(finestre.messaggi.back(),
              "Attenzione: per 3 pazienti l'esito non è stato registrato nelle cartelle di lavoro "
              "(dettagli nel log).");
    fs::remove(studio.kvt() / "update_new.ini");

    // An accepted upload that cannot be filed in "inviati/": its last visit
    // is stored and the file removed, so that the next run does not take it
    // for refused, nor send it again before a new visit.
    azzeraCartelle();
    fs::create_directories(studio.xml() / "inviati" / nome("PPP"));
    righe = esegui();
    EXPECT_EQ(cheIniziano(righe, "Fase 2: paz1 ERRORE_ARCHIVIAZIONE: ").size(), 1u);
    EXPECT_FALSE(fs::exists(studio.xml() / nome("PPP")));
    EXPECT_EQ(visita("PPP"), "2009-03-15\t10:30");
    EXPECT_EQ(finestra->contatori().nInviati, 3);
    righe = esegui();
    EXPECT_EQ(cheIniziano(righe, "Fase 1: paz1 INVIATO_PREC ( già inviato. Non visitato").size(),
              1u);
    EXPECT_EQ(finestra->contatori().nInviati, 0);
}

// ---- Mended faults ----

TEST_F(InvioTest, TheLastVisitIsTheLatestTimeOfTheLatestDate) {
    EXPECT_EQ(TfrmMain::queryUltimaVisita("7"),
              "SELECT (SELECT MAX (cv1.data_open) FROM cart_visite cv1 where "
              "cv1.codice=p.codice) AS data_mia, (SELECT MAX (cv2.ora) FROM cart_visite cv2 "
              "where cv2.codice=p.codice AND cv2.data_open=(SELECT MAX (cv3.data_open) FROM "
              "cart_visite cv3 where cv3.codice=p.codice)) AS ora_mia FROM pazienti p WHERE "
              "p.codice='7'");

    studio.aggiungi({.codice = "7", .cognome = "ROSSI", .nome = "M", .codiceFiscale = "RSS"});
    studio.aggiungiVisita("7", "2009-03-14", "18:00");
    studio.aggiungiVisita("7", "2009-03-15", "09:00");
    esegui();
    EXPECT_EQ(visita("RSS"), "2009-03-15\t09:00");

    // Seen again later the same day: a change, sent after the next reset.
    studio.aggiungiVisita("7", "2009-03-15", "12:00");
    clock::setFixed(DateTime{2009, 3, 15, 13, 0, 0});
    azzeraCartelle();
    esegui();
    EXPECT_EQ(finestra->contatori().nInviati, 1);
    EXPECT_EQ(visita("RSS"), "2009-03-15\t12:00");
}

TEST_F(InvioTest, AnIdentifierWithAnApostropheStaysInsideItsQuotes) {
    EXPECT_EQ(TfrmMain::queryUltimaVisita("O'1' OR '1'='1")
                  .substr(TfrmMain::queryUltimaVisita("").size() - 2),
              "'O''1'' OR ''1''=''1'");
    studio.aggiungi({.codice = "O'1", .cognome = "APOSTROFO", .nome = "A", .codiceFiscale = "AAA"});
    studio.aggiungi({.codice = "1", .cognome = "ZETA", .nome = "B", .codiceFiscale = "BBB"});
    studio.aggiungiVisita("O'1", "2009-02-01", "07:45");
    studio.aggiungiVisita("1", "2009-03-01", "11:11");
    ASSERT_EQ(studio.host().carica("codice_medico =MMG001|tipo_di_convenzione=S", "alfabetico"), 2);

    EXPECT_EQ(finestra->dataUltimaVisita(), (DateTime{2009, 2, 1, 7, 45, 0}));
    EXPECT_TRUE(finestre.messaggi.empty());
}

TEST_F(InvioTest, AFiscalCodeThatCannotBeAFileNameIsSkipped) {
    studio.aggiungi({.codice = "1", .cognome = "A", .nome = "A", .codiceFiscale = "../../fuori"});
    studio.aggiungi({.codice = "2", .cognome = "B", .nome = "B", .codiceFiscale = "RSS/MRA"});
    studio.aggiungi({.codice = "3", .cognome = "C", .nome = "C", .codiceFiscale = "RSS*MRA"});
    studio.aggiungi({.codice = "4", .cognome = "D", .nome = "D", .codiceFiscale = "RSSMRA"});

    const std::vector<std::string> righe = esegui();

    EXPECT_EQ(
        cheIniziano(righe, "Fase 1: paz"),
        (std::vector<std::string>{
            "Fase 1: paz1  SCARTATO (codice fiscale non valido come nome di file) "
            "../../fuori" +
                kOra,
            "Fase 1: paz2  SCARTATO (codice fiscale non valido come nome di file) RSS/MRA" + kOra,
            "Fase 1: paz3  SCARTATO (codice fiscale non valido come nome di file) RSS*MRA" +
                kOra}));
    EXPECT_EQ(finestra->contatori().nScartati, 3);
    EXPECT_EQ(finestra->contatori().nInviati, 1);
    EXPECT_EQ(connettore.richieste.size(), 1u);
    EXPECT_FALSE(fs::exists(studio.radice() / "programma" / "fuori_kvt.xml"));
    EXPECT_FALSE(fs::exists(studio.radice() / "fuori_kvt.xml"));
}

// A run killed between building a patient's file and filing it leaves the
// file in "kvt/xml", where it would pass for a refused one forever; the note
// of the sending in progress tells the two apart.
TEST_F(InvioTest, AnUploadAStoppedRunLeftUnfiledIsMadeAndSentAgain) {
    studio.aggiungi({.codice = "a", .cognome = "ALFA", .nome = "A", .codiceFiscale = "AAA"});
    studio.aggiungi({.codice = "b", .cognome = "BETA", .nome = "B", .codiceFiscale = "BBB"});
    studio.aggiungi({.codice = "c", .cognome = "GAMMA", .nome = "C", .codiceFiscale = "CCC"});
    studio.aggiungiVisita("c", "2009-03-10", "09:00");
    const fs::path nota = finestra->fileInvioInCorso();
    fs::create_directories(studio.xml());
    scriviFileDiProva(xml("AAA"), "<vekRichiesta/>");
    scriviFileDiProva(xml("BBB"), "<vekRichiesta/>");  // refused by the service earlier
    scriviFileDiProva(nota, nome("AAA") + "\n2009-03-12\t08:00");
    // Temporary files of writes the stop cut short, and one that is not.
    scriviFileDiProva(studio.xml() / ("." + nome("CCC") + ".a1B2c3"), "<vekRich");
    scriviFileDiProva(studio.kvt() / ".update_new.ini.Zz9y8X", "[data");
    scriviFileDiProva(studio.xml() / ".tenere", "x");

    std::vector<std::string> righe = esegui();

    EXPECT_TRUE(contiene(righe,
                         "Fase 1: paz1  RIPRESO (invio precedente interrotto, tracciato "
                         "da rifare) " +
                             xml("AAA") + kOra));
    EXPECT_TRUE(contiene(righe,
                         "Fase 1: paz2  SCARTATO (già tentato invio ma rifiutato dal "
                         "server) " +
                             xml("BBB") + kOra));
    EXPECT_EQ(fileIn(studio.xml() / "inviati", ".xml"),
              (std::vector<std::string>{nome("AAA"), nome("CCC")}));
    EXPECT_EQ(fileIn(studio.xml(), ".xml"), std::vector<std::string>{nome("BBB")});
    EXPECT_NE(leggi(studio.xml() / "inviati" / nome("AAA")), "<vekRichiesta/>");  // rebuilt
    EXPECT_EQ(visita("AAA"), "2009-03-15\t10:30");
    EXPECT_EQ(fileIn(studio.xml(), ".a1B2c3"), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(studio.kvt() / ".update_new.ini.Zz9y8X"));
    EXPECT_TRUE(fs::exists(studio.xml() / ".tenere"));
    EXPECT_FALSE(fs::exists(nota));  // every sending of the run was filed

    // Stopped after filing an accepted upload but before storing its last
    // visit: the next run stores the visit the note kept, so that patient
    // is not sent again after a reset.
    fs::remove(studio.kvt() / "update_new.ini");
    scriviFileDiProva(nota, nome("CCC") + "\n2009-03-10\t09:00");
    righe = esegui();
    EXPECT_TRUE(contiene(righe, "Fase 1: paz3 INVIATO_PREC (già inviato )  " + xml("CCC") + kOra));
    EXPECT_EQ(visita("CCC"), "2009-03-10\t09:00");
    EXPECT_EQ(visita("AAA"), "");  // nothing noted for it: not made up
    EXPECT_FALSE(fs::exists(nota));
    EXPECT_EQ(connettore.richieste.size(), 2u);
}

// Every sending rewrites the note, so the run reads it once before the
// first patient: the upload it names is made again also when other patients
// were sent before it.
TEST_F(InvioTest, TheUnfiledUploadIsMadeAgainAfterOtherSendingsOfTheRun) {
    studio.aggiungi({.codice = "a", .cognome = "ALFA", .nome = "A", .codiceFiscale = "AAA"});
    studio.aggiungi({.codice = "b", .cognome = "BETA", .nome = "B", .codiceFiscale = "BBB"});
    fs::create_directories(studio.xml());
    scriviFileDiProva(xml("BBB"), "<vekRichiesta/>");
    scriviFileDiProva(finestra->fileInvioInCorso(), nome("BBB") + "\n2009-03-12\t08:00");

    const std::vector<std::string> righe = esegui();

    EXPECT_TRUE(contiene(righe,
                         "Fase 1: paz2  RIPRESO (invio precedente interrotto, tracciato "
                         "da rifare) " +
                             xml("BBB") + kOra));
    EXPECT_EQ(fileIn(studio.xml() / "inviati", ".xml"),
              (std::vector<std::string>{nome("AAA"), nome("BBB")}));
    EXPECT_EQ(finestra->contatori().nInviati, 2);
}

// A file that a power cut (or another program) left empty: an empty upload
// is never passed over as refused nor taken back as waiting, it is made again.
TEST_F(InvioTest, AnEmptyUploadLeftByAPowerCutIsMadeAgain) {
    studio.aggiungi({.codice = "a", .cognome = "ALFA", .nome = "A", .codiceFiscale = "AAA"});
    studio.aggiungi({.codice = "b", .cognome = "BETA", .nome = "B", .codiceFiscale = "BBB"});
    studio.aggiungiVisita("b", "2009-03-10", "09:00");
    fs::create_directories(studio.xml() / "no_conn");
    scriviFileDiProva(xml("AAA"), "");
    scriviFileDiProva(studio.xml() / "no_conn" / nome("BBB"), "");

    const std::vector<std::string> righe = esegui();

    EXPECT_TRUE(contiene(righe,
                         "Fase 1: paz1  RIPRESO (invio precedente interrotto, tracciato "
                         "da rifare) " +
                             xml("AAA") + kOra));
    EXPECT_TRUE(cheIniziano(righe, "Fase 1: paz2  NOCONN").empty());
    EXPECT_EQ(fileIn(studio.xml() / "inviati", ".xml"),
              (std::vector<std::string>{nome("AAA"), nome("BBB")}));
    for (const std::string& richiesta : connettore.richieste) {
        EXPECT_FALSE(richiesta.empty());
    }
    EXPECT_EQ(finestra->contatori().nInviati, 2);
}

TEST_F(InvioTest, WorkingFilesAreReplacedWholeAndReadableByTheirOwnerOnly) {
    studio.aggiungi({.codice = "1", .cognome = "ACCETTO", .nome = "A", .codiceFiscale = "AAA"});
    studio.aggiungi({.codice = "2", .cognome = "BOCCIATO", .nome = "B", .codiceFiscale = "BBB"});
    studio.aggiungi({.codice = "3", .cognome = "CONNESSIONE", .nome = "C", .codiceFiscale = "CCC"});
    studio.aggiungi(
        {.codice = "4", .cognome = "DATI", .nome = "D", .codiceFiscale = "DDD", .sesso = ""});
    studio.aggiungiVisita("1", "2009-03-01", "10:00");
    ASSERT_TRUE(finestra->controlliIniziali());
    // Earlier files, each with a second name: a file rewritten in place would
    // change under both names, a file replaced by a rename only under one.
    const fs::path ini = studio.kvt() / "update_new.ini";
    const fs::path risposta = studio.xml() / "risposte" / nome("AAA");
    scriviFileDiProva(ini, "[data_visita]\r\nVECCHIO=2008-01-01\t10:00\r\n");
    scriviFileDiProva(risposta, "risposta precedente");
    fs::create_hard_link(ini, studio.radice() / "ini.link");
    fs::create_hard_link(risposta, studio.radice() / "risposta.link");
    connettore.connessioni = {0, 0, 6};
    connettore.risposte = {rispostaServizio(), rispostaServizio("190", "no")};

    esegui();

    EXPECT_EQ(leggi(studio.radice() / "ini.link"),
              "[data_visita]\r\nVECCHIO=2008-01-01\t10:00\r\n");
    EXPECT_EQ(leggi(studio.radice() / "risposta.link"), "risposta precedente");
    EXPECT_EQ(visita("AAA"), "2009-03-01\t10:00");
    EXPECT_EQ(visita("VECCHIO"), "2008-01-01\t10:00");
    EXPECT_EQ(leggi(risposta), senzaDichiarazione(rispostaServizio()));

    for (const fs::path& cartella : {studio.xml(), studio.xml() / "inviati",
                                     studio.xml() / "risposte", studio.xml() / "no_conn"}) {
        EXPECT_EQ(permessi(cartella), 0700u) << cartella;
    }
    const fs::path nuovi[] = {studio.xml() / "inviati" / nome("AAA"),
                              studio.xml() / nome("BBB"),
                              studio.xml() / "risposte" / nome("BBB"),
                              studio.xml() / "no_conn" / nome("CCC"),
                              studio.xml() / (nome("DDD") + ".err"),
                              studio.kvt() / "log.txt",
                              studio.kvt() / "vd_kvt.lock"};
    for (const fs::path& file : nuovi) {
        EXPECT_EQ(permessi(file), 0600u) << file;
    }
    // Nothing is left behind under a temporary name.
    EXPECT_EQ(fileIn(studio.xml()), (std::vector<std::string>{nome("BBB"), nome("DDD") + ".err",
                                                              "RichiestaCaricamento.dtd"}));
    EXPECT_EQ(fileIn(studio.xml() / "risposte"),
              (std::vector<std::string>{nome("AAA"), nome("BBB"), "RispostaCaricamento.dtd",
                                        "dtdUnknown.dtd"}));
    EXPECT_EQ(fileIn(studio.kvt()),
              (std::vector<std::string>{"log.txt", "update_new.ini", "vd_kvt.lock"}));
}

TEST_F(InvioTest, ASecondProcessOnTheSameFolderIsToldAndDoesNothing) {
    studio.aggiungi({.codice = "1", .cognome = "ROSSI", .nome = "M", .codiceFiscale = "RSS"});
    int tubo[2];
    ASSERT_EQ(::pipe(tubo), 0);
    int pronto[2];
    ASSERT_EQ(::pipe(pronto), 0);
    const std::string blocco = (studio.kvt() / "vd_kvt.lock").string();
    const pid_t figlio = ::fork();
    ASSERT_GE(figlio, 0);
    if (figlio == 0) {
        // The other process: takes the lock, says so, and waits to be let go.
        const int descrittore = ::open(blocco.c_str(), O_RDWR | O_CREAT, 0600);
        const bool preso = descrittore >= 0 && ::flock(descrittore, LOCK_EX) == 0;
        const char esito = preso ? '1' : '0';
        (void)!::write(pronto[1], &esito, 1);
        char fine;
        (void)!::read(tubo[0], &fine, 1);
        ::_exit(0);
    }
    char esito = 0;
    ASSERT_EQ(::read(pronto[0], &esito, 1), 1);
    ASSERT_EQ(esito, '1');

    const std::vector<std::string> righe = esegui();

    EXPECT_EQ(righe,
              std::vector<std::string>{std::string(TfrmMain::kMessaggioCartellaOccupata) + kOra});
    EXPECT_EQ(finestre.messaggi, std::vector<std::string>{"Un altro invio è già in corso su questa "
                                                          "cartella."});
    EXPECT_EQ(finestra->ultimoEsito(), EsitoInvio::CartellaOccupata);
    EXPECT_EQ(finestra->contatori().nInviati + finestra->contatori().nScartati, 0);
    EXPECT_EQ(finestre.cambiClessidra, 0);
    EXPECT_FALSE(fs::exists(studio.xml()));
    EXPECT_TRUE(connettore.servizi.empty());
    EXPECT_FALSE(finestra->occupata());

    (void)!::write(tubo[1], "x", 1);
    int stato = 0;
    ::waitpid(figlio, &stato, 0);
    for (const int descrittore : {tubo[0], tubo[1], pronto[0], pronto[1]}) {
        ::close(descrittore);
    }

    esegui();
    EXPECT_EQ(finestra->ultimoEsito(), EsitoInvio::Completato);
    EXPECT_EQ(finestra->contatori().nInviati, 1);
}

// Working folders another user could tamper with, or that cannot be locked,
// hold no run: the command stops with the reason and touches nothing.
TEST_F(InvioTest, AFolderOthersCanWriteOrThatCannotBeLockedHoldsNoRun) {
    studio.aggiungi({.codice = "1", .cognome = "PRIMO", .nome = "P", .codiceFiscale = "PPP"});
    const struct {
        std::function<void()> prepara;
        const char* motivo;
    } casi[] = {
        {[&] { fs::permissions(studio.kvt(), fs::perms::others_write, fs::perm_options::add); },
         "è scrivibile da altri utenti (chmod 700)"},
        {[&] {
             fs::permissions(studio.kvt(), fs::perms::others_write, fs::perm_options::remove);
             fs::create_symlink(studio.radice() / "altrove", studio.kvt() / kFileBlocco);
         },
         "impossibile bloccare la cartella "},
    };
    for (const auto& caso : casi) {
        caso.prepara();
        finestre.messaggi.clear();
        const std::vector<std::string> righe = esegui();
        ASSERT_EQ(righe.size(), 1u) << caso.motivo;
        EXPECT_EQ(righe[0].rfind(TfrmMain::kMessaggioCartellaNonUsabile, 0), 0u) << righe[0];
        EXPECT_NE(righe[0].find(caso.motivo), std::string::npos) << righe[0];
        EXPECT_EQ(finestre.messaggi.size(), 1u);
        EXPECT_EQ(finestra->ultimoEsito(), EsitoInvio::CartellaNonUsabile);
        EXPECT_FALSE(fs::exists(studio.xml()));
        EXPECT_TRUE(connettore.servizi.empty());
    }
    // Neither the lock nor the log follows the link to write elsewhere.
    EXPECT_FALSE(fs::exists(studio.radice() / "altrove"));
    fs::remove(studio.kvt() / "log.txt");
    fs::create_symlink(studio.radice() / "altrove", studio.kvt() / "log.txt");
    EXPECT_THROW(accodaAFile(paths::toUtf8(studio.kvt() / "log.txt"), "x"), std::system_error);
    EXPECT_FALSE(fs::exists(studio.radice() / "altrove"));
}

TEST_F(InvioTest, ACommandClickedWhileARunIsInProgressIsIgnored) {
    studio.aggiungi({.codice = "1", .cognome = "PRIMO", .nome = "P", .codiceFiscale = "PPP"});
    studio.aggiungi({.codice = "2", .cognome = "SECONDO", .nome = "S", .codiceFiscale = "SSS"});
    int durante = 0;
    finestre.inAttesa = [&] {
        EXPECT_TRUE(finestra->occupata());
        ++durante;
        finestra->cmdInvioClick();
        finestra->cmdExitClick();
    };

    const std::vector<std::string> righe = esegui();

    EXPECT_EQ(durante, 2);
    EXPECT_EQ(cheIniziano(righe, "START").size(), 1u);
    EXPECT_EQ(cheIniziano(righe, "cmdExitClick").size(), 0u);
    EXPECT_FALSE(finestra->chiusa());
    EXPECT_EQ(finestra->contatori().nInviati, 2);
    EXPECT_EQ(finestre.messaggi.size(), 1u);

    finestre.inAttesa = nullptr;
    finestra->cmdExitClick();
    EXPECT_TRUE(finestra->chiusa());
}

}  // namespace
}  // namespace kvt::test
