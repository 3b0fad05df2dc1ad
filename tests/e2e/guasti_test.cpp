// Fault runs: an unattended sending of a generated practice while the
// collector answers badly, goes away in the middle, or the program's own
// folders, log, file size limit or host fail. Whatever the fault, the run
// goes on to its summary, files every patient as the run's rules say, prints
// counters that agree with the folders, and loses nothing: once the fault is
// gone, a later sending brings every patient with data to the collector.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "connector/connector_texts.h"
#include "e2e/guasti_support.h"

namespace kvt::e2e {
namespace {

using ::testing::HasSubstr;

// "Fase 2: #2 Invio: 27 = ERR_..." and the like, for a connector result.
std::string rigaInvio(int codice) {
    return "Fase 2: #2 Invio: " + std::to_string(codice) + " = " + descriviCodice(codice);
}
std::string rigaConnessione(int codice) {
    return "Fase 2: #1 connessione: " + std::to_string(codice) + " = " + descriviCodice(codice);
}

// Which requests a fault option hits, by the collector's documented rule:
// every one, the n-th ("@N"), or an even share ("@P%": 50% hits the 2nd,
// 4th, ...).
bool colpisce(const std::string& opzione, int k) {
    const std::size_t chiocciola = opzione.find('@');
    if (chiocciola == std::string::npos) {
        return true;
    }
    const std::string quando = opzione.substr(chiocciola + 1);
    if (quando.back() == '%') {
        const int quota = std::stoi(quando);
        return (k * quota) / 100 > ((k - 1) * quota) / 100;
    }
    return k == std::stoi(quando);
}

// Faults after which the collector keeps the upload although its answer goes
// wrong (the others refuse it or never read it).
bool archivia(const std::string& opzione) {
    static const char* const kArchivianti[] = {"delay",    "drop",  "malformed",
                                               "no-codes", "stall", "oversize"};
    return std::any_of(std::begin(kArchivianti), std::end(kArchivianti),
                       [&](const char* tipo) { return opzione.rfind(tipo, 0) == 0; });
}

// How many of the first `richieste` requests some option hits (the first
// option that hits a request wins); with `archiviati`, only those after
// which the collector kept the upload.
int colpiti(const std::vector<std::string>& opzioni, int richieste, bool archiviati = false) {
    int n = 0;
    for (int k = 1; k <= richieste; ++k) {
        const auto primo = std::find_if(opzioni.begin(), opzioni.end(),
                                        [k](const std::string& o) { return colpisce(o, k); });
        n += primo != opzioni.end() && (!archiviati || archivia(*primo)) ? 1 : 0;
    }
    return n;
}

struct GuastoCollettore {
    const char* nome;
    std::vector<std::string> opzioni;
    // Each hit gives one log line beginning so (empty: only the general
    // failure line).
    std::string riga;
    // The fault hits the connection check: the upload waits in no_conn.
    bool sullaConnessione;
    // The fault makes the sending fail (a short delay does not).
    bool fallisce;
    // The connector's stall limit to set, in ms (0: default).
    int stallo;
};

// clang-format off
const GuastoCollettore kGuastiCollettore[] = {
    // name, options, log line of each hit, on the connection, fails, stall ms
    {"RifiutoPaziente", {"refuse-patient@50%"}, "Fase 2: #3 Risposta: KO - CodiceErrore: ", false, true, 0},
    {"RispostaCheFalsificaIlLog", {"forge-log@3"}, "Fase 2: #3 Risposta: KO - CodiceErrore: ", false, true, 0},
    {"RifiutoRichiesta", {"refuse-request@3"}, "Fase 2: #3 Risposta: KO+ - CodiceErrore: ", false, true, 0},
    {"RifiutoDiOgniRichiesta", {"refuse-patient"}, "Fase 2: #3 Risposta: KO - CodiceErrore: ", false, true, 0},
    {"RitardoEntroIlTempoLimite", {"delay=300@50%"}, "", false, false, 0},
    {"ConnessioneCaduta", {"drop@25%"}, rigaInvio(27), false, true, 0},
    {"RispostaMalformata", {"malformed@50%"}, "Fase 2: #3 Risposta: KO+ - CodiceErrore: ", false, true, 0},
    {"RispostaSenzaCodici", {"no-codes@2"}, "Fase 2: #3 Risposta: KO+ - CodiceErrore: empty - ", false, true, 0},
    {"Stato500", {"status=500@50%"}, rigaInvio(28), false, true, 0},
    {"Stato503", {"status=503@4"}, rigaInvio(21), false, true, 0},
    {"ConnessioneRifiutata503", {"connect-status=503@50%"}, rigaConnessione(21), true, true, 0},
    {"ConnessioneRifiutata404", {"connect-status=404"}, rigaConnessione(2), true, true, 0},
    {"SoloControlloDiConnessione", {"get-only@3"}, rigaInvio(27), false, true, 0},
    {"RispostaFerma", {"stall=4000@2"}, rigaInvio(8), false, true, 500},
    {"RispostaTroppoGrande", {"oversize@2"}, rigaInvio(24), false, true, 0},
    {"GuastiMescolati", {"drop@5", "malformed@7", "refuse-patient@25%"}, "", false, true, 0},
};
// clang-format on

// Test names and failure messages show the case by its name.
void PrintTo(const GuastoCollettore& guasto, std::ostream* uscita) {
    *uscita << guasto.nome;
}

class GuastiDelCollettore : public Guasti,
                            public ::testing::WithParamInterface<GuastoCollettore> {};

TEST_P(GuastiDelCollettore, RunGoesOnFilesByOutcomeAndLosesNothing) {
    const GuastoCollettore& guasto = GetParam();
    generaPratica(kPazienti);
    avviaCollettore(guasto.opzioni);
    if (guasto.stallo > 0) {
        impostaConnettore("\"StallTout\"=dword:" + [&] {
            char esadecimale[16];
            std::snprintf(esadecimale, sizeof esadecimale, "%08x", guasto.stallo);
            return std::string(esadecimale);
        }());
    }

    const Riepilogo riepilogo = invio("--nuovo-invio");
    ASSERT_TRUE(riepilogo.letto()) << ultimoEsito_.uscita << ultimoEsito_.errore;
    // Every upload built was sent once: the hits follow from that count.
    const int invii = riepilogo.inviati + riepilogo.erroriInvio;
    ASSERT_GT(invii, 10);
    const int attesi = guasto.fallisce ? colpiti(guasto.opzioni, invii) : 0;
    ASSERT_GT(attesi + (guasto.fallisce ? 0 : 1), 0);
    EXPECT_EQ(riepilogo.erroriInvio, attesi) << ultimoEsito_.errore;
    EXPECT_EQ(righeLog("Fase 2: Errore InviaXml:"), attesi);
    if (!guasto.riga.empty()) {
        EXPECT_EQ(righeLog(guasto.riga), attesi) << ultimaSessione();
    }
    // What the service says is shown, never obeyed: no line of its own, no
    // control character for a terminal.
    EXPECT_EQ(righeLog("Fase 2: #3 Risposta: OK - riga falsa"), 0);
    EXPECT_EQ(ultimaSessione().find_first_of("\x1b\x07"), std::string::npos);
    const StatoCartelle dopo = cartelle();
    EXPECT_EQ(dopo.noConn.size(), static_cast<std::size_t>(guasto.sullaConnessione ? attesi : 0));
    EXPECT_EQ(dopo.inAttesa.size(), static_cast<std::size_t>(guasto.sullaConnessione ? 0 : attesi));
    // Every failed exchange left its answer, or none, but never a stale one:
    // the store holds what was accepted, plus what the collector kept
    // although its answer went wrong.
    EXPECT_EQ(
        archiviati().size(),
        static_cast<std::size_t>(riepilogo.inviati +
                                 (guasto.fallisce ? colpiti(guasto.opzioni, invii, true) : 0)));

    // The fault removed: resuming takes back what waited for a connection and
    // passes over what was refused; a new sending brings the rest.
    avviaCollettore();
    const Riepilogo ripreso = invio("--riprendi");
    ASSERT_TRUE(ripreso.letto()) << ultimoEsito_.errore;
    EXPECT_EQ(ripreso.erroriInvio, 0);
    if (guasto.sullaConnessione) {
        EXPECT_EQ(ripreso.inviati, attesi);
        EXPECT_EQ(conta(ultimaSessione(), "NOCONN (recupero xml precedente)"), attesi);
        verificaTuttiArrivati(ripreso);
    } else {
        EXPECT_EQ(ripreso.inviati, 0);
        EXPECT_EQ(conta(ultimaSessione(), "SCARTATO (già tentato invio ma rifiutato dal server)"),
                  attesi);
        verificaTuttiArrivati(invio("--nuovo-invio"));
    }
}

INSTANTIATE_TEST_SUITE_P(Guasti, GuastiDelCollettore, ::testing::ValuesIn(kGuastiCollettore),
                         [](const auto& info) { return std::string(info.param.nome); });

// Faults of the program's own side: folders that cannot be written, the file
// size limit, the log taken away, the host failing.
class GuastiLocali : public Guasti {
  protected:
    void SetUp() override {
        Guasti::SetUp();
        generaPratica(kPazienti);
    }

