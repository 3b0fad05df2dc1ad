// Extra services and monitoring measurements.
#include <array>

#include "record/tld_crea_nodo.h"

namespace kvt {

namespace {

constexpr std::array<Campo, 8> kCampiPrestazioneExtra = {{
    {"trxDataPrestazione", Fonte::Host, "data_esecuzione", "DATE", 8},
    {"trxTipoErogazione", Fonte::Vuoto, "", "ANF", 1},
    {"trxCodPrestazione", Fonte::Vuoto, "", "AN", 2},
    {"trxPrestazione", Fonte::Host, "nome_prestazione", "AN", 100},
    {"trxCodICD", Fonte::Vuoto, "", "ANF", 7},
    {"trxDiagnosi", Fonte::Host, "breve_nota_prestazione", "AN", 100},
    {"trxValore", Fonte::Vuoto, "", "DEC", 0},
    {"trxNote", Fonte::Vuoto, "", "MEMO", 0},
}};

// Measurement types: blood pressure from its own dataset, the other three from
// the examination prescriptions filtered by their symbolic code.
constexpr std::string_view kPressione = "pressione";
constexpr std::array<std::string_view, 3> codiciMisura = {"height", "weight", "circonferenza_vita"};

// The measurement values of one item, by name.
constexpr std::string_view kPeso = "peso";
constexpr std::string_view kAltezza = "altezza";
constexpr std::string_view kCirconferenza = "circonferenza_vita";
constexpr std::string_view kSistolica = "pressione_massima";
constexpr std::string_view kDiastolica = "pressione_minima";
constexpr std::string_view kFrequenza = "frequenza_cardiaca";

// Which column gives which value for which measurement type; the values of
// the other types stay empty.
struct Lettura {
    std::string_view tipo;
    std::string_view valore;
    std::string_view colonna;
};
constexpr std::array<Lettura, 6> kLetture = {{
    {kPressione, kSistolica, "pressione_massima"},
    {kPressione, kDiastolica, "pressione_minima"},
    {kPressione, kFrequenza, "frequenza_cardiaca"},
    {"height", kAltezza, "risultato_valore_breve"},
    {"weight", kPeso, "risultato_valore_breve"},
    {"circonferenza_vita", kCirconferenza, "risultato_valore_breve"},
}};

// Every measurement item has all eleven children; "NUM" keeps the whole part.
constexpr std::array<Campo, 11> kCampiMonitoraggio = {{
    {"trxDataRilevazione", Fonte::Host, "data_esecuzione", "DATE", 8},
    {"trxPeso", Fonte::Valore, kPeso, "NUM", 0},
    {"trxAltezza", Fonte::Valore, kAltezza, "NUM", 0},
    {"trxCirconfAddome", Fonte::Valore, kCirconferenza, "NUM", 0},
    {"trxPressSistolica", Fonte::Valore, kSistolica, "NUM", 0},
    {"trxPressDiastolica", Fonte::Valore, kDiastolica, "NUM", 0},
    {"trxOrtoClino", Fonte::Vuoto, "", "ANF", 1},
    {"trxFreqCardiaca", Fonte::Valore, kFrequenza, "NUM", 0},
    {"trxRitmoCardiaco", Fonte::Vuoto, "", "AN", 1},
    {"trxLatoMisurazione", Fonte::Vuoto, "", "ANF", 2},
    {"trxNote", Fonte::Vuoto, "", "MEMO", 0},
}};

}  // namespace

Sezione TldCreaNodo::carica_trxPrestazioniExtra() {
    // A changes-only record carries no extra services.
    if (modalita == 1) {
        return Sezione{};
    }
    return caricaLista(
        "trxPrestazioniExtra", "prestazione_incentivante", filtroPaziente(false),
        [this](const std::string& handle) { return carica_trxPrestazioneExtra(handle); });
}

XmlNode TldCreaNodo::carica_trxPrestazioneExtra(const std::string& handle) {
    XmlNode voce = documento.createElement("trxPrestazioneExtra");
    scriviCampi(voce, kCampiPrestazioneExtra, lettoreRiga(handle));
    return voce;
}

Sezione TldCreaNodo::carica_trxMonitoraggi() {
    XmlNode lista = documento.createElement("trxMonitoraggi");
    const std::string filtro = filtroPaziente(true);
    bool trovataRiga = false;

    trovataRiga |= accodaVoci(lista, "pressione", filtro, [this](const std::string& handle) {
                       return carica_trxMonitoraggio(handle, kPressione);
                   }).righe > 0;
    for (const std::string_view codice : codiciMisura) {
        trovataRiga |=
            accodaVoci(lista, "prescrizione_accertamento",
                       filtro + "|filtro_lista_codici_accertamento_spaziati=" + std::string(codice),
                       [this, codice](const std::string& handle) {
                           return carica_trxMonitoraggio(handle, codice);
                       })
                .righe > 0;
    }
    return trovataRiga ? lista : Sezione{};
}

XmlNode TldCreaNodo::carica_trxMonitoraggio(const std::string& handle, std::string_view tipo) {
    XmlNode voce = documento.createElement("trxMonitoraggio");
    std::vector<ValoreCalcolato> valori;
    valori.reserve(kLetture.size());
    for (const Lettura& lettura : kLetture) {
        valori.push_back(
            {lettura.valore, lettura.tipo == tipo
                                 ? leggiAttributoRiga(std::string(lettura.colonna), handle)
                                 : std::string()});
    }
    scriviCampi(voce, kCampiMonitoraggio, lettoreRiga(handle, std::move(valori)));
    return voce;
}

}  // namespace kvt
