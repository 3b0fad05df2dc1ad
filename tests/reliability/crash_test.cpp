// The sending survives being killed. An unattended "Nuovo Invio" of a
// generated practice is killed with SIGKILL at random moments, then resumed
// with "Riprendi" (killed again, many times) until one run completes. After
// all of it no patient is lost, no file is left half written, and what the
// collection service received is exactly what the program filed as accepted.
//
// The moments are drawn from a seeded generator (KVT_CRASH_SEED), so a
// failure can be replayed; KVT_CRASH_KILLS and KVT_CRASH_PATIENTS change the
// size of the run.
#include <libxml/parser.h>
#include <sqlite3.h>

#include <iostream>
#include <random>
#include <regex>
#include <set>

#include "common/general_functions.h"
#include "e2e/e2e_support.h"

namespace kvt::e2e {
namespace {

int daAmbiente(const char* nome, int predefinito) {
    const char* valore = std::getenv(nome);
    return valore && *valore ? std::atoi(valore) : predefinito;
}

// The fiscal codes of the demo doctor's patients, as the host hands them out.
std::vector<std::string> codiciFiscali(const fs::path& pratica) {
    sqlite3* db = nullptr;
    std::vector<std::string> codici;
    if (sqlite3_open_v2(pratica.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return codici;
    }
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT coalesce(p.codice_fiscale, '') FROM pazienti p JOIN utenti u ON "
                       "p.codice_medico = u.userid_utente WHERE u.nome_utente = 'demo' AND "
                       "p.tipo_di_convenzione = 'S'",
                       -1, &query, nullptr);
    while (query && sqlite3_step(query) == SQLITE_ROW) {
        codici.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(query, 0)));
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return codici;
}

// What the collector's journal says it received.
struct Ricevuto {
    int richieste = 0;
    int nonValide = 0;  // refused by the service's checks, or not stored
    std::map<std::string, int> perPseudonimo;