    // Folder permissions bind the program only without the privilege to
    // override them: as root, vd_kvt runs without that capability.
    void senzaPrivilegi() {
        if (::geteuid() != 0) {
            return;
        }
        const std::vector<std::string> setpriv = {
            "/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search", "--"};
        std::vector<std::string> prova = setpriv;
        prova.push_back("/bin/true");
        Processo processo(prova, {}, lavoro() / "setpriv.out", lavoro() / "setpriv.err");
        if (processo.attendi(10s) != 0) {
            GTEST_SKIP() << "setpriv non può togliere i privilegi: "
                         << leggi(lavoro() / "setpriv.err");
        }
        prefisso_ = setpriv;
    }

    // A working folder the program can read but not write.
    void soloLettura(const fs::path& cartella) {
        fs::create_directories(cartella);
        fs::permissions(cartella, fs::perms::owner_read | fs::perms::owner_exec);
    }
    void scrivibile(const fs::path& cartella) { fs::permissions(cartella, fs::perms::owner_all); }

    // Waits (bounded) until the running program has logged the text n times.
    void aspettaNelLog(Processo& processo, const std::string& testo, int n) {
        const auto scadenza = std::chrono::steady_clock::now() + 60s;
        while (conta(leggiLog(), testo) < n && processo.vivo() &&
               std::chrono::steady_clock::now() < scadenza) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_GE(conta(leggiLog(), testo), n) << "il programma non è arrivato a " << testo;
    }

