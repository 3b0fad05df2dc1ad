// Rehabilitation and drug prescriptions: one item per host row.
#include <array>

#include "record/tld_crea_nodo.h"

namespace kvt {

namespace {

constexpr std::array<Campo, 17> kCampiRiabilitazione = {{
    {"trxCodPrestazione", Fonte::Vuoto, "", "ANF", 7},
    {"trxCodRegionalePrestazione", Fonte::Vuoto, "", "AN", 15},
    {"trxCodificaRegionale", Fonte::Vuoto, "", "ANF", 4},
    {"trxPrestazione", Fonte::Host, "nome_prescrizione", "AN", 100},
    {"trxDataPrescrizione", Fonte::Host, "data_prescrizione", "DATE", 8},
    {"trxDataEsecuzione", Fonte::Vuoto, "", "DATE", 8},
    {"trxCodICD", Fonte::Vuoto, "", "ANF", 7},
    {"trxDiagnosi", Fonte::Vuoto, "", "AN", 100},
    {"trxSuggAltro", Fonte::Vuoto, "", "ANF", 1},
    {"trxUBDP", Fonte::Vuoto, "", "ANF", 1},
    {"trxQuantita", Fonte::Host, "quantita", "NUM", 0},
    {"trxSuggerimento", Fonte::Vuoto, "", "AN", 100},
    {"trxCosto", Fonte::Host, "prezzo_unitario_euro", "DEC", 0},
    {"trxCodEsenzione", Fonte::Vuoto, "", "ANF", 6},
    {"trxCodRegionaleEsenzione", Fonte::Vuoto, "", "ANF", 8},
    {"trxNote", Fonte::Vuoto, "", "MEMO", 0},
    {"trxInviatoCUP", Fonte::Vuoto, "", "B", 1},
}};

// Drug and package, worked out of the host's one "nome_prescrizione".
constexpr std::string_view kFarmaco = "farmaco";
constexpr std::string_view kConfezione = "confezione";

// Every text of a drug item is "ANF": none is ever cut.
constexpr std::array<Campo, 19> kCampiFarmaco = {{
    {"trxCodAIC", Fonte::Host, "codice_minsan", "ANF", 9},
    {"trxFarmaco", Fonte::Valore, kFarmaco, "ANF", 25},
    {"trxConfezione", Fonte::Valore, kConfezione, "ANF", 50},
    {"trxDataPrescrizione", Fonte::Host, "data_prescrizione", "DATE", 8},
    {"trxCodICD", Fonte::Vuoto, "", "ANF", 7},
    {"trxCodIstologicoNeoplasia", Fonte::Vuoto, "", "ANF", 7},
    {"trxDiagnosi", Fonte::Vuoto, "", "ANF", 100},
    {"trxSuggAltro", Fonte::Vuoto, "", "ANF", 1},
    {"trxUBDP", Fonte::Vuoto, "", "ANF", 1},
    {"trxNotaAIFA", Fonte::Vuoto, "", "ANF", 3},
    {"trxQuantita", Fonte::Host, "quantita", "NUM", 0},
    {"trxClasse", Fonte::Host, "farmaco_fascia", "ANF", 2},
    {"trxContinuativo", Fonte::Host, "farmaco_continuativo", "B", 1},
    {"trxPosologia", Fonte::Host, "posologia", "ANF", 100},
    {"trxSuggerimento", Fonte::Vuoto, "", "ANF", 100},
    {"trxCosto", Fonte::Vuoto, "", "DEC", 0},
    {"trxCodEsenzione", Fonte::Vuoto, "", "ANF", 7},
    {"trxCodRegionaleEsenzione", Fonte::Vuoto, "", "ANF", 7},
    {"trxNote", Fonte::Vuoto, "", "ANF", 7},
}};

}  // namespace

Sezione TldCreaNodo::carica_trxPrescrizioniRiabilitazioni() {
    // A changes-only record carries no rehabilitation.
    if (modalita == 1) {
        return Sezione{};
    }
    return caricaLista(
        "trxPrescrizioniRiabilitazioni", "prescrizione_varia", filtroPaziente(false),
        [this](const std::string& handle) { return carica_trxPrescrizioneRiabilitazione(handle); });
}

XmlNode TldCreaNodo::carica_trxPrescrizioneRiabilitazione(const std::string& handle) {
    XmlNode voce = documento.createElement("trxPrescrizioneRiabilitazione");
    scriviCampi(voce, kCampiRiabilitazione, lettoreRiga(handle));
    return voce;
}

Sezione TldCreaNodo::carica_trxPrescrizioniFarmaci() {
    return caricaLista(
        "trxPrescrizioniFarmaci", "prescrizione_farmaco", filtroPaziente(true),
        [this](const std::string& handle) { return carica_trxPrescrizioneFarmaco(handle); });
}

XmlNode TldCreaNodo::carica_trxPrescrizioneFarmaco(const std::string& handle) {
    XmlNode voce = documento.createElement("trxPrescrizioneFarmaco");
    // The host writes "DRUG*PACKAGE": the drug text keeps the "*", the package
    // is what follows it; a name without "*" gives neither.
    const std::string nome = leggiAttributoRiga("nome_prescrizione", handle);
    std::string farmaco;
    std::string confezione;
    if (const auto stella = nome.find('*'); stella != std::string::npos) {
        farmaco = nome.substr(0, stella + 1);
        confezione = nome.substr(stella + 1);
    }
    scriviCampi(voce, kCampiFarmaco,
                lettoreRiga(handle, {{kFarmaco, farmaco}, {kConfezione, confezione}}));
    return voce;
}

}  // namespace kvt
