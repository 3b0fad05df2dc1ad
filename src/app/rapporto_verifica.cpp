// The dry run's report: the model's counts and labels, and its HTML and CSV
// forms, both walking one table of columns so that their rows never differ.
#include "app/rapporto_verifica.h"

#include <algorithm>
#include <functional>

#include "common/workstation.h"

namespace kvt {
namespace protezione_rapporto {
namespace {

// What a spreadsheet takes for the start of a formula; TAB and CR as well,
// since some drop them when reading and then see the character after.
bool iniziaFormula(std::string_view testo) {
    return !testo.empty() && std::string_view("=+-@\t\r").find(testo[0]) != std::string_view::npos;
}

bool daQuotare(std::string_view testo, std::string_view separatore) {
    return testo.find_first_of("\"\r\n") != std::string_view::npos ||
           (!separatore.empty() && testo.find(separatore) != std::string_view::npos) ||
           testo.starts_with('\t');
}

}  // namespace

std::string testoHtml(std::string_view testo) {
    std::string risultato;
    risultato.reserve(testo.size());
    for (const char c : testo) {
        switch (c) {
            case '&':
                risultato += "&amp;";
                break;
            case '<':
                risultato += "&lt;";
                break;
            case '>':
                risultato += "&gt;";
                break;
            case '"':
                risultato += "&quot;";
                break;
            case '\'':
                risultato += "&#39;";
                break;
            default:
                // Control characters are no XML characters: a host text
                // holding one must not break the page.
                if (static_cast<unsigned char>(c) < 32 && c != '\t' && c != '\n' && c != '\r') {
                    risultato += ' ';
                } else {
                    risultato += c;
                }
        }
    }
    return risultato;
}

std::string cellaCsv(std::string_view testo, std::string_view separatore) {
    // Quotes are only the file's syntax, gone once the spreadsheet has read
    // the cell: the apostrophe is what keeps a text from running as a formula.
    std::string cella = iniziaFormula(testo) ? "'" : "";
    cella += testo;
    if (!daQuotare(testo, separatore)) {
        return cella;
    }
    std::string risultato = "\"";
    for (const char c : cella) {
        risultato += c;
        if (c == '"') {
            risultato += '"';
        }
    }
    return risultato + "\"";
}

}  // namespace protezione_rapporto

namespace {

// The report's texts are all escaped alike.
std::string html(std::string_view testo) {
    return protezione_rapporto::testoHtml(testo);
}

const ElementoObbligatorio kElementiObbligatori[] = {
    {"trxCodRegioneAssistito", "regione dell'assistito"},
    {"trxCodAslAssistito", "ASL dell'assistito"},
    {"trxCodFiscaleAssistito", "codice fiscale pseudonimizzato"},
    {"trxSesso", "sesso"},
    {"trxDataNascita", "data di nascita"},
};

// The summary's counters, in its order, with the outcome each counts.
struct Contatore {
    const char* etichetta;
    std::optional<EsitoPrevisto> esito;
};
const Contatore kContatori[] = {
    {"Inviati", EsitoPrevisto::DaInviare},
    {"Già inviati", EsitoPrevisto::GiaInviato},
    {"Scartati dal server", EsitoPrevisto::Scartato},
    {"Errore creazione", EsitoPrevisto::ErroreCreazione},
    {"Errore connessione invio", std::nullopt},
};

// Each outcome's text in the report and the class its row is drawn with.
struct FormaEsito {
    EsitoPrevisto esito;
    const char* testo;
    const char* classe;
};
const FormaEsito kEsiti[] = {
    {EsitoPrevisto::DaInviare, "Da inviare", "invio"},
    {EsitoPrevisto::GiaInviato, "Già inviato", "inviato"},
    {EsitoPrevisto::Scartato, "Scartato", "scartato"},
    {EsitoPrevisto::ErroreCreazione, "Errore creazione", "errore"},
};
const FormaEsito& forma(EsitoPrevisto esito) {
    return *std::find_if(std::begin(kEsiti), std::end(kEsiti),
                         [esito](const FormaEsito& f) { return f.esito == esito; });
}
const char* testoEsito(EsitoPrevisto esito) {
    return forma(esito).testo;
}
const char* classeEsito(EsitoPrevisto esito) {
    return forma(esito).classe;
}

// What a warning of the record builder means, in words.
std::string testoAvviso(const AvvisoCampo& avviso) {
    const std::string lunghezza = std::to_string(avviso.lunghezza);
    if (avviso.tipo == "AN") {
        return "troppo lungo: tagliato a " + lunghezza + " caratteri";
    }
    if (avviso.tipo == "ANF") {
        return "lunghezza diversa dai " + lunghezza + " caratteri attesi";
    }
    if (avviso.tipo == "B") {
        return "non è un sì/no riconosciuto: scritto come \"N\"";
    }
    if (avviso.tipo == "DATE") {
        return "data non leggibile (attesa anno-mese-giorno)";
    }
    return "valore non conforme al tipo " + avviso.tipo;
}

struct Formato {
    std::string decimale;
};

std::string dataOra(const std::optional<DateTime>& valore, const char* senza) {
    if (!valore) {
        return senza;
    }
    return workstation::formatDateTime(*valore, workstation::shortDateFormat()) + " " +
           workstation::formatDateTime(*valore, "HH:mm");
}

std::string kilobyte(const std::optional<std::size_t>& byte, const Formato& formato) {
    if (!byte) {
        return {};
    }
    // In whole tenths, so that no locale of the process decides the separator.
    const std::size_t decimi = (*byte * 10 + 512) / 1024;
    return std::to_string(decimi / 10) + formato.decimale + std::to_string(decimi % 10);
}

std::string validita(const RigaVerifica& riga) {
    switch (riga.validita) {
        case Validita::NonControllata:
            return {};
        case Validita::Valida:
            return "sì";
        case Validita::NonValida:
            return "no: " + riga.motivoValidita;
    }
    return {};
}

// The columns of a patient's row, in the order of both forms.
struct Colonna {
    const char* titolo;
    std::function<std::string(const RigaVerifica&, const Formato&)> valore;
    const char* classe;  // the HTML cell's class, for alignment
};
const Colonna kColonne[] = {
    {"N.", [](const RigaVerifica& r, const Formato&) { return std::to_string(r.posizione); },
     "numero"},
    {"Cognome e nome", [](const RigaVerifica& r, const Formato&) { return r.nome; }, ""},
    {"Codice fiscale", [](const RigaVerifica& r, const Formato&) { return r.codiceFiscale; },
     "codice"},
    {"Ultima visita",
     [](const RigaVerifica& r, const Formato&) { return dataOra(r.ultimaVisita, "nessuna"); },
     "data"},
    {"Ultimo invio accettato",
     [](const RigaVerifica& r, const Formato&) { return dataOra(r.ultimoInvio, "mai"); }, "data"},
    {"Esito previsto",
     [](const RigaVerifica& r, const Formato&) { return std::string(testoEsito(r.esito)); },
     "esito"},
    {"Motivo", [](const RigaVerifica& r, const Formato&) { return r.motivo; }, ""},
    {"Dimensione (KB)",
     [](const RigaVerifica& r, const Formato& f) { return kilobyte(r.dimensione, f); }, "numero"},
    {"Valido DTD", [](const RigaVerifica& r, const Formato&) { return validita(r); }, ""},
};

constexpr const char* kStile = R"(
body { font-family: "Segoe UI", "DejaVu Sans", Arial, sans-serif; font-size: 10pt; color: #111;
       margin: 1.5em; }
h1 { font-size: 16pt; margin: 0 0 .2em 0; }
h2 { font-size: 13pt; margin: 1.4em 0 .4em 0; border-bottom: 1px solid #888; }
h3 { font-size: 11pt; margin: 1em 0 .3em 0; }
p { margin: .3em 0; max-width: 60em; }
.sottotitolo { color: #444; }
.allarme { border: 2px solid #b00; padding: .4em .6em; color: #b00; font-weight: bold; }
table { border-collapse: collapse; margin: .3em 0; }
th, td { border: 1px solid #999; padding: 2px 5px; vertical-align: top; text-align: left; }
thead th { background: #e4e4e4; }
thead { display: table-header-group; }
tr { page-break-inside: avoid; }
td.numero { text-align: right; white-space: nowrap; }
td.codice, td.data { white-space: nowrap; font-family: "DejaVu Sans Mono", Consolas, monospace; }
#previsione td { text-align: right; min-width: 3em; font-weight: bold; }
tr.invio td.esito { background: #dff0d8; }
tr.inviato td.esito { background: #eeeeee; }
tr.scartato td.esito { background: #f9e0b0; }
tr.errore td.esito { background: #f4c7c3; }
* { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
@page { size: A4 landscape; margin: 12mm; }
@media print { body { margin: 0; font-size: 8.5pt; } h2 { page-break-after: avoid; } }
)";

void tabellaPrevisione(const RapportoVerifica& rapporto, std::string& out) {
    out += "<table id=\"previsione\">\n";
    for (const Contatore& contatore : kContatori) {
        const int n = contatore.esito ? rapporto.conteggio(*contatore.esito) : 0;
        out += "<tr><th>" + html(contatore.etichetta) + "</th><td>" + std::to_string(n) +
               "</td></tr>\n";
    }
    out += "</table>\n";
}

void intestazione(const RapportoVerifica& rapporto, std::string& out) {
    const std::string quando =
        workstation::formatDateTime(rapporto.quando, workstation::shortDateFormat() + " HH:mm:ss");
    out += "<h1>Verifica dell'invio KVT</h1>\n<p class=\"sottotitolo\">Medico <b>" +
           html(rapporto.medico) + "</b> · " + html(quando) + " · Vello KVT versione " +
           html(rapporto.versione) + "</p>\n";
    out +=
        "<p>La verifica non ha inviato nulla e non ha modificato alcun file di lavoro. I "
        "conteggi sono ciò che farà il prossimo «Riprendi», se il servizio accetta ogni file "
        "inviato e la connessione non manca.</p>\n";
    if (!rapporto.fileMancanti.empty()) {
        std::string elenco;
        for (const std::string& file : rapporto.fileMancanti) {
            elenco += (elenco.empty() ? "" : ", ") + file;
        }
        out +=
            "<p class=\"allarme\">Il prossimo «Riprendi» si fermerà ai controlli iniziali, "
            "senza elaborare alcun paziente: mancano " +
            html(elenco) + ".</p>\n";
    }
    tabellaPrevisione(rapporto, out);

    int rifiutati = 0;
    int conDatiMancanti = 0;
    for (const RigaVerifica& riga : rapporto.righe) {
        if (riga.esito == EsitoPrevisto::Scartato && riga.mancanti.empty() &&
            !riga.codiceFiscale.empty()) {
            ++rifiutati;
        }
        if (!riga.mancanti.empty()) {
            ++conDatiMancanti;
        }
    }
    out +=
        "<p>«Nuovo Invio» farebbe diversamente: svuota le cartelle di lavoro e ritenta "
        "anche i pazienti rifiutati dal servizio (" +
        std::to_string(rifiutati) + " qui) e quelli con dati obbligatori mancanti (" +
        std::to_string(conDatiMancanti) +
        " qui, da correggere prima nella cartella clinica); rifà i tracciati in attesa di "
        "connessione invece di riprenderli, e non rinvia chi è già stato accettato e non è "
        "stato visitato dopo.</p>\n";
}

void sezioneQualita(const RapportoVerifica& rapporto, std::string& out) {
    out +=
        "<h2>Qualità dei dati</h2>\n<h3>Dati obbligatori mancanti</h3>\n"
        "<table id=\"obbligatori\"><thead><tr><th>Dato</th><th>Elemento</th>"
        "<th>Pazienti senza</th></tr></thead><tbody>\n";
    for (const ElementoObbligatorio& elemento : elementiObbligatori()) {
        out += "<tr><td>" + html(elemento.etichetta) + "</td><td>" + html(elemento.elemento) +
               "</td><td class=\"numero\">" +
               std::to_string(rapporto.mancantiPer(elemento.elemento)) + "</td></tr>\n";
    }
    out += "</tbody></table>\n";

    out += "<h3>Da correggere per primi</h3>\n";
    std::vector<const RigaVerifica*> bloccati;
    for (const RigaVerifica& riga : rapporto.righe) {
        if (riga.esito == EsitoPrevisto::Scartato || riga.esito == EsitoPrevisto::ErroreCreazione) {
            bloccati.push_back(&riga);
        }
    }
    // Missing data first: what the office can put right in the host itself.
    std::stable_sort(bloccati.begin(), bloccati.end(),
                     [](const RigaVerifica* a, const RigaVerifica* b) {
                         return !a->mancanti.empty() && b->mancanti.empty();
                     });
    if (bloccati.empty()) {
        out += "<p>Nessun paziente è bloccato.</p>\n";
    } else {
        out +=
            "<table id=\"bloccati\"><thead><tr><th>N.</th><th>Cognome e nome</th>"
            "<th>Codice fiscale</th><th>Motivo</th></tr></thead><tbody>\n";
        for (const RigaVerifica* riga : bloccati) {
            out += "<tr><td class=\"numero\">" + std::to_string(riga->posizione) + "</td><td>" +
                   html(riga->nome) + "</td><td class=\"codice\">" + html(riga->codiceFiscale) +
                   "</td><td>" + html(riga->motivo) + "</td></tr>\n";
        }
        out += "</tbody></table>\n";
    }

    out += "<h3>Avvisi</h3>\n";
    if (rapporto.avvisi.empty()) {
        out +=
            "<p>Nessun valore tagliato, sì/no non riconosciuto o data illeggibile nei tracciati da "
            "inviare.</p>\n";
        return;
    }
    out +=
        "<p>Valori scritti comunque nel tracciato, ma non come sono nella cartella "
        "clinica.</p>\n<table id=\"avvisi\"><thead><tr><th>N.</th><th>Cognome e nome</th>"
        "<th>Elemento</th><th>Valore</th><th>Avviso</th></tr></thead><tbody>\n";
    for (const AvvisoPaziente& avviso : rapporto.avvisi) {
        out += "<tr><td class=\"numero\">" + std::to_string(avviso.posizione) + "</td><td>" +
               html(avviso.nome) + "</td><td>" + html(avviso.avviso.elemento) + "</td><td>" +
               html(avviso.avviso.valore) + "</td><td>" + html(testoAvviso(avviso.avviso)) +
               "</td></tr>\n";
    }
    out += "</tbody></table>\n";
}

void tabellaPazienti(const RapportoVerifica& rapporto, std::string& out) {
    const Formato formato{workstation::decimalSeparator()};
    out += "<h2>Pazienti</h2>\n<table id=\"pazienti\"><thead><tr>";
    for (const Colonna& colonna : kColonne) {
        out += "<th>" + html(colonna.titolo) + "</th>";
    }
    out += "</tr></thead>\n<tbody>\n";
    for (const RigaVerifica& riga : rapporto.righe) {
        out += "<tr class=\"" + std::string(classeEsito(riga.esito)) + "\">";
        for (const Colonna& colonna : kColonne) {
            out += *colonna.classe ? "<td class=\"" + std::string(colonna.classe) + "\">" : "<td>";
            out += html(colonna.valore(riga, formato)) + "</td>";
        }
        out += "</tr>\n";
    }
    out += "</tbody></table>\n";
}

}  // namespace

int RapportoVerifica::conteggio(EsitoPrevisto esito) const {
    return static_cast<int>(std::count_if(
        righe.begin(), righe.end(), [esito](const RigaVerifica& r) { return r.esito == esito; }));
}

int RapportoVerifica::mancantiPer(std::string_view elemento) const {
    return static_cast<int>(std::count_if(righe.begin(), righe.end(), [&](const RigaVerifica& r) {
        return std::find(r.mancanti.begin(), r.mancanti.end(), elemento) != r.mancanti.end();
    }));
}

std::span<const ElementoObbligatorio> elementiObbligatori() {
    return kElementiObbligatori;
}

std::string etichettaElemento(std::string_view elemento) {
    for (const ElementoObbligatorio& noto : kElementiObbligatori) {
        if (noto.elemento == elemento) {
            return std::string(noto.etichetta) + " (" + std::string(elemento) + ")";
        }
    }
    return std::string(elemento);
}

std::string testoPrevisione(const RapportoVerifica& rapporto) {
    // The labels and blanks of the run's own summary, so that the two read alike.
    return "Inviati: " + std::to_string(rapporto.conteggio(EsitoPrevisto::DaInviare)) +
           "\r\nGià inviati: " + std::to_string(rapporto.conteggio(EsitoPrevisto::GiaInviato)) +
           "\r\nScartati dal server:" +
           std::to_string(rapporto.conteggio(EsitoPrevisto::Scartato)) + "\r\nErrore creazione:" +
           std::to_string(rapporto.conteggio(EsitoPrevisto::ErroreCreazione)) +
           "\r\nErrore connessione invio:0";
}

std::string rapportoHtml(const RapportoVerifica& rapporto) {
    std::string out =
        "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"it\">\n<head>\n"
        "<meta charset=\"utf-8\"/>\n<title>Verifica KVT - medico " +
        html(rapporto.medico) + "</title>\n<style>" + kStile + "</style>\n</head>\n<body>\n";
    intestazione(rapporto, out);
    sezioneQualita(rapporto, out);
    tabellaPazienti(rapporto, out);
    out += "</body>\n</html>\n";
    return out;
}

std::string rapportoCsv(const RapportoVerifica& rapporto, std::string_view separatore,
                        std::string_view decimale) {
    const Formato formato{std::string(decimale)};
    std::string out = "\xEF\xBB\xBF";
    const auto riga = [&](const std::function<std::string(const Colonna&)>& campo) {
        bool primo = true;
        for (const Colonna& colonna : kColonne) {
            if (!primo) {
                out += separatore;
            }
            primo = false;
            out += protezione_rapporto::cellaCsv(campo(colonna), separatore);
        }
        out += "\r\n";
    };
    riga([](const Colonna& colonna) { return std::string(colonna.titolo); });
    for (const RigaVerifica& paziente : rapporto.righe) {
        riga([&](const Colonna& colonna) { return colonna.valore(paziente, formato); });
    }
    return out;
}

}  // namespace kvt