    // Runs vd_kvt in the background with the command.
    std::unique_ptr<Processo> avviaInvio(const std::string& comando) {
        return avvia({"--utente", kUtente, comando});
    }
    // Waits for the new sending started in the background, then checks it.
    Riepilogo fineInvio(Processo& processo, const StatoCartelle& prima) {
        Esito esito;
        esito.stato = processo.attendi(180s);
        esito.uscita = processo.uscita();
        esito.errore = processo.errore();
        ultimoEsito_ = esito;
        const Riepilogo riepilogo = verifica(esito, prima, true);
        registra("--nuovo-invio", riepilogo);
        return riepilogo;
    }
};

TEST_F(GuastiLocali, ServiceGoneMidRunThenBackForResumeAndNewSending) {
    // Answers a little slow, so that the service can go while the run goes on.
    avviaCollettore({"delay=60"});
    const StatoCartelle vuote = cartelle();
    auto processo = avviaInvio("--nuovo-invio");
    aspettaNelLog(*processo, "Fase 2: #3 Risposta: OK", 5);
    collettore_->ferma();
    const Riepilogo interrotto = fineInvio(*processo, vuote);
    ASSERT_TRUE(interrotto.letto()) << ultimoEsito_.errore;
    EXPECT_GE(interrotto.inviati, 5);
    EXPECT_GT(interrotto.erroriInvio, 0);
    // The patients after the service went wait for a connection (one caught
    // in the middle of its query may stay as a failed exchange).
    const StatoCartelle dopo = cartelle();
    EXPECT_GE(dopo.noConn.size() + 1, static_cast<std::size_t>(interrotto.erroriInvio));
    ASSERT_FALSE(dopo.noConn.empty());

    // The service back: resuming sends what waited for it.
    avviaCollettore();
    const Riepilogo ripreso = invio("--riprendi");
    ASSERT_TRUE(ripreso.letto()) << ultimoEsito_.errore;
    EXPECT_EQ(ripreso.erroriInvio, 0);
    EXPECT_EQ(ripreso.inviati, static_cast<int>(dopo.noConn.size()));
    EXPECT_TRUE(cartelle().noConn.empty());
    EXPECT_EQ(cartelle().inAttesa, dopo.inAttesa);
    // A new sending takes the rest.
    verificaTuttiArrivati(invio("--nuovo-invio"));
}

TEST_F(GuastiLocali, ServiceAbsentKeepsEveryUploadForTheNextResume) {
    // A patient without visits counts as visited a moment before each run, so
    // a resume later than that (an emulated 32-bit run) rightly makes it anew:
    // here every patient has a visit, and every waiting upload is taken up.
    sql("INSERT INTO cart_visite (codice, data_open, ora) SELECT codice, '2025-01-15', '10:00' "
        "FROM pazienti p WHERE NOT EXISTS (SELECT 1 FROM cart_visite v WHERE v.codice = "
        "p.codice);");
    collettoreSpento();
    const Riepilogo spento = invio("--nuovo-invio");
    ASSERT_TRUE(spento.letto()) << ultimoEsito_.errore;
    EXPECT_EQ(spento.inviati, 0);
    EXPECT_GT(spento.erroriInvio, 10);
    EXPECT_EQ(cartelle().noConn.size(), static_cast<std::size_t>(spento.erroriInvio));
    EXPECT_EQ(righeLog(rigaConnessione(6)), spento.erroriInvio);

    avviaCollettore();
    const Riepilogo ripreso = invio("--riprendi");
    EXPECT_EQ(ripreso.inviati, spento.erroriInvio);
    EXPECT_EQ(conta(ultimaSessione(), "NOCONN (recupero xml precedente)"), spento.erroriInvio);
    verificaTuttiArrivati(ripreso);
}

// A scanner holding a waiting upload past the program's waits: that patient
// stays waiting, the others go, and the next run sends it. Only Windows
// refuses to rename a file another program holds.
TEST_F(GuastiLocali, UploadHeldPastTheWaitsStaysForTheNextRun) {
    if (!piattaforma().windows()) {
        GTEST_SKIP() << "solo Windows impedisce di rinominare un file aperto da un altro programma";
    }
    collettoreSpento();
    const Riepilogo spento = invio("--nuovo-invio");
    ASSERT_GT(spento.erroriInvio, 1) << ultimoEsito_.errore;
    const std::string trattenuto = cartelle().noConn.front();

    std::vector<std::string> argv = piattaforma().comandoDiProva("trattieni_file");
    argv.push_back(percorso(xml() / "no_conn" / trattenuto));
    argv.push_back("120000");
    Processo scanner(argv, {}, lavoro() / "scanner.out", lavoro() / "scanner.err");
    const auto scadenza = std::chrono::steady_clock::now() + 60s;
    while (leggi(lavoro() / "scanner.out").empty() && scanner.vivo() &&
           std::chrono::steady_clock::now() < scadenza) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_EQ(leggi(lavoro() / "scanner.out").rfind("trattenuto", 0), 0u)
        << leggi(lavoro() / "scanner.err");

    avviaCollettore();
    const Riepilogo trattenendo = invio("--riprendi");
    ASSERT_TRUE(trattenendo.letto()) << ultimoEsito_.errore;
    EXPECT_EQ(trattenendo.inviati, spento.erroriInvio - 1);
    EXPECT_EQ(trattenendo.erroriInvio, 1);
    EXPECT_EQ(conta(ultimaSessione(), "NOCONN non recuperato ("), 1);
    EXPECT_EQ(cartelle().noConn, std::vector<std::string>{trattenuto});
    scanner.uccidiSeVivo();

    const Riepilogo ripreso = invio("--riprendi");
    EXPECT_EQ(ripreso.inviati, 1);
    EXPECT_TRUE(cartelle().noConn.empty());
    verificaTuttiArrivati(ripreso);
}

// An outcome that cannot be recorded costs that patient alone: the run goes
// on, ends with its summary, and says so with status 3.
TEST_F(GuastiLocali, LastVisitFileNotWritableCostsOnlyTheDatesOfThatRun) {
    avviaCollettore();
    // A folder where the last-visit file should be: it cannot be replaced.
    fs::create_directories(kvt() / "update_new.ini");
    const Riepilogo primo = invioConEsitiNonRegistrati();
    EXPECT_GT(primo.inviati, 10);
    EXPECT_EQ(righeLog("Data ultima visita non registrata per "), primo.inviati);
    EXPECT_EQ(cartelle().inviati.size(), static_cast<std::size_t>(primo.inviati));

    // Resuming counts them as sent: they are filed.
    fs::remove(kvt() / "update_new.ini");
    const Riepilogo ripreso = leggiRiepilogo(comandi({"--riprendi"}).uscita);
    ASSERT_TRUE(ripreso.letto());
    EXPECT_EQ(ripreso.giaInviati, primo.inviati);
    EXPECT_EQ(ripreso.inviati, 0);
}

TEST_F(GuastiLocali, InviatiNotWritableStoresTheLastVisitsAndSendsNothingTwice) {
    senzaPrivilegi();
    avviaCollettore();
    soloLettura(xml() / "inviati");
    const Riepilogo primo = invioConEsitiNonRegistrati();
    EXPECT_GT(primo.inviati, 10);
    EXPECT_EQ(conta(ultimaSessione(), " ERRORE_ARCHIVIAZIONE: "), primo.inviati);
    // Accepted but not filed: no upload left to pass for a refused one, and
    // each last visit stored.
    EXPECT_TRUE(cartelle().inviati.empty());
    EXPECT_TRUE(cartelle().inAttesa.empty());
    EXPECT_EQ(conta(leggi(kvt() / "update_new.ini"), "\t"), primo.inviati);

    // Only the patients without visits (sent at every sending) go again.
    scrivibile(xml() / "inviati");
    const Riepilogo ripreso = invio("--riprendi");
    ASSERT_TRUE(ripreso.letto()) << ultimoEsito_.errore;
    EXPECT_GT(ripreso.giaInviati, 10);
    EXPECT_EQ(ripreso.inviati + ripreso.giaInviati, primo.inviati);
    verificaTuttiArrivati(invio("--nuovo-invio"));
}

TEST_F(GuastiLocali, NoConnNotWritableLeavesNothingThatPassesForRefused) {
    senzaPrivilegi();
    collettoreSpento();
    soloLettura(xml() / "no_conn");
    const Riepilogo spento = invioConEsitiNonRegistrati();
    EXPECT_GT(spento.erroriInvio, 10);
    EXPECT_EQ(conta(ultimaSessione(), " ERRORE_ARCHIVIAZIONE: "), spento.erroriInvio);
    EXPECT_TRUE(cartelle().inAttesa.empty());

    // Built again and sent once the service is back.
    scrivibile(xml() / "no_conn");
    avviaCollettore();
    const Riepilogo ripreso = invio("--riprendi");
    EXPECT_EQ(ripreso.inviati, spento.erroriInvio);
    verificaTuttiArrivati(ripreso);
}

TEST_F(GuastiLocali, AnswersNotWritableAreStillReadFromWhatTheServiceSaid) {
    senzaPrivilegi();
    // A first sending refused in full leaves a refusal for every patient in
    // risposte/; then the folder can no longer be written (nor emptied).
    avviaCollettore({"refuse-patient"});
    const Riepilogo rifiutato = invio("--nuovo-invio");
    ASSERT_TRUE(rifiutato.letto());
    ASSERT_EQ(rifiutato.inviati, 0);
    ASSERT_GT(rifiutato.erroriInvio, 10);
    soloLettura(xml() / "risposte");

    // The service now accepts: the outcome is that of its answer, not of the
    // old refusal still on disk.
    avviaCollettore();
    const Riepilogo accettato = invio("--nuovo-invio");
    verificaTuttiArrivati(accettato);
    EXPECT_EQ(accettato.inviati, rifiutato.erroriInvio);
    EXPECT_EQ(righeLog("Fase 2: #3 Risposta: OK"), accettato.inviati);

    // The other way round: acceptances are on disk, the service now refuses.
    // The patients sent again (those without visits are sent at every new
    // sending) are refused, never taken for accepted.
    avviaCollettore({"refuse-patient"});
    const std::size_t archiviatiPrima = archiviati().size();
    const Riepilogo respinto = invio("--nuovo-invio");
    ASSERT_TRUE(respinto.letto()) << ultimoEsito_.errore;
    EXPECT_EQ(respinto.inviati, 0);
    EXPECT_GT(respinto.erroriInvio, 0);
    EXPECT_EQ(righeLog("Fase 2: #3 Risposta: KO - CodiceErrore: "), respinto.erroriInvio);
    EXPECT_EQ(archiviati().size(), archiviatiPrima);
    scrivibile(xml() / "risposte");
}

TEST_F(GuastiLocali, ConnectorLogNotWritableDoesNotStopTheSending) {
    avviaCollettore();
    fs::create_directories(lavoro() / "lk.log");
    verificaTuttiArrivati(invio("--nuovo-invio"));
}

TEST_F(GuastiLocali, RegistryGoneMidRunLeavesTheRestWaitingForAConnection) {
    avviaCollettore({"delay=40"});
    const StatoCartelle vuote = cartelle();
    auto processo = avviaInvio("--nuovo-invio");
    aspettaNelLog(*processo, "Fase 2: #3 Risposta: OK", 3);
    // Without its settings the connector has no service to reach.
    fs::remove(registro());
    const Riepilogo senza = fineInvio(*processo, vuote);
    ASSERT_TRUE(senza.letto()) << ultimoEsito_.errore;
    EXPECT_GT(senza.erroriInvio, 0);
    EXPECT_GE(cartelle().noConn.size() + 1, static_cast<std::size_t>(senza.erroriInvio));

    avviaCollettore();
    const Riepilogo ripreso = invio("--riprendi");
    EXPECT_EQ(ripreso.erroriInvio, 0);
    EXPECT_TRUE(cartelle().noConn.empty());
    verificaTuttiArrivati(invio("--nuovo-invio"));
}

TEST_F(GuastiLocali, XmlFolderNotWritableCountsEveryBuildAsFailed) {
    senzaPrivilegi();
    avviaCollettore();
    fs::create_directories(xml() / "inviati");
    fs::create_directories(xml() / "risposte");
    fs::create_directories(xml() / "no_conn");
    soloLettura(xml());
    const Riepilogo fallito = invio("--nuovo-invio");
    ASSERT_TRUE(fallito.letto()) << ultimoEsito_.errore;
    EXPECT_EQ(fallito.inviati, 0);
    EXPECT_EQ(fallito.erroriInvio, 0);
    EXPECT_GT(fallito.erroriCreazione, 10);
    EXPECT_EQ(righeLog("Fase 1: creaTracciato: KO - Errore:"), fallito.erroriCreazione);
    EXPECT_TRUE(archiviati().empty());

    scrivibile(xml());
    verificaTuttiArrivati(invio("--nuovo-invio"));
}

TEST_F(GuastiLocali, FileSizeLimitMakesWritesFailWithoutEndingTheProgram) {
    avviaCollettore();
    // Past this size every write fails: the log reaches it within the first
    // patients, and so do the larger upload files.
    prefisso_ = {"/usr/bin/prlimit", "--fsize=12000", "--"};
    const Riepilogo limitato = invio("--nuovo-invio");
    ASSERT_TRUE(limitato.letto()) << ultimoEsito_.errore;
    EXPECT_THAT(ultimoEsito_.errore, HasSubstr("Eccezione in suLog"));
    EXPECT_LE(fs::file_size(log()), 12000u);
    // Lines past the limit are lost whole: the log ends with a whole line.
    const std::string testoLog = leggiLog();
    EXPECT_TRUE(testoLog.ends_with("\r\n")) << testoLog.substr(testoLog.size() - 80);
    // The uploads past the limit could not be saved: counted as creation
    // errors, nothing half-written left behind.
    EXPECT_GT(limitato.erroriCreazione, static_cast<int>(cartelle().err.size()));
    // The document type is larger than the limit: its copies are missing,
    // never cut short.
    const std::string dtd = leggi(kvt() / "dtd" / "RichiestaCaricamento.dtd");
    for (const char* copia : {"RichiestaCaricamento.dtd", "inviati/RichiestaCaricamento.dtd"}) {
        EXPECT_TRUE(!fs::exists(xml() / copia) || leggi(xml() / copia) == dtd)
            << copia << ": " << fs::file_size(xml() / copia) << " byte di " << dtd.size();
    }

    prefisso_.clear();
    verificaTuttiArrivati(invio("--nuovo-invio"));
}

TEST_F(GuastiLocali, LogDeletedMidRunIsMadeAgain) {
    avviaCollettore({"delay=40"});
    const StatoCartelle vuote = cartelle();
    auto processo = avviaInvio("--nuovo-invio");
    aspettaNelLog(*processo, "Fase 2: #3 Risposta: OK", 3);
    fs::remove(log());
    const Riepilogo riepilogo = fineInvio(*processo, vuote);
    verificaTuttiArrivati(riepilogo);
    // The log was made again and ends with the summary.
    EXPECT_THAT(leggiLog(), HasSubstr("Errore connessione invio:0"));
    EXPECT_EQ(conta(leggiLog(), "START - Pazienti totali:"), 0);
}

TEST_F(GuastiLocali, LogNotWritableMidRunLosesLinesButNotTheRun) {
    avviaCollettore({"delay=40"});
    const StatoCartelle vuote = cartelle();
    auto processo = avviaInvio("--nuovo-invio");
    aspettaNelLog(*processo, "Fase 2: #3 Risposta: OK", 3);
    // A folder where the log should be: no line can be written.
    fs::remove(log());
    fs::create_directory(log());
    const Riepilogo riepilogo = fineInvio(*processo, vuote);
    verificaTuttiArrivati(riepilogo);
    EXPECT_THAT(ultimoEsito_.errore, HasSubstr("Eccezione in suLog"));

    fs::remove(log());
    verificaTuttiArrivati(invio("--nuovo-invio"));
}

// Host calls made to fail, each for one patient of the list (by position).
struct GuastoHost {
    const char* metodo;
    const char* argomento;  // nullptr: every call of the method
    std::size_t paziente;
    const char* risposta;  // nullptr: a null value
    bool fallisce;
};

const GuastoHost kGuastiHost[] = {
    // The fiscal code cannot be read: the patient is skipped.
    {"leggi_attributo", "codice_fiscale", 1, nullptr, true},
    // No dataset can be made: the record cannot be built.
    {"new_object", nullptr, 3, nullptr, true},
    // The last visit cannot be asked: taken as just now.
    {"sql_dump_string", nullptr, 5, nullptr, true},
    // Row counts that are not numbers.
    {"call_method_pipe", "*.rowcount", 7, "molti", false},
    // The cursor does not move once: a patient is looked at twice and the
    // last one is not reached in this run.
    {"skip", nullptr, 9, nullptr, true},
};

std::string testoSql(const char* testo) {
    return testo ? "'" + std::string(testo) + "'" : "NULL";
}

TEST_F(GuastiLocali, HostFailingCallsGivesSkippedOrFailedPatientsOnly) {
    avviaCollettore();
    const std::vector<std::string> elenco = elencoPazienti();
    ASSERT_GT(elenco.size(), 10u);
    for (const GuastoHost& guasto : kGuastiHost) {
        sql("INSERT INTO standin_guasti(metodo, argomento, paziente, risposta, fallisce, volte) "
            "VALUES ('" +
            std::string(guasto.metodo) + "', " + testoSql(guasto.argomento) + ", '" +
            elenco.at(guasto.paziente) + "', " + testoSql(guasto.risposta) + ", " +
            (guasto.fallisce ? "1" : "0") + ", 1);");
    }
    const Riepilogo guasto = invio("--nuovo-invio");
    ASSERT_TRUE(guasto.letto()) << ultimoEsito_.errore;
    EXPECT_EQ(righeLog("Fase 1: creaTracciato: KO - Errore:"), 1);

    sql("DELETE FROM standin_guasti;");
    const Riepilogo ripreso = invio("--nuovo-invio");
    verificaTuttiArrivati(ripreso);
    // Against the run without faults: one more skipped (no fiscal code), one
    // more failed build.
    EXPECT_EQ(guasto.scartati, ripreso.scartati + 1);
    EXPECT_EQ(guasto.erroriCreazione, ripreso.erroriCreazione + 1);
}

// The host lost in the middle of a sending: gone (its process ended), or
// holding a call past the program's limit. The run stops at that patient
// with status 3 and no summary, skips, marks and records nobody because of
// it, and releases the working folder; the next resume with the host back
// gives what an uninterrupted sending gives.
class HostAssente : public Guasti {
  protected:
    void SetUp() override {
        Guasti::SetUp();
        generaPratica(kPazienti);
        statistiche_ = lavoro() / "host-stats.json";
        ::setenv("KVT_STANDIN_STATS", percorso(statistiche_).c_str(), 1);
    }
    void TearDown() override {
        // The prefix is left with the in-process host the other tests expect.
        piattaforma().registraHost(false);
        ::unsetenv("KVT_STANDIN_STATS");
        ::unsetenv("KVT_HOST_TIMEOUT_MS");
        Guasti::TearDown();
    }

