// The upload run end to end: the host stand-in's practice, the connector
// client library LKlib.so and kvt-collector started as a child process on
// 127.0.0.1. Each test is bounded by CTest's time-out; the one that waits for
// a late answer hands the connector a time-out of one second (see
// ConnettoreVero), so it takes seconds, not the 90 of the setting.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "app/frm_main.h"
#include "app_support.h"
#include "collettore.h"
#include "common/general_functions.h"
#include "common/xml_document.h"
#include "peers/vellodoc/sqlite_db.h"

namespace kvt::test {
namespace {

// The connector client library itself, with two changes a test needs: the
// options dialog is not opened, and the query's time-out can be capped (the
// time-out the program asked for is kept).
class ConnettoreVero final : public Connettore {
  public:
    void config() override { ++configurazioni; }
    int connect(const std::string& servizio, const std::string& secondo) override {
        ++connessioni;
        return connettoreLKlib().connect(servizio, secondo);
    }
    std::string query(const std::string& richiesta, int n, int timeoutSecondi) override {
        timeoutChiesti.push_back(timeoutSecondi);
        return connettoreLKlib().query(richiesta, n, std::min(timeoutSecondi, limiteSecondi));
    }
    int getError() override { return connettoreLKlib().getError(); }
    int disconnect() override { return connettoreLKlib().disconnect(); }

    int limiteSecondi = 1000;
    int configurazioni = 0;
    int connessioni = 0;
    std::vector<int> timeoutChiesti;
};

class InvioE2eTest : public ::testing::Test {
  protected:
    void SetUp() override { studio.scriviRegistro(); }
    void TearDown() override { finestra.reset(); }

