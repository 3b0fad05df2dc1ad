// built in the sections branch
#include "record/tld_crea_nodo.h"

namespace kvt {

Sezione TldCreaNodo::carica_trxPrescrizioniRiabilitazioni() {
    return Sezione{};
}

XmlNode TldCreaNodo::carica_trxPrescrizioneRiabilitazione(const std::string&) {
    return documento.createElement("trxPrescrizioneRiabilitazione");
}

Sezione TldCreaNodo::carica_trxPrescrizioniFarmaci() {
    return Sezione{};
}

XmlNode TldCreaNodo::carica_trxPrescrizioneFarmaco(const std::string&) {
    return documento.createElement("trxPrescrizioneFarmaco");
}

}  // namespace kvt
