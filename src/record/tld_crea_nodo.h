#pragma once
// The patient record builder: one TldCreaNodo per record reads the patient
// from the host section by section, passes every value through one field
// writer and hands back the record element with its error text.
//
// Sections are written from static tables of fields (element, host source,
// kind, length) walked by scriviCampi, and the list sections read host
// datasets through the one list pattern (scorriDataset / accodaVoci /
// caricaLista).
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/xml_document.h"
#include "host/tvellopat.h"

namespace kvt {

// What a section gives: its element, or the null node ("nothing") when the
// record has no such section (or a row gives no item).
using Sezione = XmlNode;

// Where a field's value comes from.
enum class Fonte {
    Vuoto,   // always written without a value
    Host,    // the host attribute of the patient, or the column of the current row, `sorgente`
    Valore,  // a value the section works out itself, named `sorgente`
};

// When a field is written at all.
enum class Condizione {
    Sempre,
    NonInVariazioni,  // left out of a changes-only record (modalita 1)
};

// One row of a section table: creaNodo's element name, kind and length, and
// where the value comes from.
struct Campo {
    std::string_view elemento;
    Fonte fonte;
    std::string_view sorgente;
    std::string_view tipo;
    int lunghezza;
    Condizione condizione = Condizione::Sempre;
};

// A value written although it failed its kind's check, or a date that could
// not be read as year-month-day: what a report of the data's quality lists.
struct AvvisoCampo {
    std::string elemento;
    std::string valore;  // as testoAvvisi quotes it
    std::string tipo;    // the base kind: "AN" cut, "ANF" of another length, "B" not understood,
                         // "DATE" not a date
    int lunghezza = 0;
};

// A value a section worked out before writing its table, for its Valore fields.
struct ValoreCalcolato {
    std::string_view nome;
    std::string testo;
};

// Gives the value of a Host or Valore field; called right before the field is
// written, so host reads happen in table order.
using LettoreCampo = std::function<std::string(const Campo& campo)>;

// Builds the item of the dataset row made current by "setrow"; nothing when
// the row gives no item.
using CostruttoreVoce = std::function<Sezione(const std::string& handle)>;

// Called for every row of a dataset once "setrow" made it current; `riga` is
// the row number given to "setrow" (1 for the first row).
using VisitaRiga = std::function<void(const std::string& handle, int riga)>;

// What one run of the list pattern found.
struct EsitoLista {
    int righe = 0;  // the dataset's row count (0 when it answered 0 or less)
    int voci = 0;   // items appended to the list
};

class TldCreaNodo {
  public:
    // The creation: never fails outwards. A failure inside it replaces
    // testoErrori with "ERR_TldCreaNodo.create!" and the builder is used as it is.
    TldCreaNodo(int modalita, Tvellopat& host);
    // As above, with `documento` a handle on the record's own document: the
    // sections are then moved into the record, never copied, so that a large
    // record is held once and not twice.
    TldCreaNodo(int modalita, Tvellopat& host, const XmlDocument& documentoRecord);
    virtual ~TldCreaNodo();
    TldCreaNodo(const TldCreaNodo&) = delete;
    TldCreaNodo& operator=(const TldCreaNodo&) = delete;

    // -- The record's state --------------------------------------------------
    // 0 full record with the patient selected, 1 changes only, 2 full record of
    // the patient the caller made current.
    const int modalita;
    // Lower bound of the change window (mode 1 only), as the change document holds it.
    std::string datatimeVariazione;
    // string2hex of the host's "id_paziente_vd": what every filter carries after "codice=".
    std::string codicePaziente;
    // Not owned; every host read goes through it.
    Tvellopat& host;
    // Creates every element of the sections; the caller's document receives them.
    XmlDocument documento;
    // The change document (mode 1 only).
    std::optional<XmlDocument> xmlVariazione;
    // The three examination lists and their item counts, filled by the
    // examination pass and handed out by the dammi_ getters.
    Sezione esamiLaboratorio;
    Sezione esamiStrumentali;
    Sezione visiteSpec;
    int numEsamiLaboratorio = 0;
    int numEsamiStrumentali = 0;
    int numVisiteSpec = 0;
    // Error lines, each "ERR_..." + CR LF; the creation's messages replace it.
    std::string testoErrori;
    // Values written although they failed their kind's check (an "AN" text cut,
    // an "ANF" text of another length, a "B" text not understood): for each,
    // CR LF + "Nome:" + element + " Valore:" + value + " Tipo:" + kind + " Atteso:" + length;
    // a value of more than 200 characters is quoted by its first 200 and "...".
    std::string testoAvvisi;
    // The same warnings one by one, and the dates that are no year-month-day
    // date (written all the same, as the upload format always had them).
    std::vector<AvvisoCampo> avvisi;

    // -- Change window -------------------------------------------------------
    // The text of "datatime_acquisizione_cartella" in the change document;
    // replaces testoErrori with an error line when it is unusable.
    std::string dammiDatatimeVariazione();
    // "codice=" + codicePaziente, and in mode 1 with `finestra` the window
    // clause "|variato_dopo_datatime=" + datatimeVariazione, once.
    std::string filtroPaziente(bool finestra) const;

