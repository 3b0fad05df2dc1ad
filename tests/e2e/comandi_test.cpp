// The operator's commands clicked by the unattended command line, with the
// host stand-in, LKlib.so and kvt-collector.
#include <ctime>

#include "connector/connector_texts.h"
#include "e2e/e2e_support.h"

namespace kvt::e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

class Comandi : public E2e {
  protected:
    void SetUp() override {
        E2e::SetUp();
        generaPratica(20);
    }

    std::string prefissoXml() const { return percorso(xml()) + piattaforma().separatore(); }

    // The log from the last start of the program on.
    std::string ultimaSessione() const {
        const std::string testo = leggiLog();
        const std::size_t inizio = testo.rfind("FormCreate - ");
        return inizio == std::string::npos ? testo : testo.substr(inizio);
    }

    // The five reset lines of the log, in order.
    std::vector<std::string> righeReset(const std::string& testo) const {
        std::vector<std::string> trovate;
        for (const std::string& riga : righe(testo)) {
            if (riga.rfind("---Reset: file xml cancellati ", 0) == 0) {
                trovate.push_back(riga.substr(0, riga.find(" - ")));
            }
        }
        return trovate;
    }

    std::vector<std::string> resetAttesi(int xmlN, int errN, int inviatiN, int noConnN,
                                         int risposteN) const {
        const std::string base = "---Reset: file xml cancellati " + prefissoXml();
        const char sep = piattaforma().separatore();
        return {base + "*.xml:" + std::to_string(xmlN), base + "*.err:" + std::to_string(errN),
                base + "inviati" + sep + "*.xml:" + std::to_string(inviatiN),
                base + "no_conn" + sep + "*.xml:" + std::to_string(noConnN),
                base + "risposte" + sep + "*.xml:" + std::to_string(risposteN)};
    }
};

TEST_F(Comandi, NuovoInvioOnEmptyFoldersResetsThenRuns) {
    avviaCollettore();
    const Esito esito = comandi({"--nuovo-invio"});
    ASSERT_TRUE(esito.stato.has_value());
    const Riepilogo riepilogo = leggiRiepilogo(esito.uscita);
    ASSERT_TRUE(riepilogo.letto()) << esito.uscita << esito.errore;
    EXPECT_EQ(*esito.stato, riepilogo.errori() > 0 ? 3 : 0) << esito.errore;
    EXPECT_GT(riepilogo.inviati, 0);

    const std::string testo = leggiLog();
    EXPECT_EQ(righeReset(testo), resetAttesi(0, 0, 0, 0, 0));
    // The reset comes right before the run's checks and start line.
    const std::size_t ultimoReset =
        testo.find(std::string("risposte") + piattaforma().separatore() + "*.xml:0");
    EXPECT_LT(ultimoReset, testo.find("cmdEstraiClick"));
    EXPECT_LT(testo.find("cmdEstraiClick"), testo.find("START - Pazienti totali: "));
    EXPECT_EQ(fileIn(xml() / "inviati", "_kvt.xml").size(),
              static_cast<std::size_t>(riepilogo.inviati));
}

TEST_F(Comandi, NuovoInvioAfterACompletedSendingSkipsPatientsNotVisitedSince) {
    avviaCollettore();
    const Esito prima = comandi({"--nuovo-invio"});
    const Riepilogo primo = leggiRiepilogo(prima.uscita);
    ASSERT_TRUE(primo.letto()) << prima.errore;
    ASSERT_GT(primo.inviati, 0);
    const std::size_t ricevuti = fileIn(archivio(), ".xml").size();

    const Esito dopo = comandi({"--nuovo-invio"});
    const Riepilogo secondo = leggiRiepilogo(dopo.uscita);
    ASSERT_TRUE(secondo.letto()) << dopo.errore;
    const std::string testo = leggiLog();
    // The accepted files of the first sending were reset ...
    EXPECT_EQ(righeReset(testo)[2], resetAttesi(0, 0, primo.inviati, 0, 0)[2]);
    // ... but their patients, not visited since, count as already sent; only
    // patients without visits (last visit "now") are sent again.
    const int nonVisitati = conta(testo, " INVIATO_PREC ( già inviato. Non visitato/modificato )");
    EXPECT_GT(secondo.giaInviati, 0);
    EXPECT_EQ(secondo.giaInviati, nonVisitati);
    EXPECT_EQ(secondo.giaInviati + secondo.inviati, primo.inviati);
    EXPECT_EQ(fileIn(archivio(), ".xml").size(), ricevuti);
}