    TfrmMain& apri() {
        finestra = std::make_unique<TfrmMain>(studio.programma(), &studio.host(), &connettore);
        finestra->setPausaTraPazienti(std::chrono::milliseconds(0));
        return *finestra;
    }
    void puntaA(const std::string& url) {
        studio.url = url;
        studio.scriviRegistro();
    }
    std::vector<std::string> esegui() {
        const std::size_t prima = righeLog(studio.kvt() / "log.txt").size();
        finestra->cmdInvioClick();
        const std::vector<std::string> righe = righeLog(studio.kvt() / "log.txt");
        return std::vector<std::string>(righe.begin() + static_cast<std::ptrdiff_t>(prima),
                                        righe.end());
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
    void aggiungi(int quanti) {
        for (int i = 1; i <= quanti; ++i) {
            const std::string n = std::to_string(i);
            studio.aggiungi({.codice = n,
                             .cognome = "PAZIENTE" + std::string(1, static_cast<char>('A' + i)),
                             .nome = "N",
                             .codiceFiscale = "CF" + n});
            studio.aggiungiVisita(n, "2009-03-1" + std::to_string(i % 10), "10:00");
        }
    }

    FinestreDiProva finestre;
    Studio studio;
    ConnettoreVero connettore;
    std::unique_ptr<TfrmMain> finestra;
};

std::string pseudonimo(const fs::path& caricamento) {
    XmlDocument documento;
    if (!documento.load(caricamento)) {
        return {};
    }
    return documento.selectSingleNode("//trxCodFiscaleAssistito").text();
}

TEST_F(InvioE2eTest, APracticeOf200IsSentWholeAndASecondRunSendsNothing) {
    studio.generaPratica(200, 20090315);
    Collettore collettore(studio.radice() / "archivio");
    puntaA(collettore.url());
    apri();

    esegui();

    ASSERT_EQ(finestra->ultimoEsito(), EsitoInvio::Completato);
    const Contatori primo = finestra->contatori();
    // What the host lists for the doctor, in the run's order.
    std::vector<std::string> codici;
    vellodoc::Statement elenco = studio.database().prepare(
        "SELECT COALESCE(codice_fiscale, '') FROM pazienti WHERE codice_medico = 'MMG001' AND "
        "tipo_di_convenzione = 'S'");
    while (elenco.step()) {
        codici.emplace_back(elenco.text(0));
    }
    ASSERT_GE(codici.size(), 150u);
    EXPECT_EQ(finestra->pBar.max(), static_cast<int>(codici.size()));

    int senzaCodice = 0, inviati = 0, err = 0;
    for (const std::string& codice : codici) {
        SCOPED_TRACE(codice);
        if (codice.empty()) {
            ++senzaCodice;
            continue;
        }
        const std::string nome = codice + "_kvt.xml";
        const bool inviato = fs::exists(studio.xml() / "inviati" / nome);
        const bool marcato = fs::exists(studio.xml() / (nome + ".err"));
        EXPECT_NE(inviato, marcato);  // exactly one of the two
        EXPECT_FALSE(fs::exists(studio.xml() / nome));
        EXPECT_FALSE(fs::exists(studio.xml() / "no_conn" / nome));
        if (inviato) {
            ++inviati;
            // The collector holds exactly what was filed as sent.
            const fs::path file = studio.xml() / "inviati" / nome;
            const std::string chiave = pseudonimo(file);
            ASSERT_EQ(chiave.size(), 40u);
            EXPECT_EQ(leggi(collettore.archivio() / (chiave + ".xml")), leggi(file));
            EXPECT_TRUE(fs::exists(studio.xml() / "risposte" / nome));
            EXPECT_TRUE(
                testoADataOra(leggiIni(studio.kvt() / "update_new.ini", "data_visita", codice))
                    .valida);
        } else {
            ++err;
        }
    }
    EXPECT_GT(inviati, 0);
    EXPECT_EQ(primo.nInviati, inviati);
    EXPECT_EQ(primo.nErroriCreazione, err);
    EXPECT_EQ(primo.nScartati, senzaCodice);
    EXPECT_EQ(primo.nGiaInviati, 0);
    EXPECT_EQ(primo.nErroriInvio, 0);
    EXPECT_EQ(fileIn(collettore.archivio(), ".xml").size(), static_cast<std::size_t>(inviati));

    // Right after: nothing is sent, every sent patient counts as already sent.
    std::map<std::string, fs::file_time_type> archiviati;
    for (const std::string& nome : fileIn(collettore.archivio(), ".xml")) {
        archiviati[nome] = fs::last_write_time(collettore.archivio() / nome);
    }
    const int connessioniPrima = connettore.connessioni;
    esegui();
    const Contatori secondo = finestra->contatori();
    EXPECT_EQ(connettore.connessioni, connessioniPrima);
    EXPECT_EQ(secondo.nInviati, 0);
    EXPECT_EQ(secondo.nGiaInviati, inviati);
    EXPECT_EQ(secondo.nScartati, senzaCodice + err);
    EXPECT_EQ(secondo.nErroriCreazione, 0);
    EXPECT_EQ(secondo.nErroriInvio, 0);
    for (const auto& [nome, quando] : archiviati) {
        EXPECT_EQ(fs::last_write_time(collettore.archivio() / nome), quando) << nome;
    }
}

TEST_F(InvioE2eTest, EachKindOfAnswerOfTheServiceIsFiledByTheRules) {
    aggiungi(7);
    Collettore collettore(studio.radice() / "archivio",
                          {"refuse-patient@1", "refuse-request@2", "malformed@3", "no-codes@4",
                           "status=503@5", "drop@6"});
    puntaA(collettore.url());
    apri();

    const std::vector<std::string> righe = esegui();

    const std::vector<std::string> risposte = cheIniziano(righe, "Fase 2: #3 Risposta: ");
    ASSERT_EQ(risposte.size(), 5u);
    EXPECT_EQ(risposte[0].rfind("Fase 2: #3 Risposta: KO - CodiceErrore: 290 - ", 0), 0u);
    EXPECT_EQ(risposte[1].rfind("Fase 2: #3 Risposta: KO+ - CodiceErrore: 190 - ", 0), 0u);
    EXPECT_EQ(risposte[2].rfind("Fase 2: #3 Risposta: KO+ - CodiceErrore: ", 0), 0u);
    EXPECT_EQ(risposte[3].rfind("Fase 2: #3 Risposta: KO+ - CodiceErrore: empty - "
                                "DescrizioneErrore: empty - ",
                                0),
              0u);
    EXPECT_EQ(risposte[4].rfind("Fase 2: #3 Risposta: OK - ", 0), 0u);
    const std::vector<std::string> invii = cheIniziano(righe, "Fase 2: #2 Invio: ");
    ASSERT_EQ(invii.size(), 7u);
    EXPECT_EQ(invii[4].rfind("Fase 2: #2 Invio: 21 = ERR_NOSVC: servizio non disponibile - ", 0),
              0u);
    EXPECT_EQ(invii[5].rfind("Fase 2: #2 Invio: 27 = ERR_DROP: client remoto disconnesso - ", 0),
              0u);

    EXPECT_EQ(fileIn(studio.xml(), ".xml").size(), 6u);
    EXPECT_EQ(fileIn(studio.xml() / "inviati", ".xml"), std::vector<std::string>{"CF7_kvt.xml"});
    EXPECT_EQ(fileIn(studio.xml() / "risposte", ".xml").size(), 5u);
    // (Some faults answer badly after storing: the service may hold more
    // than was accepted, never less.)
    const fs::path accettato = studio.xml() / "inviati" / "CF7_kvt.xml";
    EXPECT_EQ(leggi(collettore.archivio() / (pseudonimo(accettato) + ".xml")), leggi(accettato));
    EXPECT_EQ(finestra->contatori().nErroriInvio, 6);
    EXPECT_EQ(finestra->contatori().nInviati, 1);
}

TEST_F(InvioE2eTest, WithoutAConnectionFilesWaitAndAreTakenBackWhenTheServiceIsThere) {
    aggiungi(3);
    puntaA("http://127.0.0.1:" + std::to_string(portaChiusa()));
    apri();

    std::vector<std::string> righe = esegui();

    EXPECT_EQ(
        cheIniziano(righe, "Fase 2: #1 connessione: 6 = ERR_CONNECT: connessione fallita").size(),
        3u);
    EXPECT_EQ(fileIn(studio.xml() / "no_conn", ".xml").size(), 3u);
    EXPECT_EQ(finestra->contatori().nErroriInvio, 3);
    const std::string attesa = leggi(studio.xml() / "no_conn" / "CF2_kvt.xml");

    Collettore collettore(studio.radice() / "archivio");
    puntaA(collettore.url());
    righe = esegui();

    EXPECT_EQ(cheIniziano(righe, "Fase 1: paz2  NOCONN (recupero xml precedente) ").size(), 1u);
    EXPECT_TRUE(cheIniziano(righe, "Fase 1: creaTracciato").empty());
    EXPECT_EQ(fileIn(studio.xml() / "inviati", ".xml").size(), 3u);
    EXPECT_TRUE(fileIn(studio.xml() / "no_conn", ".xml").empty());
    EXPECT_EQ(leggi(studio.xml() / "inviati" / "CF2_kvt.xml"), attesa);
    EXPECT_EQ(fileIn(collettore.archivio(), ".xml").size(), 3u);
    EXPECT_EQ(finestra->contatori().nInviati, 3);
}

TEST_F(InvioE2eTest, AnAnswerLaterThanTheTimeOutIsAFailedSending) {
    aggiungi(1);
    Collettore collettore(studio.radice() / "archivio", {"delay=4000"});
    puntaA(collettore.url());
    apri();
    connettore.limiteSecondi = 1;

    const std::vector<std::string> righe = esegui();

    EXPECT_EQ(connettore.timeoutChiesti, std::vector<int>{90});
    EXPECT_EQ(cheIniziano(righe, "Fase 2: #2 Invio: 8 = ERR_TIMEOUT: mancata risposta").size(), 1u);
    EXPECT_EQ(fileIn(studio.xml(), ".xml"), std::vector<std::string>{"CF1_kvt.xml"});
    EXPECT_TRUE(fileIn(studio.xml() / "risposte", ".xml").empty());
    EXPECT_EQ(finestra->contatori().nErroriInvio, 1);
}

}  // namespace
}  // namespace kvt::test
