// Life style and clinical problems. The host keeps smoking and physical
// activity as results of two examination codes; the record condenses them
// into three coded values. Each problem is a suspected or a final diagnosis.
#include <array>

#include "record/testi.h"
#include "record/tld_crea_nodo.h"

namespace kvt {

namespace {

// The two examinations, with a result, in date order. "attività" is written
// with the single character U+00E0 (UTF-8 C3 A0).
constexpr std::string_view kClausoleStileVita =
    "|filtro_lista_codici_accertamento_spaziati=anamnesi_fumo attivit\xC3\xA0_fisica"
    "|filtro_solo_con_risultato|ordinamento=ordine_data";

constexpr std::string_view kCodiceAttivitaFisica = "2835";
constexpr std::string_view kCodiceFumo = "2832";

struct VoceAttivita {
    std::string_view risultato;
    std::string_view attivita;
};
constexpr std::array<VoceAttivita, 4> kAttivitaFisica = {{
    {"ASSENTE", "1"},
    {"LEGGERA", "2"},
    {"MEDIA", "3"},
    {"PESANTE", "4"},
}};

struct VoceFumo {
    std::string_view risultato;
    std::string_view stato;
    std::string_view quantita;
};
constexpr std::array<VoceFumo, 12> kFumo = {{
    {"X", "1", ""},
    {"N", "1", ""},
    {"E", "2", ""},
    {"M", "2", ""},
    {"F", "2", ""},
    {"Z", "2", ""},
    {"U", "2", ""},
    {"1", "3", "1"},
    {"2", "3", "2"},
    {"3", "3", "3"},
    {"S", "4", ""},
    {"5", "5", ""},
}};

constexpr std::array<Campo, 3> kCampiStileVita = {{
    {"trxAttivitaFisica", Fonte::Valore, "attivita", "NUM", 0},
    {"trxStatoFumatore", Fonte::Valore, "stato", "NUM", 0},
    {"trxQuantitaFumo", Fonte::Valore, "quantita", "NUM", 0},
}};

constexpr std::array<Campo, 14> kCampiProblemaClinico = {{
    {"trxCodICDSospetto", Fonte::Valore, "codice_sospetto", "ANF", 7},
    {"trxProblemaSospetto", Fonte::Valore, "problema_sospetto", "ANF", 100},
    {"trxDataInizio", Fonte::Vuoto, "", "DATE", 8},
    {"trxDataApertura", Fonte::Host, "data_inizio", "DATE", 8},
    {"trxSintomi", Fonte::Vuoto, "", "MEMO", 0},
    {"trxObiettivo", Fonte::Vuoto, "", "MEMO", 0},
    {"trxOrientDiagnosi", Fonte::Vuoto, "", "MEMO", 0},
    {"trxDataDiagnosiCerta", Fonte::Vuoto, "", "DATE", 8},
    {"trxCodICDFinale", Fonte::Valore, "codice_finale", "ANF", 7},
    {"trxCodIstologicoNeoplasia", Fonte::Vuoto, "", "ANF", 7},
    {"trxProblemaFinale", Fonte::Valore, "problema_finale", "AN", 100},
    {"trxDataChiusura", Fonte::Vuoto, "", "DATE", 8},
    {"trxSoluzioneProblema", Fonte::Vuoto, "", "ANF", 1},
    {"trxNote", Fonte::Vuoto, "", "MEMO", 0},
}};

}  // namespace

Sezione TldCreaNodo::carica_trxStileVita() {
    XmlNode sezione = documento.createElement("trxStileVita");
    std::string attivita;
    std::string stato;
    std::string quantita;
    // The last row of each code decides, also when its result is not understood.
    scorriDataset(
        "prescrizione_accertamento", filtroPaziente(false) + std::string(kClausoleStileVita),
        [&](const std::string& handle, int) {
            const std::string codice = leggiAttributoRiga("codice_vd_prescrizione", handle);
            if (codice == kCodiceAttivitaFisica) {
                attivita.clear();
                const std::string risultato =
                    maiuscoloAscii(leggiAttributoRiga("risultato_valore_breve", handle));
                for (const VoceAttivita& voce : kAttivitaFisica) {
                    if (voce.risultato == risultato) {
                        attivita = voce.attivita;
                    }
                }
            } else if (codice == kCodiceFumo) {
                stato.clear();
                quantita.clear();
                const std::string risultato =
                    maiuscoloAscii(leggiAttributoRiga("risultato_valore_breve", handle));
                for (const VoceFumo& voce : kFumo) {
                    if (voce.risultato == risultato) {
                        stato = voce.stato;
                        quantita = voce.quantita;
                    }
                }
            }
        });
    if (attivita.empty() && stato.empty() && quantita.empty()) {
        return Sezione{};
    }
    scriviCampi(sezione, kCampiStileVita, [&](const Campo& campo) -> std::string {
        if (campo.sorgente == "attivita") {
            return attivita;
        }
        return campo.sorgente == "stato" ? stato : quantita;
    });
    return sezione;
}

Sezione TldCreaNodo::carica_trxProblemiClinici() {
    if (modalita == 1) {
        return Sezione{};
    }
    return caricaLista(
        "trxProblemiClinici", "problema", filtroPaziente(false),
        [this](const std::string& handle) { return carica_trxProblemaClinico(handle); });
}

XmlNode TldCreaNodo::carica_trxProblemaClinico(const std::string& handle) {
    XmlNode voce = documento.createElement("trxProblemaClinico");
    std::string codice = leggiAttributoRiga("codice_icd9_cm", handle);
    std::string nome = leggiAttributoRiga("nome_problema", handle);
    const bool sospetto = leggiAttributoRiga("certezza", handle) == "S";
    std::vector<ValoreCalcolato> valori;
    valori.push_back({"codice_sospetto", sospetto ? codice : std::string()});
    valori.push_back({"problema_sospetto", sospetto ? nome : std::string()});
    valori.push_back({"codice_finale", sospetto ? std::string() : codice});
    valori.push_back({"problema_finale", sospetto ? std::string() : nome});
    scriviCampi(voce, kCampiProblemaClinico, lettoreRiga(handle, std::move(valori)));
    return voce;
}

}  // namespace kvt