TEST_F(Comandi, RiprendiSendsNothingNewThenANewVisitSendsThatPatientAgain) {
    avviaCollettore();
    const Riepilogo primo = leggiRiepilogo(comandi({"--nuovo-invio"}).uscita);
    ASSERT_TRUE(primo.letto());
    ASSERT_GT(primo.inviati, 0);
    const Riepilogo ripreso = leggiRiepilogo(comandi({"--riprendi"}).uscita);
    EXPECT_EQ(ripreso.inviati, 0);
    EXPECT_EQ(ripreso.giaInviati, primo.inviati);

    // One accepted patient comes back for a visit today.
    const std::string nome = fileIn(xml() / "inviati", "_kvt.xml").front();
    const std::string codiceFiscale = nome.substr(0, nome.size() - std::string("_kvt.xml").size());
    const std::time_t adesso = std::time(nullptr);
    char oggi[16];
    std::strftime(oggi, sizeof oggi, "%Y-%m-%d", std::localtime(&adesso));
    sql("INSERT INTO cart_visite(codice, data_open, ora) SELECT codice, '" + std::string(oggi) +
        "', '00:01' FROM pazienti WHERE codice_fiscale = '" + codiceFiscale + "';");
    const std::size_t ricevutiPrima = fileIn(archivio(), ".xml").size();
    const Riepilogo dopo = leggiRiepilogo(comandi({"--nuovo-invio"}).uscita);
    ASSERT_TRUE(dopo.letto());
    EXPECT_GE(dopo.inviati, 1);
    EXPECT_EQ(dopo.inviati + dopo.giaInviati, primo.inviati);
    EXPECT_TRUE(fs::exists(xml() / "inviati" / nome));
    EXPECT_THAT(leggi(kvt() / "update_new.ini"), HasSubstr(codiceFiscale + "=" + oggi + "\t00:01"));
    // The service keeps the latest upload per pseudonym: nobody new arrived.
    EXPECT_EQ(fileIn(archivio(), ".xml").size(), ricevutiPrima);
}

// Codes a host really hands over: a padded column of blanks, path tricks,
// Windows device names, texts that would break the last-visit file, a line
// break that would forge a log line, and one patient's code spelt otherwise.
TEST_F(Comandi, AwkwardFiscalCodesNeverStopTheRunNorShareAPseudonym) {
    avviaCollettore();
    const struct {
        const char* valore;  // SQL expression
        std::string nelLog;  // what the log says of the patient
    } codici[] = {
        {"'                '", "SCARTATO (non inviabile perchè privo di codice fiscale) " +
                                   prefissoXml() + "                _kvt.xml"},
        {"'..' || char(92) || '../FUORI'",
         "SCARTATO (codice fiscale non valido come nome di file) "
         "..\\../FUORI"},
        {"'NUL.1'",
         "SCARTATO (codice fiscale non valido come nome di file: è un nome di "
         "dispositivo di Windows) NUL.1"},
        {"'con.x'", "è un nome di dispositivo di Windows) con.x"},
        {"'RSS=MRA'",
         "SCARTATO (codice fiscale non valido come chiave del file delle visite) "
         "RSS=MRA"},
        {"';RSSMRA'", "come chiave del file delle visite) ;RSSMRA"},
        {"'[RSSMRA'", "come chiave del file delle visite) [RSSMRA"},
        {"'RSS' || char(10) || 'FINTA'", "come nome di file) RSS\\x0AFINTA"},
        {"(SELECT lower(codice_fiscale) FROM pazienti WHERE codice_medico = 'MMG001' AND "
         "tipo_di_convenzione = 'S' AND trim(codice_fiscale) <> '' ORDER BY codice DESC LIMIT 1)",
         "scritto con maiuscole o spazi diversi)"},
    };
    // The first patients of the doctor with a usable code take the awkward ones.
    const auto pazienti =
        sql("SELECT codice FROM pazienti WHERE codice_medico = 'MMG001' AND tipo_di_convenzione = "
            "'S' AND trim(codice_fiscale) <> '' ORDER BY codice LIMIT " +
            std::to_string(std::size(codici)) + ";");
    ASSERT_EQ(pazienti.size(), std::size(codici));
    for (std::size_t i = 0; i < std::size(codici); ++i) {
        sql("UPDATE pazienti SET codice_fiscale = " + std::string(codici[i].valore) +
            " WHERE codice = '" + pazienti[i][0] + "';");
    }

    const Esito primo = comandi({"--nuovo-invio"});
    const Riepilogo riepilogo = leggiRiepilogo(primo.uscita);
    ASSERT_TRUE(riepilogo.letto()) << primo.errore;
    EXPECT_GT(riepilogo.inviati, 0);
    EXPECT_GE(riepilogo.scartati, static_cast<int>(std::size(codici)));
    const std::string log = leggiLog();
    for (const auto& codice : codici) {
        EXPECT_EQ(conta(log, codice.nelLog), 1) << codice.nelLog;
    }
    for (const std::string& riga : righe(log)) {
        EXPECT_THAT(riga, Not(StartsWith("FINTA")));
    }
    for (const auto& voce : fs::recursive_directory_iterator(lavoro())) {
        EXPECT_THAT(voce.path().filename().string(), Not(HasSubstr("FUORI"))) << voce.path();
    }
    // SHA-1 of the empty text: the pseudonym every blank code would share.
    for (const std::string& ricevuto : fileIn(archivio(), ".xml")) {
        EXPECT_THAT(ricevuto, Not(HasSubstr("DA39A3EE5E6B4B0D3255BFEF95601890AFD80709")));
    }

    // Nothing stuck: a second run sends nothing again and ends as well.
    const Riepilogo secondo = leggiRiepilogo(comandi({"--riprendi"}).uscita);
    ASSERT_TRUE(secondo.letto());
    EXPECT_EQ(secondo.inviati, 0);
    EXPECT_EQ(secondo.giaInviati, riepilogo.inviati);
}

