// The dry run ("--verifica") on a practice whose working folders hold every
// state a sending can leave: it changes nothing below kvt/ but its report,
// and it predicts, patient by patient and in its counts, what the "Riprendi"
// that follows then does.
#include <ctime>
#include <regex>

#include "e2e/guasti_support.h"

namespace kvt::e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr const char* kFineUpload = "_kvt.xml";
const std::vector<std::string> kIntestazioneCsv = {"N.",
                                                   "Cognome e nome",
                                                   "Codice fiscale",
                                                   "Ultima visita",
                                                   "Ultimo invio accettato",
                                                   "Esito previsto",
                                                   "Motivo",
                                                   "Dimensione (KB)",
                                                   "Valido DTD"};
enum Colonna {
    kNumero = 0,
    kNome = 1,
    kCodiceFiscale = 2,
    kUltimoInvio = 4,
    kEsito = 5,
    kDimensione = 7
};

// Reads the report as a spreadsheet and a browser would: the CSV through
// Python's csv module, the HTML as XML. One line per row, cells separated by
// \x1f: "CSV", "HTML" (table "pazienti"), "PREVISIONE" (label, count), and
// "SCRIPT" for every script element of the page.
constexpr const char* kLettore = R"(
import csv, sys
import xml.etree.ElementTree as ET

def nome(e):
    return e.tag.rsplit('}', 1)[-1]

def testo(e):
    return ' '.join(''.join(e.itertext()).split())

def stampa(tipo, celle):
    print('\x1f'.join([tipo] + [' '.join(c.split()) for c in celle]))

with open(sys.argv[1], encoding='utf-8-sig', newline='') as f:
    for riga in csv.reader(f, delimiter=';'):
        stampa('CSV', riga)
pagina = ET.parse(sys.argv[2]).getroot()
for e in pagina.iter():
    if nome(e) == 'script':
        print('SCRIPT')
    if nome(e) != 'table':
        continue
    if e.get('id') == 'pazienti':
        for corpo in (c for c in e if nome(c) == 'tbody'):
            for tr in (c for c in corpo if nome(c) == 'tr'):
                stampa('HTML', [testo(td) for td in tr if nome(td) == 'td'])
    if e.get('id') == 'previsione':
        for tr in (c for c in e.iter() if nome(c) == 'tr'):
            stampa('PREVISIONE', [testo(c) for c in tr if nome(c) in ('th', 'td')])
)";

struct Rapporto {
    std::vector<std::vector<std::string>> csv;  // header first
    std::vector<std::vector<std::string>> html;
    std::map<std::string, std::string> previsione;
    int script = 0;
};

std::vector<std::string> celle(const std::string& riga) {
    std::vector<std::string> risultato;
    std::size_t inizio = 0;
    for (std::size_t fine; (fine = riga.find('\x1f', inizio)) != std::string::npos;
         inizio = fine + 1) {
        risultato.push_back(riga.substr(inizio, fine - inizio));
    }
    risultato.push_back(riga.substr(inizio));
    return risultato;
}

// The outcome a run logged for one patient, in the report's words.
std::string esitoDelBlocco(const std::string& blocco) {
    if (blocco.find("Fase 2: #3 Risposta: OK") != std::string::npos) {
        return "Da inviare";
    }
    if (blocco.find("INVIATO_PREC") != std::string::npos) {
        return "Già inviato";
    }
    if (blocco.find("SCARTATO") != std::string::npos) {
        return "Scartato";
    }
    if (blocco.find("ERRORE_CREAZIONE") != std::string::npos ||
        blocco.find("creaTracciato: KO") != std::string::npos) {
        return "Errore creazione";
    }
    return "?";
}

struct BloccoPaziente {
    std::string posizione, codiceFiscale, esito;
};

class Verifica : public Guasti {
  protected:
    // Every file below kvt/ by its path, with its content, but the log and
    // the reports; folders with an empty content.
    std::map<std::string, std::string> contenuti() const {
        std::map<std::string, std::string> tutti;
        for (const auto& voce : fs::recursive_directory_iterator(kvt())) {
            const std::string relativo = fs::relative(voce.path(), kvt()).generic_string();
            if (relativo == "log.txt" || relativo == "log_old.txt" ||
                relativo.rfind("verifica", 0) == 0) {
                continue;
            }
            tutti[relativo] = voce.is_directory() ? "" : "file:" + leggi(voce.path());
        }
        return tutti;
    }

