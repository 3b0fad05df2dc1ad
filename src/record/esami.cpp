// Examination prescriptions with their results. One pass over the host's
// examination prescriptions routes every row to the laboratory list, the
// instrumental list or the specialist-visit list (or to none); the record then
// asks for the three lists in that order.
//
// In a changes-only record a prescription whose result the service already
// knows (its row is in the change document) is sent as its result alone,
// addressed by the service's row id ("dbID"). In a full record of mode 0, an
// examination still without result or report carries its own host id as
// "dbID", so that the result sent later can find it.
#include <array>
#include <exception>
#include <span>
#include <string>

#include "common/errors.h"
#include "common/radix.h"
#include "record/tld_crea_nodo.h"

namespace kvt {

namespace {

// Values worked out before a table is written (Fonte::Valore).
constexpr std::string_view kDataPrescrizione = "data_prescrizione";  // dammiDataPrescrizione
constexpr std::string_view kDataEsecuzione = "data_esecuzione";
constexpr std::string_view kValoreRisultato = "risultato_valore_breve";
constexpr std::string_view kReferto = "risultato_referto";

constexpr std::string_view kDataset = "prescrizione_accertamento";
constexpr std::string_view kColonnaId = "id_prescrizione_vd";
constexpr std::string_view kDbId = "dbID";

constexpr auto kNonInVariazioni = Condizione::NonInVariazioni;

// Children of trxPrescrizione in a laboratory item.
constexpr std::array<Campo, 21> kCampiPrescrizioneLaboratorio = {{
    {"trxCodInterno", Fonte::Vuoto, "", "AN", 8, kNonInVariazioni},
    {"trxCodPrestazione", Fonte::Host, "codice_nomenclatore_tariffario", "ANF", 7},
    {"trxCodRegionalePrestazione", Fonte::Vuoto, "", "AN", 15},
    {"trxCodificaRegionale", Fonte::Vuoto, "", "ANF", 4},
    {"trxPrestazione", Fonte::Host, "nome_prescrizione", "AN", 100},
    {"trxDataPrescrizione", Fonte::Valore, kDataPrescrizione, "DATE", 8},
    {"trxCodICD", Fonte::Vuoto, "", "ANF", 7},
    {"trxCodIstologicoNeoplasia", Fonte::Vuoto, "", "ANF", 7},
    {"trxDiagnosi", Fonte::Vuoto, "", "AN", 100},
    {"trxSuggAltro", Fonte::Vuoto, "", "ANF", 1},
    {"trxUBDP", Fonte::Vuoto, "", "ANF", 1},
    {"trxQuantita", Fonte::Vuoto, "", "NUM", 0},
    {"trxNumEsamiRicetta", Fonte::Vuoto, "", "ANF", 1},
    {"trxPatologico", Fonte::Host, "codice_vd_fuori_norma", "B", 1},
    {"trxSuggerimento", Fonte::Vuoto, "", "AN", 100},
    {"trxCosto", Fonte::Vuoto, "", "DEC", 0},
    {"trxCodEsenzione", Fonte::Vuoto, "", "ANF", 6},
    {"trxCodRegionaleEsenzione", Fonte::Vuoto, "", "ANF", 8},
    {"trxDataFollowUp", Fonte::Vuoto, "", "DATE", 8},
    {"trxNote", Fonte::Vuoto, "", "MEMO", 0},
    {"trxInviatoCUP", Fonte::Vuoto, "", "B", 1},
}};

// Children of trxRisultato in a laboratory item. The four mandatory ones are
// written "(mancante)" when the host has no value, without failing the record.
constexpr std::array<Campo, 5> kCampiRisultatoLaboratorio = {{
    {"trxDataEsecuzione", Fonte::Valore, kDataEsecuzione, "OBL_DATE", 8},
    {"trxCodInterno", Fonte::Vuoto, "", "MEMO", 0, kNonInVariazioni},
    {"trxDexRisultato", Fonte::Host, "nome_prescrizione", "OBL_AN", 100},
    {"trxEsito", Fonte::Valore, kValoreRisultato, "OBL_ANF", 10},
    {"trxUnitaMisura", Fonte::Host, "risultato_unita_di_misura", "OBL_ANF", 10},
}};

// Children of the trxRisultato that carries the service's row id (changes only).
constexpr std::array<Campo, 3> kCampiSoloRisultatoLaboratorio = {{
    {"trxDataEsecuzione", Fonte::Valore, kDataEsecuzione, "DATE", 8},
    {"trxEsito", Fonte::Host, "risultato_valore_breve", "ANF", 10},
    {"trxUnitaMisura", Fonte::Host, "risultato_unita_di_misura", "ANF", 10},
}};

constexpr std::array<Campo, 21> kCampiEsameStrumentale = {{
    {"trxCodInterno", Fonte::Vuoto, "", "AN", 8, kNonInVariazioni},
    {"trxCodPrestazione", Fonte::Host, "codice_nomenclatore_tariffario", "ANF", 7},
    {"trxCodRegionalePrestazione", Fonte::Vuoto, "", "AN", 15},
    {"trxCodificaRegionale", Fonte::Vuoto, "", "ANF", 4},
    {"trxPrestazione", Fonte::Host, "nome_prescrizione", "AN", 100},
    {"trxDataPrescrizione", Fonte::Valore, kDataPrescrizione, "DATE", 8},
    {"trxDataEsecuzione", Fonte::Host, "data_esecuzione", "DATE", 8},
    {"trxCodICD", Fonte::Vuoto, "", "ANF", 7},
    {"trxCodIstologicoNeoplasia", Fonte::Vuoto, "", "ANF", 7},
    {"trxDiagnosi", Fonte::Vuoto, "", "AN", 100},
    {"trxSuggAltro", Fonte::Vuoto, "", "ANF", 1},
    {"trxUBDP", Fonte::Vuoto, "", "ANF", 1},
    {"trxQuantita", Fonte::Vuoto, "", "NUM", 0},
    {"trxReferto", Fonte::Valore, kReferto, "MEMO", 0},
    {"trxPatologico", Fonte::Host, "codice_vd_fuori_norma", "B", 1},
    {"trxSuggerimento", Fonte::Vuoto, "", "AN", 100},
    {"trxCosto", Fonte::Host, "prezzo_unitario_euro", "DEC", 0},
    {"trxCodRegionaleEsenzione", Fonte::Vuoto, "", "ANF", 8},
    {"trxDataFollowUp", Fonte::Vuoto, "", "DATE", 8},
    {"trxNote", Fonte::Vuoto, "", "MEMO", 0},
    {"trxInviatoCUP", Fonte::Vuoto, "", "B", 1},
}};

constexpr std::array<Campo, 22> kCampiVisitaSpec = {{
    {"trxCodInterno", Fonte::Vuoto, "", "AN", 8, kNonInVariazioni},
    {"trxCodPrestazione", Fonte::Host, "codice_nomenclatore_tariffario", "ANF", 7},
    {"trxCodRegionalePrestazione", Fonte::Vuoto, "", "AN", 15},
    {"trxCodificaRegionale", Fonte::Vuoto, "", "ANF", 4},
    {"trxPrestazione", Fonte::Host, "nome_prescrizione", "AN", 100},
    {"trxDataPrescrizione", Fonte::Valore, kDataPrescrizione, "DATE", 8},
    {"trxDataEsecuzione", Fonte::Host, "data_esecuzione", "DATE", 8},
    {"trxCodICD", Fonte::Vuoto, "", "ANF", 7},
    {"trxDiagnosi", Fonte::Vuoto, "", "AN", 100},
    {"trxSuggAltro", Fonte::Vuoto, "", "ANF", 1},
    {"trxUBDP", Fonte::Vuoto, "", "ANF", 1},
    {"trxQuantita", Fonte::Vuoto, "", "NUM", 0},
    {"trxCodICDReferto", Fonte::Vuoto, "", "ANF", 7},
    {"trxCodIstologicoNeoplasia", Fonte::Vuoto, "", "ANF", 7},
    {"trxReferto", Fonte::Valore, kReferto, "MEMO", 0},
    {"trxSuggerimento", Fonte::Vuoto, "", "AN", 100},
    {"trxCosto", Fonte::Host, "prezzo_unitario_euro", "DEC", 0},
    {"trxCodEsenzione", Fonte::Vuoto, "", "ANF", 6},
    {"trxCodRegionaleEsenzione", Fonte::Vuoto, "", "ANF", 8},
    {"trxDataFollowUp", Fonte::Vuoto, "", "DATE", 8},
    {"trxNote", Fonte::Vuoto, "", "MEMO", 0},
    {"trxInviatoCUP", Fonte::Vuoto, "", "B", 1},
}};

// Children of an instrumental or visit item that carries the service's row id
// (changes only): the report and its date.
constexpr std::array<Campo, 2> kCampiSoloReferto = {{
    {"trxDataEsecuzione", Fonte::Host, "data_esecuzione", "DATE", 8},
    {"trxReferto", Fonte::Valore, kReferto, "MEMO", 0},
}};

constexpr std::string_view kErroreRiga = "ERR_carica_trxPrescrizioniEsami_LAB_STR_SPE riga: ";

// An instrumental examination or a specialist visit: both are an item with a
// report, differing only in element name, counter and table.
XmlNode voceConReferto(TldCreaNodo& b, const std::string& handle, std::string_view elemento,
                       int& contatore, std::span<const Campo> campi) {
    ++contatore;
    const std::string referto = b.leggiAttributoRiga(std::string(kReferto), handle);
    if (b.modalita == 1) {
        const std::string rowId =
            b.cercaRisultatoVariazione(b.leggiAttributoRiga(std::string(kColonnaId), handle));
        if (!rowId.empty()) {
            XmlNode voce = b.creaNodoAttributo(elemento, kDbId, rowId);
            b.scriviCampi(voce, kCampiSoloReferto, b.lettoreRiga(handle, {{kReferto, referto}}));
            return voce;
        }
    }
    XmlNode voce =
        b.modalita == 0 && referto.empty()
            ? b.creaNodoAttributo(elemento, kDbId,
                                  string2hex(b.leggiAttributoRiga(std::string(kColonnaId), handle)))
            : b.documento.createElement(elemento);
    b.scriviCampi(voce, campi,
                  b.lettoreRiga(handle, {{kDataPrescrizione, b.dammiDataPrescrizione(handle)},
                                         {kReferto, referto}}));
    return voce;
}

std::string messaggio(std::exception_ptr errore) {
    try {
        std::rethrow_exception(errore);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return {};
    }
}

}  // namespace

bool TldCreaNodo::carica_trxPrescrizioniEsami_LAB_STR_SPE() {
    esamiLaboratorio = documento.createElement("trxPrescrizioniEsamiLaboratorio");
    esamiStrumentali = documento.createElement("trxPrescrizioniEsamiStrumentali");
    visiteSpec = documento.createElement("trxPrescrizioniVisiteSpec");
    numEsamiLaboratorio = 0;
    numEsamiStrumentali = 0;
    numVisiteSpec = 0;

    scorriDataset(kDataset, filtroPaziente(true), [this](const std::string& handle, int riga) {
        // A row that fails is reported and left out, counters included, so
        // that no list is handed out without an item; the next rows still count.
        const int laboratorio = numEsamiLaboratorio;
        const int strumentali = numEsamiStrumentali;
        const int visite = numVisiteSpec;
        try {
            const std::string tariffa =
                leggiAttributoRiga("codice_nomenclatore_tariffario", handle);
            const std::string tipo = leggiAttributoRiga("codice_vd_tipo_prescrizione", handle);
            const std::string classe = dammiTipoPrescrizione(tipo, tariffa);
            if (classe == "lab") {
                if (const Sezione voce = carica_trxPrescrizioneEsameLaboratorio(handle)) {
                    esamiLaboratorio.appendChild(voce);
                }
            } else if (classe == "str") {
                esamiStrumentali.appendChild(carica_trxPrescrizioneEsameStrumentale(handle));
            } else if (classe == "spe") {
                visiteSpec.appendChild(carica_trxPrescrizioneVisitaSpec(handle));
            }
        } catch (const HostPerso&) {
            // A lost host is no faulty row: the whole record is void.
            throw;
        } catch (...) {
            numEsamiLaboratorio = laboratorio;
            numEsamiStrumentali = strumentali;
            numVisiteSpec = visite;
            testoErrori += std::string(kErroreRiga) + std::to_string(riga - 1) +
                           " - errore:" + messaggio(std::current_exception()) + "\r\n";
        }
    });
    return true;
}

Sezione TldCreaNodo::carica_trxPrescrizioneEsameLaboratorio(const std::string& handle) {
    // A laboratory examination not yet done has nothing to tell.
    const std::string dataEsecuzione = leggiAttributoRiga(std::string(kDataEsecuzione), handle);
    if (dataEsecuzione.empty()) {
        return Sezione{};
    }
    ++numEsamiLaboratorio;
    XmlNode voce = documento.createElement("trxPrescrizioneEsameLaboratorio");
    XmlNode risultati = documento.createElement("trxRisultati");

    if (modalita == 1) {
        const std::string rowId =
            cercaRisultatoVariazione(leggiAttributoRiga(std::string(kColonnaId), handle));
        if (!rowId.empty()) {
            XmlNode risultato = creaNodoAttributo("trxRisultato", kDbId, rowId);
            scriviCampi(risultato, kCampiSoloRisultatoLaboratorio,
                        lettoreRiga(handle, {{kDataEsecuzione, dataEsecuzione}}));
            risultati.appendChild(risultato);
            voce.appendChild(risultati);
            return voce;
        }
    }

    XmlNode prescrizione = documento.createElement("trxPrescrizione");
    scriviCampi(prescrizione, kCampiPrescrizioneLaboratorio,
                lettoreRiga(handle, {{kDataPrescrizione, dammiDataPrescrizione(handle)}}));

    const std::string valore = leggiAttributoRiga(std::string(kValoreRisultato), handle);
    XmlNode risultato =
        modalita == 0 && valore.empty()
            ? creaNodoAttributo("trxRisultato", kDbId,
                                string2hex(leggiAttributoRiga(std::string(kColonnaId), handle)))
            : documento.createElement("trxRisultato");
    scriviCampi(
        risultato, kCampiRisultatoLaboratorio,
        lettoreRiga(handle, {{kDataEsecuzione, dataEsecuzione}, {kValoreRisultato, valore}}));
    risultati.appendChild(risultato);

    voce.appendChild(prescrizione);
    voce.appendChild(risultati);
    return voce;
}

XmlNode TldCreaNodo::carica_trxPrescrizioneEsameStrumentale(const std::string& handle) {
    return voceConReferto(*this, handle, "trxPrescrizioneEsameStrumentale", numEsamiStrumentali,
                          kCampiEsameStrumentale);
}

XmlNode TldCreaNodo::carica_trxPrescrizioneVisitaSpec(const std::string& handle) {
    return voceConReferto(*this, handle, "trxPrescrizioneVisitaSpec", numVisiteSpec,
                          kCampiVisitaSpec);
}

Sezione TldCreaNodo::dammi_trxPrescrizioniEsamiLaboratorio() {
    return numEsamiLaboratorio > 0 ? esamiLaboratorio : Sezione{};
}

Sezione TldCreaNodo::dammi_trxPrescrizioniEsamiStrumentali() {
    return numEsamiStrumentali > 0 ? esamiStrumentali : Sezione{};
}

Sezione TldCreaNodo::dammi_trxPrescrizioniVisiteSpec() {
    return numVisiteSpec > 0 ? visiteSpec : Sezione{};
}

std::string TldCreaNodo::cercaRisultatoVariazione(const std::string& idPrescrizione) {
    if (!xmlVariazione) {
        return {};
    }
    // string2hex leaves only hexadecimal digits: nothing of the id can alter the path.
    const XmlNode riga = xmlVariazione->selectSingleNode("//riga[rowid_vellodoc='" +
                                                         string2hex(idPrescrizione) + "']");
    if (riga.isNull()) {
        return {};
    }
    // A matching row without "rowid_esterno" raises here: the row is reported.
    std::string rowId = riga.selectSingleNode("rowid_esterno").text();
    return rowId == "ERR" ? std::string() : rowId;
}

}  // namespace kvt