TEST_F(Comandi, ASecondProgramOnTheSameFolderIsTurnedAway) {
    avviaCollettore({"delay=300"});
    auto primo = avvia({"--utente", kUtente, "--nuovo-invio"});
    const auto scadenza = std::chrono::steady_clock::now() + 60s;
    while (conta(leggiLog(), "Fase 2: #3 Risposta: OK") < 1 &&
           std::chrono::steady_clock::now() < scadenza && primo->vivo()) {
        std::this_thread::sleep_for(20ms);
    }
    const Esito secondo = comandi({"--riprendi"});
    EXPECT_EQ(secondo.stato, 3);
    EXPECT_THAT(secondo.errore, HasSubstr("Un altro invio è già in corso su questa cartella."));
    EXPECT_FALSE(leggiRiepilogo(secondo.uscita).letto());
    // The first goes on undisturbed to its end.
    EXPECT_TRUE(primo->attendi(180s).has_value());
    const Riepilogo riepilogo = leggiRiepilogo(primo->uscita());
    EXPECT_TRUE(riepilogo.letto());
    EXPECT_EQ(riepilogo.erroriInvio, 0);
    EXPECT_EQ(conta(leggiLog(), "Un altro invio è già in corso su questa cartella."), 1);
}

TEST_F(Comandi, NuovoInvioRemovesLeftoversOfEveryKindAndKeepsTheRest) {
    // Files of every kind a sending leaves, and files the reset must keep.
    scrivi(xml() / "RIFIUTATO01_kvt.xml", "x");
    scrivi(xml() / "RIFIUTATO02_kvt.XML", "x");
    scrivi(xml() / "MANCANTE01_kvt.xml.err", "x");
    scrivi(xml() / "inviati" / "A_kvt.xml", "x");
    scrivi(xml() / "inviati" / "B_kvt.xml", "x");
    scrivi(xml() / "inviati" / "C_kvt.xml", "x");
    scrivi(xml() / "no_conn" / "D_kvt.xml", "x");
    scrivi(xml() / "risposte" / "A_kvt.xml", "x");
    scrivi(xml() / "risposte" / "B_kvt.xml", "x");
    scrivi(xml() / "RichiestaCaricamento.dtd", "x");
    scrivi(xml() / "appunti.txt", "da tenere");
    scrivi(xml() / "risposte" / "appunti.xml.txt", "da tenere");
    fs::create_directories(xml() / "cartella.xml");
    scrivi(kvt() / "update_new.ini", "[data_visita]\r\nZZZZZZ00Z00Z000Z=2009-03-15\t10:30\r\n");

    collettoreSpento();
    const Esito esito = comandi({"--nuovo-invio"});
    ASSERT_TRUE(esito.stato.has_value()) << esito.errore;

    EXPECT_EQ(righeReset(leggiLog()), resetAttesi(2, 1, 3, 1, 2));
    EXPECT_FALSE(fs::exists(xml() / "RIFIUTATO01_kvt.xml"));
    EXPECT_FALSE(fs::exists(xml() / "RIFIUTATO02_kvt.XML"));
    EXPECT_FALSE(fs::exists(xml() / "MANCANTE01_kvt.xml.err"));
    EXPECT_FALSE(fs::exists(xml() / "inviati" / "A_kvt.xml"));
    EXPECT_FALSE(fs::exists(xml() / "no_conn" / "D_kvt.xml"));
    EXPECT_EQ(leggi(xml() / "appunti.txt"), "da tenere");
    EXPECT_EQ(leggi(xml() / "risposte" / "appunti.xml.txt"), "da tenere");
    EXPECT_TRUE(fs::is_directory(xml() / "cartella.xml"));
    EXPECT_TRUE(fs::exists(xml() / "RichiestaCaricamento.dtd"));
    EXPECT_THAT(leggi(kvt() / "update_new.ini"), HasSubstr("ZZZZZZ00Z00Z000Z=2009-03-15\t10:30"));
    // With the service down every built file waits for a connection.
    const Riepilogo riepilogo = leggiRiepilogo(esito.uscita);
    EXPECT_EQ(riepilogo.inviati, 0);
    EXPECT_GT(riepilogo.erroriInvio, 0);
    EXPECT_EQ(*esito.stato, 3);
    EXPECT_EQ(fileIn(xml() / "no_conn", "_kvt.xml").size(),
              static_cast<std::size_t>(riepilogo.erroriInvio));
}