    Esito eseguiVerifica() { return comandi({"--verifica"}); }

    // The files of the report folder.
    std::vector<std::string> rapporti() const { return fileIn(kvt() / "verifica"); }

    Rapporto leggiRapporto(const fs::path& csv, const fs::path& html) {
        const fs::path script = lavoro() / "lettore.py";
        scrivi(script, kLettore);
        Processo python({"/usr/bin/env", "python3", script.string(), csv.string(), html.string()},
                        {{"PYTHONIOENCODING", "utf-8"}}, lavoro() / "lettore.out",
                        lavoro() / "lettore.err");
        EXPECT_EQ(python.attendi(60s), 0) << python.errore();
        Rapporto rapporto;
        for (const std::string& riga : righe(python.uscita())) {
            const std::vector<std::string> c = celle(riga);
            const std::vector<std::string> resto(c.begin() + 1, c.end());
            if (c[0] == "CSV") {
                rapporto.csv.push_back(resto);
            } else if (c[0] == "HTML") {
                rapporto.html.push_back(resto);
            } else if (c[0] == "PREVISIONE" && resto.size() == 2) {
                rapporto.previsione[resto[0]] = resto[1];
            } else if (c[0] == "SCRIPT") {
                ++rapporto.script;
            }
        }
        return rapporto;
    }

    // The patients of the last session's log, in order: from "paz:" to the
    // empty line that ends each one.
    std::vector<BloccoPaziente> blocchiPazienti() const {
        std::vector<BloccoPaziente> blocchi;
        std::string blocco;
        bool dentro = false;
        for (const std::string& riga : righe(ultimaSessione())) {
            if (riga.rfind("paz:", 0) == 0) {
                // "paz:<code> <i> di <n>: ..."
                static const std::regex modello("^paz:(\\S*) ([0-9]+) di [0-9]+: ");
                std::smatch trovato;
                BloccoPaziente b;
                if (std::regex_search(riga, trovato, modello)) {
                    b.codiceFiscale = trovato[1].str();
                    b.posizione = trovato[2].str();
                }
                blocchi.push_back(b);
                blocco.clear();
                dentro = true;
            } else if (dentro && riga.empty()) {
                blocchi.back().esito = esitoDelBlocco(blocco);
                dentro = false;
            } else if (dentro) {
                blocco += riga + "\n";
            }
        }
        return blocchi;
    }

    // The last-visit file's entries: fiscal code, last visit of the accepted
    // sending.
    std::map<std::string, std::string> ultimeVisite() const {
        std::map<std::string, std::string> visite;
        for (const std::string& riga : righe(leggi(kvt() / "update_new.ini"))) {
            if (const std::size_t uguale = riga.find('='); uguale != std::string::npos) {
                visite[riga.substr(0, uguale)] = riga.substr(uguale + 1);
            }
        }
        return visite;
    }

    // A visit today, so that the patient counts as visited since a sending
    // of an earlier day; gives it as the last-visit file writes it.
    std::string visitaOggi(const std::string& codiceFiscale) {
        sql("INSERT INTO cart_visite(codice, data_open, ora) SELECT codice, '" + oggi() +
            "', '00:01' FROM pazienti WHERE codice_fiscale = '" + codiceFiscale + "';");
        return oggi() + "\t00:01";
    }

    static std::string oggi() {
        const std::time_t adesso = std::time(nullptr);
        char testo[16];
        std::strftime(testo, sizeof testo, "%Y-%m-%d", std::localtime(&adesso));
        return testo;
    }
};

std::string codiceDi(const std::string& nomeFile) {
    return nomeFile.substr(0, nomeFile.size() - std::string(kFineUpload).size());
}

int numero(const std::string& uscita, const std::string& etichetta) {
    const std::regex modello("(^|\n)" + etichetta + "(-?[0-9]+)\n");
    std::smatch trovato;
    return std::regex_search(uscita, trovato, modello) ? std::stoi(trovato[2].str()) : -1;
}

