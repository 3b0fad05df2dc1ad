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

}  // namespace
}  // namespace kvt::e2e