TEST_F(Comandi, NuovoInvioRotatesTheLog) {
    scrivi(kvt() / "log.txt", "riga del vecchio log\r\n");
    scrivi(kvt() / "log_old.txt", "riga del log ancora più vecchio\r\n");
    collettoreSpento();
    comandi({"--nuovo-invio"});

    const std::string vecchio = leggiLog(kvt() / "log_old.txt");
    EXPECT_THAT(vecchio, StartsWith("riga del vecchio log\r\n"));
    // The window's creation came before the click: its lines end the old log.
    EXPECT_THAT(vecchio, HasSubstr("FormCreate - vd_kvt versione 1.46"));
    EXPECT_THAT(vecchio, Not(HasSubstr("ancora più vecchio")));
    EXPECT_THAT(vecchio, Not(HasSubstr("Reset")));
    EXPECT_THAT(leggiLog(),
                StartsWith("---Reset: file xml cancellati " + prefissoXml() + "*.xml:0 - "));
}

TEST_F(Comandi, RiprendiContinuesAnInterruptedSending) {
    // A slow service, so that the sending can be cut in the middle.
    avviaCollettore({"delay=150"});
    auto processo = avvia({"--utente", kUtente, "--nuovo-invio"});
    const auto scadenza = std::chrono::steady_clock::now() + 60s;
    // Cut once three uploads are filed as accepted (the answer's log line
    // comes just before the filing, which under Wine can take a moment).
    while (fileIn(xml() / "inviati", "_kvt.xml").size() < 3 &&
           std::chrono::steady_clock::now() < scadenza && processo->vivo()) {
        std::this_thread::sleep_for(20ms);
    }
    processo->uccidi();
    const std::vector<std::string> giaAccettati = fileIn(xml() / "inviati", "_kvt.xml");
    ASSERT_GE(giaAccettati.size(), 3u);
    ASSERT_THAT(leggiLog(), Not(HasSubstr("Procedura terminata.")));

    avviaCollettore();
    const Esito ripresa = comandi({"--riprendi"});
    const Riepilogo riepilogo = leggiRiepilogo(ripresa.uscita);
    ASSERT_TRUE(riepilogo.letto()) << ripresa.errore;
    const std::string testo = leggiLog();
    // No reset; the patients accepted before the cut are passed over ...
    EXPECT_THAT(testo.substr(testo.rfind("FormCreate")), Not(HasSubstr("Reset")));
    EXPECT_EQ(conta(testo, " INVIATO_PREC (già inviato )  "),
              static_cast<int>(giaAccettati.size()));
    EXPECT_GE(riepilogo.giaInviati, static_cast<int>(giaAccettati.size()));
    EXPECT_GT(riepilogo.inviati, 0);
    // ... and stay where they were, beside those accepted now.
    for (const std::string& nome : giaAccettati) {
        EXPECT_TRUE(fs::exists(xml() / "inviati" / nome)) << nome;
    }
    EXPECT_EQ(fileIn(xml() / "inviati", "_kvt.xml").size(),
              giaAccettati.size() + static_cast<std::size_t>(riepilogo.inviati));
}

TEST_F(Comandi, TestLineaWithTheServiceUpAndDown) {
    avviaCollettore();
    const Esito su = comandi({"--test-linea"});
    EXPECT_EQ(su.stato, 0) << su.errore;
    EXPECT_THAT(su.errore, HasSubstr("Connessione stabilita con successo."));
    EXPECT_THAT(leggiLog(), HasSubstr("...test connessione: 0 = " + descriviCodice(0) + " - "));

    collettoreSpento();
    const Esito giu = comandi({"--test-linea"});
    EXPECT_EQ(giu.stato, 3);
    EXPECT_THAT(giu.errore, HasSubstr("Errore Connessione: 6 = " + descriviCodice(6)));
    EXPECT_THAT(leggiLog(), HasSubstr("...test connessione: 6 = " + descriviCodice(6) + " - "));
    // No upload file was touched by a line test.
    EXPECT_FALSE(fs::exists(xml()));
}

