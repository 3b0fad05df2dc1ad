// built in the sections branch
#include "record/tld_crea_nodo.h"

namespace kvt {

bool TldCreaNodo::carica_trxPrescrizioniEsami_LAB_STR_SPE() {
    return true;
}

Sezione TldCreaNodo::carica_trxPrescrizioneEsameLaboratorio(const std::string&) {
    return Sezione{};
}

XmlNode TldCreaNodo::carica_trxPrescrizioneEsameStrumentale(const std::string&) {
    return documento.createElement("trxPrescrizioneEsameStrumentale");
}

XmlNode TldCreaNodo::carica_trxPrescrizioneVisitaSpec(const std::string&) {
    return documento.createElement("trxPrescrizioneVisitaSpec");
}

Sezione TldCreaNodo::dammi_trxPrescrizioniEsamiLaboratorio() {
    return Sezione{};
}
Sezione TldCreaNodo::dammi_trxPrescrizioniEsamiStrumentali() {
    return Sezione{};
}
Sezione TldCreaNodo::dammi_trxPrescrizioniVisiteSpec() {
    return Sezione{};
}

std::string TldCreaNodo::cercaRisultatoVariazione(const std::string&) {
    return {};
}

}  // namespace kvt
