// built in the sections branch
#include "record/tld_crea_nodo.h"

namespace kvt {

Sezione TldCreaNodo::carica_trxPrestazioniExtra() {
    return Sezione{};
}

XmlNode TldCreaNodo::carica_trxPrestazioneExtra(const std::string&) {
    return documento.createElement("trxPrestazioneExtra");
}

Sezione TldCreaNodo::carica_trxMonitoraggi() {
    return Sezione{};
}

XmlNode TldCreaNodo::carica_trxMonitoraggio(const std::string&, std::string_view) {
    return documento.createElement("trxMonitoraggio");
}

}  // namespace kvt
