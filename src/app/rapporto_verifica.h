#pragma once
// The report of a dry run ("Verifica"): what it found patient by patient and
// what the data's quality is, and its two forms, one HTML page that prints
// well and one CSV file with the same rows for a spreadsheet. Pure text:
// the dry run fills the model, the writers only format it.
#include <cstddef>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/date_time.h"
#include "record/tld_crea_nodo.h"

namespace kvt {

// What the next "Riprendi" does with a patient, by the counter of its summary
// it adds to (none adds to "Errore connessione invio": whether the service
// answers is not known beforehand).
enum class EsitoPrevisto { DaInviare, GiaInviato, Scartato, ErroreCreazione };

// The record's check against the upload file's document type.
enum class Validita { NonControllata, Valida, NonValida };

struct RigaVerifica {
    int posizione = 0;
    std::string nome;  // surname and first name, as the window shows them
    std::string codiceFiscale;
    std::optional<DateTime> ultimaVisita;  // nothing: the host has no visit
    std::optional<DateTime> ultimoInvio;   // nothing: no accepted sending recorded
    EsitoPrevisto esito = EsitoPrevisto::GiaInviato;
    std::string motivo;
    // The empty mandatory elements that keep the record from being sent.
    std::vector<std::string> mancanti;
    std::optional<std::size_t> dimensione;  // bytes of the upload file, when one is sent
    Validita validita = Validita::NonControllata;
    std::string motivoValidita;
};

// A warning of the record builder, with the patient it came from.
struct AvvisoPaziente {
    int posizione = 0;
    std::string nome;
    AvvisoCampo avviso;
};

struct RapportoVerifica {
    std::string medico;
    DateTime quando;
    std::string versione;
    // Files without which the next run stops at its initial checks; the
    // patients are then not walked and every count is 0.
    std::vector<std::string> fileMancanti;
    std::vector<RigaVerifica> righe;
    std::vector<AvvisoPaziente> avvisi;

    // The predicted count of the summary's counter.
    int conteggio(EsitoPrevisto esito) const;
    // How many patients lack the mandatory element.
    int mancantiPer(std::string_view elemento) const;
};

// The mandatory elements a record can lack (empty in the host), with the
// label an office knows them by, in the record's order.
struct ElementoObbligatorio {
    std::string_view elemento;
    std::string_view etichetta;
};
std::span<const ElementoObbligatorio> elementiObbligatori();
// "sesso (trxSesso)"; an element outside the table by its name alone.
std::string etichettaElemento(std::string_view elemento);

// The five lines of a run's summary as the dry run predicts them.
std::string testoPrevisione(const RapportoVerifica& rapporto);

// The report as one self-contained HTML page (well-formed XML as well, so
// that it can be read back by a program); every text escaped.
std::string rapportoHtml(const RapportoVerifica& rapporto);
// The rows as CSV for a spreadsheet of this workstation: UTF-8 with its
// byte-order mark, CR LF, the list separator given, each field a cell of
// protezione_rapporto::cellaCsv, decimals with the decimal separator given.
std::string rapportoCsv(const RapportoVerifica& rapporto, std::string_view separatore,
                        std::string_view decimale);

// How one text of the report is written in each form.
namespace protezione_rapporto {
// The text as HTML (and XML) character data: "&", "<", ">" and both quotes as
// references, control characters but TAB, CR and LF as blanks.
std::string testoHtml(std::string_view testo);
// The text as one CSV cell. A text starting with "=", "+", "-", "@", TAB or
// CR gets a leading "'", so that a spreadsheet shows it instead of running it
// as a formula; the cell is quoted (quotes doubled) when it holds the
// separator, a quote, CR or LF, or starts with TAB.
std::string cellaCsv(std::string_view testo, std::string_view separatore);
}  // namespace protezione_rapporto

}  // namespace kvt