class InvioSingolo : public Comandi {
  protected:
    static constexpr const char* kNome = "AAAAAA00A00A000A_kvt.xml";

    // An upload file the service accepts, built by a sending while the service
    // was down, placed as the fixed file of the single send.
    void preparaFileFisso() {
        collettoreSpento();
        comandi({"--nuovo-invio"});
        const std::vector<std::string> inAttesa = fileIn(xml() / "no_conn", "_kvt.xml");
        ASSERT_FALSE(inAttesa.empty());
        contenuto_ = leggi(xml() / "no_conn" / inAttesa.front());
        scrivi(xml() / kNome, contenuto_);
    }
    std::string contenuto_;
};

TEST_F(InvioSingolo, AcceptedFileMovesToInviatiWithoutLastVisit) {
    preparaFileFisso();
    avviaCollettore();
    const Esito esito = comandi({"--invio-singolo"});
    EXPECT_EQ(esito.stato, 0) << esito.errore;
    EXPECT_FALSE(fs::exists(xml() / kNome));
    EXPECT_EQ(leggi(xml() / "inviati" / kNome), contenuto_);
    EXPECT_TRUE(fs::exists(xml() / "risposte" / kNome));
    EXPECT_THAT(leggi(kvt() / "update_new.ini"), Not(HasSubstr("AAAAAA00A00A000A")));
    EXPECT_EQ(leggiRiepilogo(esito.uscita).letto(), false);  // no run, no summary
    EXPECT_THAT(fileIn(archivio(), ".xml"), Not(IsEmpty()));
}

TEST_F(InvioSingolo, WithoutConnectionTheFileWaitsInNoConn) {
    preparaFileFisso();
    const Esito esito = comandi({"--invio-singolo"});
    EXPECT_EQ(esito.stato, 3);
    EXPECT_FALSE(fs::exists(xml() / kNome));
    EXPECT_EQ(leggi(xml() / "no_conn" / kNome), contenuto_);
    // Without the debug switch the outcome is only in the log.
    EXPECT_THAT(esito.errore, Not(HasSubstr("Errore invio/risposta")));
    EXPECT_THAT(ultimaSessione(), HasSubstr("Fase 2: #1 connessione: 6 = "));
}

TEST_F(InvioSingolo, AFileAlreadyWaitingIsKeptAndTheNewOneStays) {
    preparaFileFisso();
    scrivi(xml() / "no_conn" / kNome, "in attesa da prima");
    const Esito esito = comandi({"--debug", "--invio-singolo"});
    EXPECT_EQ(esito.stato, 3);
    EXPECT_EQ(leggi(xml() / "no_conn" / kNome), "in attesa da prima");
    EXPECT_EQ(leggi(xml() / kNome), contenuto_);
    // The debug switch shows the failure with the file and the error text.
    EXPECT_THAT(esito.errore, HasSubstr("Errore invio/risposta del tracciato corrente."));
    EXPECT_THAT(esito.errore, HasSubstr(prefissoXml() + kNome));
    EXPECT_THAT(esito.errore, HasSubstr("Log:\nErrConnessione: "));
}

TEST_F(Comandi, CommandsRunInTheOrderGiven) {
    avviaCollettore();
    const Esito esito = comandi({"--test-linea", "--nuovo-invio", "--riprendi"});
    ASSERT_TRUE(esito.stato.has_value()) << esito.errore;
    // The reset moved the log of the line test to log_old.txt.
    const std::string testo = leggiLog(kvt() / "log_old.txt") + leggiLog();
    const std::size_t test = testo.find("...test connessione: 0");
    const std::size_t reset = testo.find("---Reset:");
    const std::size_t riprendi = testo.rfind("START - Pazienti totali:");
    EXPECT_LT(test, reset);
    EXPECT_LT(reset, riprendi);
    EXPECT_EQ(conta(esito.uscita, "Procedura terminata."), 2);
    // The resumed run found everything accepted or skipped.
    const std::string secondo = esito.uscita.substr(esito.uscita.rfind("Procedura terminata."));
    EXPECT_THAT(secondo, HasSubstr("\nInviati: 0\n"));
}

}  // namespace
}  // namespace kvt::e2e