    int duplicati() const {
        int n = 0;
        for (const auto& [pseudonimo, volte] : perPseudonimo) {
            n += volte - 1;
        }
        return n;
    }
};

Ricevuto leggiGiornale(const fs::path& giornale) {
    Ricevuto ricevuto;
    for (const std::string& riga : righe(leggi(giornale))) {
        std::vector<std::string> campi;
        std::istringstream in(riga);
        for (std::string campo; std::getline(in, campo, '\t');) {
            campi.push_back(campo);
        }
        ++ricevuto.richieste;
        const bool valida = campi.size() == 7 && campi[2] == "-" && campi[3] == "-" &&
                            campi[5] == "archiviato" && campi[6] == "-";
        if (!valida) {
            ++ricevuto.nonValide;
            continue;
        }
        ++ricevuto.perPseudonimo[campi[1]];
    }
    return ricevuto;
}

std::string pseudonimoDi(const std::string& tracciato) {
    static const std::regex kPseudonimo("<trxCodFiscaleAssistito>([0-9A-F]+)</");
    std::smatch trovato;
    return std::regex_search(tracciato, trovato, kPseudonimo) ? trovato[1].str() : "";
}

bool benFormato(const std::string& testo) {
    xmlDocPtr documento =
        xmlReadMemory(testo.data(), static_cast<int>(testo.size()), "tracciato.xml", nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    xmlFreeDoc(documento);
    return documento != nullptr;
}

// Counts, while a run goes on, the uploads it has begun to send, reading the
// log only past what it read before (the log grows through every run; a new
// sending starts it again).
class AvanzamentoLog {
  public:
    explicit AvanzamentoLog(fs::path log) : log_(std::move(log)) {}

    int invii() {
        std::error_code errore;
        const auto dimensione = fs::file_size(log_, errore);
        if (errore) {
            return invii_;
        }
        if (dimensione < letti_) {
            letti_ = 0;
            resto_.clear();
        }
        std::ifstream in(log_, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(letti_));
        std::string nuovo(dimensione - letti_, '\0');
        in.read(nuovo.data(), static_cast<std::streamsize>(nuovo.size()));
        nuovo.resize(static_cast<std::size_t>(in.gcount()));
        letti_ += nuovo.size();
        resto_ += nuovo;
        const std::size_t fine = resto_.rfind('\n');
        if (fine != std::string::npos) {
            const std::string completo = resto_.substr(0, fine);
            invii_ += conta(completo, "Fase 2: paz");
            const std::size_t inizio = completo.rfind('\n');
            ultimaRiga_ = completo.substr(inizio == std::string::npos ? 0 : inizio + 1);
            righeNuove_ = true;
            if (!ultimaRiga_.empty() && ultimaRiga_.back() == '\r') {
                ultimaRiga_.pop_back();
            }
            resto_.erase(0, fine + 1);
        }
        return invii_;
    }

    // Where the last complete line of the log says the run was.
    std::string fase() {
        invii();
        static const std::pair<const char*, const char*> kFasi[] = {
            {"Fase 2: #3 Risposta: OK", "accettato, non ancora archiviato"},
            {"Fase 2: #3", "risposta letta"},
            {"Fase 2: #2", "risposta ricevuta"},
            {"Fase 2: #1", "tracciato in invio"},
            {"Fase 2: paz", "connessione"},
            {"Fase 1: creaTracciato", "tracciato scritto"},
            {"Fase 1: paz", "paziente deciso"},
            {"paz:", "costruzione del tracciato"},
            {"START", "inizio dell'invio"},
        };
        for (const auto& [inizio, fase] : kFasi) {
            if (ultimaRiga_.rfind(inizio, 0) == 0) {
                return fase;
            }
        }
        return righeNuove_ && ultimaRiga_.empty() ? "tra due pazienti" : "avvio e accesso";
    }

    // A run starts: its phase is read only from the lines it writes.
    void nuovaEsecuzione() {
        invii();
        righeNuove_ = false;
        ultimaRiga_.clear();
    }

  private:
    fs::path log_;
    std::uintmax_t letti_ = 0;
    std::string resto_;
    std::string ultimaRiga_;
    bool righeNuove_ = false;
    int invii_ = 0;
};

class Interruzioni : public E2e {
  protected:
    fs::path giornale() const { return lavoro() / "richieste.tsv"; }

    // Starts a run and kills it once it has begun this many more sendings
    // and a further random pause has passed; false when the run ended by
    // itself first.
    bool avviaEUccidi(const std::string& comando, AvanzamentoLog& avanzamento, int inviiPrima,
                      std::chrono::microseconds pausa) {
        avanzamento.nuovaEsecuzione();
        auto processo = avvia({"--utente", kUtente, comando});
        const int obiettivo = avanzamento.invii() + inviiPrima;
        const auto limite = std::chrono::steady_clock::now() + 120s;
        while (avanzamento.invii() < obiettivo && std::chrono::steady_clock::now() < limite) {
            if (processo->terminato()) {
                break;
            }
            std::this_thread::sleep_for(200us);
        }
        std::this_thread::sleep_for(pausa);
        if (!processo->uccidiSeVivo()) {
            return false;
        }
        ++uccisePerFase[avanzamento.fase()];
        return true;
    }

    std::map<std::string, int> uccisePerFase;
};

TEST_F(Interruzioni, KilledSendingLosesNoPatientAndLeavesNoBrokenFile) {
    const int pazienti = daAmbiente("KVT_CRASH_PATIENTS", 150);
    const int uccisioniVolute = daAmbiente("KVT_CRASH_KILLS", 40);
    const unsigned seme = static_cast<unsigned>(daAmbiente("KVT_CRASH_SEED", 20261208));
    generaPratica(pazienti);
    avviaCollettore({}, {"--journal", giornale().string()});

    std::mt19937 caso(seme);
    std::uniform_int_distribution<int> inviiPrima(0, 3);
    std::uniform_int_distribution<int> pausaUs(0, 12000);
    AvanzamentoLog avanzamento(log());
    int uccisioni = 0;
    int finitiDaSoli = 0;
    for (int prova = 0; uccisioni < uccisioniVolute && prova < 3 * uccisioniVolute; ++prova) {
        const std::string comando = prova == 0 ? "--nuovo-invio" : "--riprendi";
        if (avviaEUccidi(comando, avanzamento, inviiPrima(caso),
                         std::chrono::microseconds(pausaUs(caso)))) {
            ++uccisioni;
        } else {
            ++finitiDaSoli;
        }
    }
    ASSERT_EQ(uccisioni, uccisioniVolute) << "seme " << seme;

    Riepilogo finale;
    int ripresePerFinire = 0;
    while (!finale.letto() && ripresePerFinire < 5) {
        ++ripresePerFinire;
        const Esito esito = comandi({"--riprendi"});
        finale = leggiRiepilogo(esito.uscita);
    }
    ASSERT_TRUE(finale.letto()) << "seme " << seme;
    // Every patient of the doctor in exactly one state.
    const std::vector<std::string> codici = codiciFiscali(pratica());
    ASSERT_FALSE(codici.empty());
    EXPECT_EQ(finale.inviati + finale.giaInviati + finale.scartati + finale.erroriCreazione +
                  finale.erroriInvio,
              static_cast<int>(codici.size()));
    EXPECT_EQ(finale.erroriInvio, 0);
    const fs::path inviati = xml() / "inviati";
    const fs::path noConn = xml() / "no_conn";
    int accettati = 0, datiMancanti = 0, senzaCodice = 0, persi = 0, doppioStato = 0;
    std::set<std::string> pseudonimiInviati;
    std::ostringstream dettagli;
    for (const std::string& codice : codici) {
        if (codice.empty()) {
            ++senzaCodice;
            continue;
        }
        const std::string nome = codice + "_kvt.xml";
        const bool inviato = fs::exists(inviati / nome);
        const bool err = fs::exists(xml() / (nome + ".err"));
        const int stati = inviato + err + fs::exists(noConn / nome) + fs::exists(xml() / nome);
        if (stati != 1) {
            ++doppioStato;
            dettagli << nome << ": " << stati << " stati\n";
        }
        accettati += inviato;
        datiMancanti += err && !inviato;
        if (!inviato && !err) {
            ++persi;
            dettagli << nome << ": non inviato\n";
        }
        if (inviato) {
            pseudonimiInviati.insert(pseudonimoDi(leggi(inviati / nome)));
        }
    }
    EXPECT_EQ(doppioStato, 0) << dettagli.str();
    EXPECT_EQ(persi, 0) << dettagli.str();

    // No file under "kvt" half written: every upload, marker and answer is
    // well-formed, no temporary file is left, the last-visit file reads back
    // with a readable date for every accepted patient.
    int fileControllati = 0, fileRotti = 0, temporanei = 0;
    for (const auto& voce : fs::recursive_directory_iterator(kvt())) {
        const std::string nome = voce.path().filename().string();
        if (!voce.is_regular_file()) {
            continue;
        }
        if (nome.front() == '.') {
            ++temporanei;
            dettagli << "temporaneo: " << voce.path() << "\n";
            continue;
        }
        if (nome.ends_with(".xml") || nome.ends_with(".err")) {
            ++fileControllati;
            if (!benFormato(leggi(voce.path()))) {
                ++fileRotti;
                dettagli << "non ben formato: " << voce.path() << "\n";
            }
        }
    }
    EXPECT_EQ(fileRotti, 0) << dettagli.str();
    EXPECT_EQ(temporanei, 0) << dettagli.str();
    int dateMancanti = 0;
    for (const std::string& nome : fileIn(inviati, "_kvt.xml")) {
        const std::string codice = nome.substr(0, nome.size() - std::string("_kvt.xml").size());
        if (!testoADataOra(leggiIni(kvt() / "update_new.ini", "data_visita", codice)).valida) {
            ++dateMancanti;
            dettagli << "data di visita non scritta: " << codice << "\n";
        }
    }
    EXPECT_EQ(dateMancanti, 0) << dettagli.str();

    // What the service received: every request whole and valid, every
    // accepted upload stored byte for byte as filed, nobody missing.
    const Ricevuto ricevuto = leggiGiornale(giornale());
    EXPECT_EQ(ricevuto.nonValide, 0);
    std::set<std::string> pseudonimiArchiviati;
    int diversi = 0;
    for (const std::string& nome : fileIn(inviati, "_kvt.xml")) {
        const std::string tracciato = leggi(inviati / nome);
        const fs::path archiviato = archivio() / (pseudonimoDi(tracciato) + ".xml");
        if (leggi(archiviato) != tracciato) {
            ++diversi;
            dettagli << "diverso dall'archivio: " << nome << "\n";
        }
    }
    for (const std::string& nome : fileIn(archivio(), ".xml")) {
        pseudonimiArchiviati.insert(nome.substr(0, nome.size() - 4));
    }
    EXPECT_EQ(diversi, 0) << dettagli.str();
    EXPECT_EQ(pseudonimiArchiviati, pseudonimiInviati);
    EXPECT_EQ(static_cast<int>(ricevuto.perPseudonimo.size()), accettati);

    std::cout << "Interruzioni: seme " << seme << ", " << codici.size() << " pazienti del medico, "
              << uccisioni << " uccisioni (SIGKILL), " << finitiDaSoli
              << " esecuzioni finite da sole, " << ripresePerFinire << " riprese per finire\n"
              << "Pazienti: " << accettati << " accettati, " << datiMancanti
              << " con dati obbligatori mancanti, " << senzaCodice << " senza codice fiscale, "
              << persi << " persi\n"
              << "Servizio: " << ricevuto.richieste << " richieste ricevute, " << ricevuto.nonValide
              << " non valide, " << ricevuto.duplicati() << " tracciati ricevuti due volte o piu'\n"
              << "File: " << fileControllati << " controllati, " << fileRotti
              << " non ben formati, " << temporanei << " temporanei rimasti, " << dateMancanti
              << " date di visita mancanti\n"
              << "Uccisioni dopo l'ultima riga del log:";
    for (const auto& [fase, volte] : uccisePerFase) {
        std::cout << " " << fase << " " << volte << ";";
    }
    std::cout << "\n";
}

}  // namespace
}  // namespace kvt::e2e