    // The host calls of the last run, as the stand-in counted them (a host
    // in a process of its own writes them as it ends, just after the program).
    long chiamateHost() const {
        const auto scadenza = std::chrono::steady_clock::now() + 20s;
        while (!fs::exists(statistiche_) && std::chrono::steady_clock::now() < scadenza) {
            std::this_thread::sleep_for(50ms);
        }
        const std::string testo = leggi(statistiche_);
        const std::size_t dove = testo.find("\"calls\":");
        return dove == std::string::npos ? -1 : std::stol(testo.substr(dove + 8));
    }

    // The accepted uploads, by name, as filed in inviati/.
    std::map<std::string, std::string> accettati() const {
        std::map<std::string, std::string> testi;
        for (const std::string& nome : cartelle().inviati) {
            testi[nome] = leggi(xml() / "inviati" / nome);
        }
        return testi;
    }

    // A new sending with the host failing as `guasto` says from call
    // `chiamata` on: it stops with the reason in the log, and nothing built
    // from the lost host is filed.
    void invioInterrotto(const std::string& guasto, long chiamata) {
        sql("INSERT INTO standin_guasti(metodo, guasto, parametro) VALUES ('', '" + guasto + "', " +
            std::to_string(chiamata) + ");");
        const Riepilogo interrotto = invio("--nuovo-invio");
        EXPECT_FALSE(interrotto.letto()) << ultimoEsito_.uscita;
        EXPECT_EQ(ultimoEsito_.stato, 3);
        const std::string sessione = ultimaSessione();
        EXPECT_EQ(righeLog("Invio interrotto - Errore: Il programma di cartella clinica"), 1)
            << sessione;
        EXPECT_THAT(sessione, HasSubstr("nessun paziente è stato scartato o registrato"));
        // Nothing built from the lost host went anywhere.
        EXPECT_TRUE(cartelle().inAttesa.empty());
        EXPECT_TRUE(cartelle().noConn.empty());
        EXPECT_EQ(righeLog("Fase 1: creaTracciato: KO"), 0);
        sql("DELETE FROM standin_guasti;");
    }