TEST_F(Verifica, ChangesNothingAndPredictsTheNextResumePatientByPatient) {
    generaPratica(kPazienti);

    // Every state a sending can leave, with real runs. First all accepted,
    // so that the last-visit file knows every patient with data.
    avviaCollettore();
    const Riepilogo primo = invio("--nuovo-invio");
    ASSERT_TRUE(primo.letto()) << ultimoEsito_.errore;
    const std::vector<std::string> accettati = cartelle().inviati;
    ASSERT_GE(accettati.size(), 12u);
    const std::string unUpload = leggi(xml() / "inviati" / accettati.back());
    // Four patients come back before the next sending; the service is then
    // absent for a whole new sending, which leaves them (and those without
    // visits, sent at every new sending) waiting for a connection.
    for (std::size_t i = 0; i < 4; ++i) {
        visitaOggi(codiceDi(accettati[i]));
    }
    collettoreSpento();
    const Riepilogo assente = invio("--nuovo-invio");
    ASSERT_TRUE(assente.letto()) << ultimoEsito_.errore;
    ASSERT_GE(cartelle().noConn.size(), 4u);
    // The service back for a resume, refusing the first patient and failing
    // the connection of the third and fourth: refused, accepted and waiting.
    avviaCollettore({"refuse-patient@1", "connect-status=503@3", "connect-status=503@4"});
    const Riepilogo ripreso = invio("--riprendi");
    ASSERT_TRUE(ripreso.letto()) << ultimoEsito_.errore;
    ASSERT_EQ(ripreso.erroriInvio, 3) << ultimoEsito_.uscita;
    // Patients accepted on an earlier day and not sent since: one visited
    // today, one visited today whose sex has since been lost (its record now
    // lacks a mandatory element), one visited today whose sending was cut
    // between building and filing its upload.
    std::vector<std::string> inRiposo;
    const StatoCartelle stato = cartelle();
    for (const auto& [codice, visita] : ultimeVisite()) {
        const std::string nome = codice + kFineUpload;
        bool altrove = false;
        for (const auto* elenco : {&stato.inviati, &stato.noConn, &stato.inAttesa, &stato.err}) {
            altrove = altrove || std::count(elenco->begin(), elenco->end(), nome) > 0;
        }
        if (!altrove && visita.rfind(oggi(), 0) != 0) {
            inRiposo.push_back(codice);
        }
    }
    ASSERT_GE(inRiposo.size(), 3u);
    visitaOggi(inRiposo[0]);
    visitaOggi(inRiposo[1]);
    sql("UPDATE pazienti SET sesso = NULL WHERE codice_fiscale = '" + inRiposo[1] + "';");
    const std::string interrotto = inRiposo[2] + kFineUpload;
    scrivi(xml() / interrotto, unUpload);
    scrivi(kvt() / "invio_in_corso", interrotto + "\n" + visitaOggi(inRiposo[2]));
    // Its name is markup, which the page must show, not run; it also puts
    // the patient last in the list, after sendings that each rewrite the
    // note of the cut one.
    sql("UPDATE pazienti SET cognome = 'Zz<script>' WHERE codice_fiscale = '" + inRiposo[2] + "';");

    const StatoCartelle prima = cartelle();
    ASSERT_THAT(prima.err, Not(IsEmpty()));
    ASSERT_EQ(prima.noConn.size(), 2u);
    ASSERT_EQ(prima.inAttesa.size(), 2u);  // the refused one, the interrupted one
    ASSERT_TRUE(fs::exists(xml() / "risposte"));
    const std::map<std::string, std::string> contenutiPrima = contenuti();
    const std::map<std::string, std::string> visitePrima = ultimeVisite();
    const std::string logConnettore = leggi(lavoro() / "lk.log");
    const std::size_t archiviatiPrima = archiviati().size();

    // A report folder that cannot be made: a message, status 3, no change.
    scrivi(kvt() / "verifica", "un file dove andrebbe la cartella");
    const Esito bloccata = eseguiVerifica();
    EXPECT_EQ(bloccata.stato, 3) << bloccata.uscita;
    EXPECT_THAT(bloccata.errore, HasSubstr("verifica"));
    EXPECT_THAT(bloccata.uscita, Not(HasSubstr("Rapporto")));
    EXPECT_EQ(contenuti(), contenutiPrima);
    fs::remove(kvt() / "verifica");

    const Esito esito = eseguiVerifica();
    ASSERT_EQ(esito.stato, 0) << esito.uscita << esito.errore;
    // Nothing below kvt/ changed, nothing reached the connector or the service.
    EXPECT_EQ(contenuti(), contenutiPrima);
    EXPECT_EQ(leggi(lavoro() / "lk.log"), logConnettore);
    EXPECT_EQ(archiviati().size(), archiviatiPrima);
    // The log gained its two lines, and no patient's.
    const std::string sessione = ultimaSessione();
    EXPECT_EQ(righeLog("VERIFICA - Pazienti totali: "), 1) << sessione;
    EXPECT_EQ(righeLog("VERIFICA terminata"), 1) << sessione;
    EXPECT_EQ(righeLog("paz:"), 0) << sessione;
    EXPECT_THAT(sessione, Not(HasSubstr("Fase ")));

    // The report's two files, printed as the program sees them.
    const std::vector<std::string> file = rapporti();
    ASSERT_EQ(file.size(), 2u);
    const std::string base = file[0].substr(0, file[0].rfind('.'));
    EXPECT_TRUE(std::regex_match(base, std::regex("verifica-[0-9]{8}-[0-9]{6}"))) << base;
    const fs::path csv = kvt() / "verifica" / (base + ".csv");
    const fs::path html = kvt() / "verifica" / (base + ".html");
    ASSERT_EQ(file, (std::vector<std::string>{base + ".csv", base + ".html"}));
    const std::vector<std::string> uscita = righe(esito.uscita);
    ASSERT_EQ(uscita.size(), 9u) << esito.uscita;
    EXPECT_EQ(uscita[0], "Verifica terminata: nessun file è stato inviato o modificato.");
    EXPECT_EQ(uscita[1], "Previsione del prossimo \"Riprendi\":");
    EXPECT_EQ(uscita[6], "Errore connessione invio:0");
    EXPECT_EQ(uscita[7], "Rapporto: " + percorso(html));
    EXPECT_EQ(uscita[8], "Rapporto CSV: " + percorso(csv));
    EXPECT_EQ(conta(esito.uscita, "\r"), 0);
    if (!piattaforma().windows()) {
        for (const fs::path& p : {csv, html}) {
            EXPECT_EQ(fs::status(p).permissions() & fs::perms::all,
                      fs::perms::owner_read | fs::perms::owner_write)
                << p;
        }
        EXPECT_EQ(fs::status(kvt() / "verifica").permissions() & fs::perms::all,
                  fs::perms::owner_all);
    }

    // The CSV as written: UTF-8 with its mark, CR LF line ends.
    const std::string testoCsv = leggi(csv);
    EXPECT_EQ(testoCsv.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(conta(testoCsv, "\n"), conta(testoCsv, "\r\n"));
    const Rapporto rapporto = leggiRapporto(csv, html);
    ASSERT_FALSE(rapporto.csv.empty());
    EXPECT_EQ(rapporto.csv.front(), kIntestazioneCsv);
    const std::vector<std::vector<std::string>> righeCsv(rapporto.csv.begin() + 1,
                                                         rapporto.csv.end());
    EXPECT_EQ(righeCsv, rapporto.html);
    EXPECT_EQ(rapporto.script, 0);
    int markup = 0;
    std::map<std::string, int> tally;
    for (const std::vector<std::string>& riga : righeCsv) {
        ASSERT_EQ(riga.size(), kIntestazioneCsv.size());
        ++tally[riga[kEsito]];
        // The last accepted sending as the last-visit file has it, in the
        // workstation's date format.
        if (const auto visita = visitePrima.find(riga[kCodiceFiscale]);
            visita != visitePrima.end()) {
            const std::string& v = visita->second;  // "yyyy-MM-dd\tHH:mm"
            EXPECT_EQ(riga[kUltimoInvio], v.substr(8, 2) + "/" + v.substr(5, 2) + "/" +
                                              v.substr(0, 4) + " " + v.substr(11, 5))
                << riga[kCodiceFiscale];
        }
        markup += riga[kNome].find("<script>") != std::string::npos ? 1 : 0;
        // Sizes with the workstation's decimal comma.
        EXPECT_TRUE(std::regex_match(riga[kDimensione], std::regex("([0-9]+(,[0-9]+)?)?")))
            << riga[kDimensione];
        if (riga[kEsito] == "Da inviare") {
            EXPECT_THAT(riga[kDimensione], Not(IsEmpty()));
        }
    }
    EXPECT_EQ(markup, 1);

    // The counts, three times over: standard output, the page, the rows.
    const std::string testoUscita = esito.uscita;
    const Riepilogo previsto{numero(testoUscita, "Inviati: "), numero(testoUscita, "Già inviati: "),
                             numero(testoUscita, "Scartati dal server:"),
                             numero(testoUscita, "Errore creazione:"), 0};
    EXPECT_EQ(rapporto.previsione,
              (std::map<std::string, std::string>{
                  {"Inviati", std::to_string(previsto.inviati)},
                  {"Già inviati", std::to_string(previsto.giaInviati)},
                  {"Scartati dal server", std::to_string(previsto.scartati)},
                  {"Errore creazione", std::to_string(previsto.erroriCreazione)},
                  {"Errore connessione invio", "0"}}));
    EXPECT_EQ(tally, (std::map<std::string, int>{{"Da inviare", previsto.inviati},
                                                 {"Già inviato", previsto.giaInviati},
                                                 {"Scartato", previsto.scartati},
                                                 {"Errore creazione", previsto.erroriCreazione}}));

    // The resume that follows, with a service accepting everything, does
    // what was predicted: the same counts ...
    avviaCollettore();
    const Riepilogo seguente = invio("--riprendi");
    ASSERT_TRUE(seguente.letto()) << ultimoEsito_.errore;
    EXPECT_EQ(seguente.inviati, previsto.inviati);
    EXPECT_EQ(seguente.giaInviati, previsto.giaInviati);
    EXPECT_EQ(seguente.scartati, previsto.scartati);
    EXPECT_EQ(seguente.erroriCreazione, previsto.erroriCreazione);
    EXPECT_EQ(seguente.erroriInvio, 0);
    // Each state above is among them: the visited, the waiting and the
    // interrupted are sent; the refused and the marked are skipped; the
    // patient who lost a mandatory element fails.
    EXPECT_GE(seguente.inviati, 4);
    EXPECT_GE(seguente.scartati, 1 + static_cast<int>(prima.err.size()));
    EXPECT_GE(seguente.erroriCreazione, 1);

    // ... and, patient by patient, the outcome of the row at its position.
    const std::vector<BloccoPaziente> blocchi = blocchiPazienti();
    ASSERT_EQ(blocchi.size(), righeCsv.size());
    for (std::size_t i = 0; i < blocchi.size(); ++i) {
        const std::vector<std::string>& riga = righeCsv[i];
        EXPECT_EQ(riga[kNumero], blocchi[i].posizione) << i;
        EXPECT_EQ(riga[kCodiceFiscale], blocchi[i].codiceFiscale) << i;
        EXPECT_EQ(riga[kEsito], blocchi[i].esito)
            << "paziente " << blocchi[i].posizione << " " << blocchi[i].codiceFiscale;
    }
}

TEST_F(Verifica, AnotherRunOnTheFolderTurnsItAway) {
    generaPratica(20);
    avviaCollettore({"delay=300"});
    auto primo = avvia({"--utente", kUtente, "--nuovo-invio"});
    // The note of an upload in progress: the sending holds the folder.
    for (const auto scadenza = std::chrono::steady_clock::now() + 60s;
         !fs::exists(kvt() / "invio_in_corso") && primo->vivo();) {
        ASSERT_LT(std::chrono::steady_clock::now(), scadenza);
        std::this_thread::sleep_for(20ms);
    }
    const Esito esito = eseguiVerifica();
    EXPECT_EQ(esito.stato, 3);
    EXPECT_THAT(esito.errore, HasSubstr("Un altro invio è già in corso su questa cartella."));
    EXPECT_THAT(esito.uscita, Not(HasSubstr("Verifica terminata")));
    EXPECT_THAT(rapporti(), IsEmpty());
    // The sending goes on undisturbed to its end.
    EXPECT_TRUE(primo->attendi(180s).has_value());
    EXPECT_EQ(leggiRiepilogo(primo->uscita()).erroriInvio, 0);
    EXPECT_EQ(conta(leggiLog(), "VERIFICA"), 0);
}

}  // namespace
}  // namespace kvt::e2e