    // -- Field writer --------------------------------------------------------
    // A new element whose text is controllaCampo of the arguments (not yet appended).
    XmlNode creaNodo(std::string_view elemento, std::string_view valore, std::string_view tipo,
                     int lunghezza);
    // A new element with one attribute set to the value as given, and no text.
    XmlNode creaNodoAttributo(std::string_view elemento, std::string_view attributo,
                              std::string_view valore);
    // The text the upload format expects for the value of this kind and length;
    // an empty mandatory value adds its line to testoErrori.
    std::string controllaCampo(std::string_view elemento, std::string_view valore,
                               std::string_view tipo, int lunghezza);
    std::string leggiAttributoPaziente(const std::string& attributo);
    std::string leggiAttributoRiga(const std::string& colonna, const std::string& handle);
    // "data_richiesta" of the current row, or "data_esecuzione_presunta" when it is empty.
    std::string dammiDataPrescrizione(const std::string& handle);
    // "lab", "str", "spe", or empty for a row that is not exported.
    static std::string dammiTipoPrescrizione(std::string_view tipo, std::string_view tariffa);

    // Appends to `padre` one creaNodo element per field of the table, in table
    // order; `leggi` gives the value of every field that is not Vuoto. Fields
    // marked NonInVariazioni are left out in mode 1.
    void scriviCampi(XmlNode padre, std::span<const Campo> campi, const LettoreCampo& leggi);
    // A reader for tables whose Host fields are columns of the current row and
    // whose Valore fields are found by name in `valori` (a name missing there
    // is a fault of the table and raises std::logic_error).
    LettoreCampo lettoreRiga(const std::string& handle, std::vector<ValoreCalcolato> valori = {});

    // -- List pattern --------------------------------------------------------
    // Creates the dataset object, loads it with the filter, reads the row count
    // (str2int: a count that is not a number raises ConversionError), makes
    // each row current in turn and hands it to `visita`, and destroys the
    // object, also when an error leaves. The row count, 0 when 0 or less.
    int scorriDataset(std::string_view dataset, const std::string& filtro,
                      const VisitaRiga& visita);
    // Appends to `lista`, in row order, the item `voce` builds for each row.
    EsitoLista accodaVoci(XmlNode lista, std::string_view dataset, const std::string& filtro,
                          const CostruttoreVoce& voce);
    // A list section over one dataset: the list element `elemento` holding one
    // item per row, or nothing when the dataset has no row.
    Sezione caricaLista(std::string_view elemento, std::string_view dataset,
                        const std::string& filtro, const CostruttoreVoce& voce);

    // -- Sections, in the order of the record --------------------------------
    // Identification and personal data (modes 0 and 2 only).
    Sezione carica_trxIdentificazione();
    Sezione carica_trxAnagrafica();
    // Allergies (every mode) and exemptions (modes 0 and 2).
    Sezione carica_trxAllergie();
    XmlNode carica_trxAllergia(const std::string& handle, std::string_view tipo);
    Sezione carica_trxEsenzioni();
    XmlNode carica_trxEsenzione(const std::string& handle);
    // Life style (every mode) and clinical problems (modes 0 and 2).
    Sezione carica_trxStileVita();
    Sezione carica_trxProblemiClinici();
    XmlNode carica_trxProblemaClinico(const std::string& handle);
    // The examination pass: fills the three examination lists; always true.
    bool carica_trxPrescrizioniEsami_LAB_STR_SPE();
    // Nothing for a row without an execution date.
    Sezione carica_trxPrescrizioneEsameLaboratorio(const std::string& handle);
    XmlNode carica_trxPrescrizioneEsameStrumentale(const std::string& handle);
    XmlNode carica_trxPrescrizioneVisitaSpec(const std::string& handle);
    Sezione dammi_trxPrescrizioniEsamiLaboratorio();
    Sezione dammi_trxPrescrizioniEsamiStrumentali();
    Sezione dammi_trxPrescrizioniVisiteSpec();
    // The external row id of a host prescription in the change document, or empty.
    std::string cercaRisultatoVariazione(const std::string& idPrescrizione);
    // Rehabilitation and drug prescriptions.
    Sezione carica_trxPrescrizioniRiabilitazioni();
    XmlNode carica_trxPrescrizioneRiabilitazione(const std::string& handle);
    Sezione carica_trxPrescrizioniFarmaci();
    XmlNode carica_trxPrescrizioneFarmaco(const std::string& handle);
    // Extra services and monitoring.
    Sezione carica_trxPrestazioniExtra();
    XmlNode carica_trxPrestazioneExtra(const std::string& handle);
    Sezione carica_trxMonitoraggi();
    XmlNode carica_trxMonitoraggio(const std::string& handle, std::string_view tipo);

  private:
    // Creation steps b to g, under their one guard.
    void crea();
};

// Appends the section to the parent when there is one; the parent in either case.
XmlNode accodaNodo(XmlNode padre, const Sezione& sezione);
// True when the text begins with exactly "ERR_".
bool isErrore(std::string_view testo);

// One patient's record for the upload file.
struct Cartella {
    XmlNode elemento;         // trxCartella, or trxCartellaVariazioni in mode 1
    std::string testoErrori;  // the record failed when isErrore(testoErrori)
    std::string testoAvvisi;  // values written although they failed their kind's check
    std::vector<AvvisoCampo> avvisi;
};

// Builds the record of the patient in mode 0, 1 or 2, creating the record
// element with `documento` (the upload file) and appending the sections to it.
// The builder creates the sections in that same document, so they are moved
// into the record and never held twice.
// An error raised inside a section (a row count that is not a number, a DOM
// failure) ends the record and reaches the caller.
Cartella creaCartella(XmlDocument& documento, int modalita, Tvellopat& host);

}  // namespace kvt
