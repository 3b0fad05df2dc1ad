// Identification and personal data: the two sections that open every full
// record. The patient is known to the project only by the pseudonym of the
// fiscal code; names, addresses and contacts are written empty.
#include <array>

#include "common/clock.h"
#include "common/general_functions.h"
#include "common/registry.h"
#include "common/utf.h"
#include "pshlib/pshlib.h"
#include "record/tld_crea_nodo.h"

namespace kvt {

namespace {

constexpr std::string_view kAttributoAsl = "asl_di_assistenza\\asl\\codice_asl";

constexpr std::array<Campo, 5> kCampiIdentificazione = {{
    {"trxCodInterno", Fonte::Vuoto, "", "AN", 8},
    {"trxCodRegioneAssistito", Fonte::Valore, "regione", "OBL_ANF", 3},
    {"trxCodAslAssistito", Fonte::Host, kAttributoAsl, "OBL_ANF", 3},
    {"trxCodFiscaleAssistito", Fonte::Valore, "pseudonimo", "OBL_ANF", 40},
    {"trxCodFiscaleMedico", Fonte::Vuoto, "", "ANF", 16},
}};

constexpr std::array<Campo, 48> kCampiAnagrafica = {{
    {"trxCognome", Fonte::Vuoto, "", "AN", 40},
    {"trxNome", Fonte::Vuoto, "", "AN", 40},
    {"trxSesso", Fonte::Host, "sesso", "OBL_ANF", 1},
    {"trxDataNascita", Fonte::Host, "data_nascita", "OBL_DATE", 8},
    {"trxCodComuneNascita", Fonte::Vuoto, "", "ANF", 6},
    {"trxComuneNascita", Fonte::Vuoto, "", "AN", 45},
    {"trxCodNazionalita", Fonte::Vuoto, "", "ANF", 6},
    {"trxNazionalita", Fonte::Vuoto, "", "AN", 45},
    {"trxTipoAssistito", Fonte::Vuoto, "", "ANF", 2},
    {"trxCodRegionale", Fonte::Vuoto, "", "AN", 16},
    {"trxIndirizzoResidenza", Fonte::Vuoto, "", "AN", 50},
    {"trxCapResidenza", Fonte::Vuoto, "", "ANF", 5},
    {"trxCodResidenza", Fonte::Vuoto, "", "ANF", 6},
    {"trxComuneResidenza", Fonte::Vuoto, "", "AN", 45},
    {"trxFrazioneResidenza", Fonte::Vuoto, "", "AN", 45},
    {"trxNumeroTelefono", Fonte::Vuoto, "", "AN", 20},
    {"trxCognomeRiferimento", Fonte::Vuoto, "", "AN", 40},
    {"trxNomeRiferimento", Fonte::Vuoto, "", "AN", 40},
    {"trxNumeroTelefonoRiferimento", Fonte::Vuoto, "", "AN", 20},
    {"trxSiglaProvinciaResidenza", Fonte::Vuoto, "", "ANF", 2},
    {"trxNumDistretto", Fonte::Vuoto, "", "ANF", 2},
    {"trxDistretto", Fonte::Vuoto, "", "AN", 45},
    {"trxGruppoSang", Fonte::Host, "gruppo_sanguigno", "ANF", 1},
    {"trxFattoreRH", Fonte::Host, "attributi_paziente\\rh", "ANF", 1},
    {"trxSottoGruppoSang", Fonte::Vuoto, "", "ANF", 10},
    {"trxEmail", Fonte::Vuoto, "", "AN", 50},
    {"trxCodProfessione", Fonte::Vuoto, "", "ANF", 6},
    {"trxProfessione", Fonte::Vuoto, "", "AN", 50},
    {"trxCodStatoCivile", Fonte::Vuoto, "", "ANF", 1},
    {"trxCodTitoloStudio", Fonte::Vuoto, "", "ANF", 2},
    {"trxStatusAssistito", Fonte::Vuoto, "", "ANF", 1},
    {"trxDataSceltaMedico", Fonte::Host, "mmg_data_scelta", "DATE", 8},
    {"trxDataRevocaMedico", Fonte::Valore, "revoca", "DATE", 8},
    {"trxDataScadAssistenza", Fonte::Valore, "scadenza", "DATE", 8},
    {"trxCausaRevoca", Fonte::Vuoto, "", "ANF", 1},
    {"trxDataDecesso", Fonte::Host, "decesso\\data_evento", "DATE", 8},
    {"trxCodICDDecesso", Fonte::Host, "decesso\\codice_icd9_cm", "ANF", 7},
    {"trxCodIstologicoNeoplasia", Fonte::Vuoto, "", "ANF", 7},
    {"trxCausaDecesso", Fonte::Host, "decesso\\causa", "AN", 100},
    {"trxCognomeMedico", Fonte::Vuoto, "", "AN", 40},
    {"trxNomeMedico", Fonte::Vuoto, "", "AN", 40},
    {"trxCodRegionaleMedico", Fonte::Vuoto, "", "AN", 10},
    {"trxCodAslMedico", Fonte::Vuoto, "", "ANF", 3},
    {"trxProvAslMedico", Fonte::Vuoto, "", "ANF", 2},
    {"trxNote", Fonte::Vuoto, "", "MEMO", 0},
    {"trxConsensoTD", Fonte::Vuoto, "", "B", 1},
    {"trxAutorizzaDO", Fonte::Vuoto, "", "B", 1},
    {"trxDiniegoAT", Fonte::Vuoto, "", "B", 1},
}};

// The pseudonym of a fiscal code. PSHCalc hashes bytes: it is given the
// code's Windows-1252 bytes whenever the code has them, so that the same code
// gives the same pseudonym on every workstation, else its UTF-8 bytes. Its
// result buffer is overwritten by the next call, so it is copied at once.
std::string pseudonimo(const std::string& codiceFiscale) {
    const std::optional<std::string> cp1252 = utf8ToWindows1252(codiceFiscale);
    const std::string& byte = cp1252 ? *cp1252 : codiceFiscale;
    const char* risultato = PSHCalc(byte.c_str());
    return risultato ? std::string(risultato) : std::string();
}

// A revocation date still to come is the end of the patient's assistance,
// not a revocation.
bool revocaFutura(const std::string& revoca) {
    if (revoca.empty()) {
        return false;
    }
    const DataLetta data = testoAData(revoca);
    return data.valida && clock::now().date() < data.valore;
}

}  // namespace

Sezione TldCreaNodo::carica_trxIdentificazione() {
    if (modalita == 1) {
        return Sezione{};
    }
    XmlNode sezione = documento.createElement("trxIdentificazione");
    std::string regione = leggiAttributoPaziente(std::string(kAttributoAsl));
    if (regione.empty()) {
        regione = leggiStringaRegistro(registry::Root::LocalMachine,
                                       "\\SOFTWARE\\Quintara-Kelvano\\OPZIONI", "regione");
    }
    scriviCampi(sezione, kCampiIdentificazione, [&](const Campo& campo) -> std::string {
        if (campo.fonte == Fonte::Host) {
            return leggiAttributoPaziente(std::string(campo.sorgente));
        }
        if (campo.sorgente == "regione") {
            return regione;
        }
        return pseudonimo(leggiAttributoPaziente("codice_fiscale"));
    });
    return sezione;
}

Sezione TldCreaNodo::carica_trxAnagrafica() {
    if (modalita == 1) {
        return Sezione{};
    }
    std::string revoca = leggiAttributoPaziente("mmg_data_revoca");
    std::string scadenza;
    if (revocaFutura(revoca)) {
        scadenza = std::move(revoca);
        revoca.clear();
    }
    XmlNode sezione = documento.createElement("trxAnagrafica");
    scriviCampi(sezione, kCampiAnagrafica, [&](const Campo& campo) -> std::string {
        if (campo.fonte == Fonte::Host) {
            return leggiAttributoPaziente(std::string(campo.sorgente));
        }
        return campo.sorgente == "revoca" ? revoca : scadenza;
    });
    return sezione;
}

}  // namespace kvt
