// Allergies and exemptions. The allergy list merges the host's drug
// intolerances (kind "I") with the problems it files under the class of
// allergies (kind "A").
#include <array>

#include "record/tld_crea_nodo.h"

namespace kvt {

namespace {

constexpr std::array<Campo, 8> kCampiAllergia = {{
    {"trxCodATC", Fonte::Vuoto, "", "ANF", 7},
    {"trxMolecola", Fonte::Vuoto, "", "ANF", 100},
    {"trxCodAIC", Fonte::Valore, "codice_aic", "ANF", 9},
    {"trxFarmaco", Fonte::Valore, "farmaco", "AN", 50},
    {"trxTipoAI", Fonte::Valore, "tipo", "ANF", 1},
    {"trxDataIns", Fonte::Vuoto, "", "DATE", 8},
    {"trxDataRilievo", Fonte::Valore, "data_rilievo", "DATE", 8},
    {"trxNote", Fonte::Vuoto, "", "MEMO", 0},
}};

constexpr std::array<Campo, 7> kCampiEsenzione = {{
    {"trxCodEsenzione", Fonte::Host, "codice_nazionale_esenzione", "ANF", 6},
    {"trxDescrizioneEsenzione", Fonte::Host, "nome_esenzione", "AN", 100},
    {"trxCodRegionaleEsenzione", Fonte::Host, "numero_esenzione", "ANF", 8},
    {"trxCodICD", Fonte::Host, "codice_icd9_cm", "ANF", 7},
    {"trxDataInizioEsenzione", Fonte::Host, "data_rilascio", "DATE", 8},
    {"trxDataScadEsenzione", Fonte::Host, "data_scadenza", "DATE", 8},
    {"trxNote", Fonte::Vuoto, "", "MEMO", 0},
}};

constexpr std::string_view kIntolleranza = "I";
constexpr std::string_view kAllergia = "A";

}  // namespace

Sezione TldCreaNodo::carica_trxAllergie() {
    XmlNode lista = documento.createElement("trxAllergie");
    const std::string filtro = filtroPaziente(true);
    const int intolleranze =
        accodaVoci(lista, "intolleranza_da_farmaco", filtro, [this](const std::string& handle) {
            return carica_trxAllergia(handle, kIntolleranza);
        }).voci;
    const int allergie = accodaVoci(lista, "problema", "filtro_classe_patologia=allergie|" + filtro,
                                    [this](const std::string& handle) {
                                        return carica_trxAllergia(handle, kAllergia);
                                    })
                             .voci;
    if (intolleranze + allergie > 0) {
        return lista;
    }
    return Sezione{};
}

XmlNode TldCreaNodo::carica_trxAllergia(const std::string& handle, std::string_view tipo) {
    XmlNode voce = documento.createElement("trxAllergia");
    std::string farmaco;
    std::string dataRilievo;
    std::string codiceAic;
    if (tipo == kAllergia) {
        dataRilievo = leggiAttributoRiga("data_inizio", handle);
    } else {
        farmaco = leggiAttributoRiga("nome_intolleranza", handle);
        dataRilievo = leggiAttributoRiga("data_registrazione", handle);
        codiceAic = leggiAttributoRiga("codice_minsan", handle);
    }
    scriviCampi(voce, kCampiAllergia,
                lettoreRiga(handle, {{"codice_aic", codiceAic},
                                     {"farmaco", farmaco},
                                     {"tipo", std::string(tipo)},
                                     {"data_rilievo", dataRilievo}}));
    return voce;
}

Sezione TldCreaNodo::carica_trxEsenzioni() {
    if (modalita == 1) {
        return Sezione{};
    }
    return caricaLista("trxEsenzioni", "esenzione", filtroPaziente(false),
                       [this](const std::string& handle) { return carica_trxEsenzione(handle); });
}

XmlNode TldCreaNodo::carica_trxEsenzione(const std::string& handle) {
    XmlNode voce = documento.createElement("trxEsenzione");
    scriviCampi(voce, kCampiEsenzione, lettoreRiga(handle));
    return voce;
}

}  // namespace kvt