    fs::path statistiche_;
};

TEST_F(HostAssente, HostDyingMidRunStopsItAndTheResumeGivesTheUninterruptedFiles) {
    avviaCollettore();
    const Riepilogo intero = invio("--nuovo-invio");
    ASSERT_TRUE(intero.letto()) << ultimoEsito_.errore;
    const long chiamate = chiamateHost();
    ASSERT_GT(chiamate, 100);
    const std::map<std::string, std::string> attesi = accettati();
    const std::vector<std::string> errAttesi = cartelle().err;
    const std::multiset<std::string> archivio = archiviati();
    const int senzaCodice = conta(ultimaSessione(), "privo di codice fiscale");

    // Without the last visits the new sending makes the same calls again.
    fs::remove(kvt() / "update_new.ini");
    invioInterrotto("muore", chiamate / 2);
    // Half-way: fewer patients accepted, and none passed off as lacking a
    // fiscal code beyond those the whole run finds.
    EXPECT_LT(cartelle().inviati.size(), attesi.size());
    EXPECT_LE(conta(ultimaSessione(), "privo di codice fiscale"), senzaCodice);

    const Riepilogo ripreso = invio("--riprendi");
    ASSERT_TRUE(ripreso.letto()) << ultimoEsito_.errore;
    EXPECT_EQ(ripreso.inviati + ripreso.giaInviati, intero.inviati);
    EXPECT_EQ(ripreso.erroriCreazione, intero.erroriCreazione);
    EXPECT_EQ(accettati(), attesi);
    EXPECT_EQ(cartelle().err, errAttesi);
    EXPECT_EQ(archiviati(), archivio);
    EXPECT_FALSE(fs::exists(kvt() / "invio_in_corso"));
}

// The dry run stops as the sending does, and writes no report from what it
// could not read.
TEST_F(HostAssente, HostDyingStopsTheDryRunWithoutAReport) {
    avviaCollettore();
    sql("INSERT INTO standin_guasti(metodo, guasto, parametro) VALUES ('', 'muore', 300);");
    const Esito esito = comandi({"--verifica"});
    EXPECT_EQ(esito.stato, 3) << esito.errore;
    EXPECT_EQ(righeLog("VERIFICA terminata - interrotta: Il programma di cartella clinica"), 1)
        << ultimaSessione();
    EXPECT_THAT(ultimaSessione(), HasSubstr("Verifica fermata al paziente"));
    EXPECT_TRUE(fileIn(kvt() / "verifica").empty());
}

// The host in a process of its own, and busy: it refuses every 97th call,
// and every call for a moment at the start. The refused calls are made
// again, so the accepted files are those of the host in process.
TEST_F(HostAssente, HostInItsOwnProcessAndBusyGivesTheInProcessFiles) {
    if (!piattaforma().windows() || !Piattaforma::hostFuoriProcesso()) {
        GTEST_SKIP() << "solo con il server locale vellodoc_server.exe (KVT_E2E_HOST_EXE)";
    }
    avviaCollettore();
    piattaforma().registraHost(false);
    const Riepilogo inProcesso = invio("--nuovo-invio");
    ASSERT_TRUE(inProcesso.letto()) << ultimoEsito_.errore;
    const std::map<std::string, std::string> attesi = accettati();
    ASSERT_FALSE(attesi.empty());

    piattaforma().registraHost(true);
    for (const bool occupato : {false, true}) {
        if (occupato) {
            sql("INSERT INTO standin_guasti(metodo, guasto, parametro) VALUES ('', 'occupato', "
                "97), ('', 'occupato_per', 300);");
        }
        fs::remove(kvt() / "update_new.ini");
        const Riepilogo fuori = invio("--nuovo-invio");
        ASSERT_TRUE(fuori.letto()) << ultimoEsito_.errore;
        EXPECT_EQ(fuori.inviati, inProcesso.inviati) << occupato;
        EXPECT_EQ(fuori.scartati, inProcesso.scartati) << occupato;
        EXPECT_EQ(fuori.erroriCreazione, inProcesso.erroriCreazione) << occupato;
        EXPECT_EQ(accettati(), attesi) << occupato;
    }
}

TEST_F(HostAssente, HostHangingStopsTheRunAtTheLimitAndReleasesTheFolder) {
    avviaCollettore();
    ::setenv("KVT_HOST_TIMEOUT_MS", "1500", 1);
    invioInterrotto("blocca", 3000);
    // The folder is free again: the resume runs, and with the host back
    // every patient reaches the collector.
    verificaTuttiArrivati(invio("--riprendi"));
}

}  // namespace
}  // namespace kvt::e2e
