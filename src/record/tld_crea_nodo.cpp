// The builder's creation, the change window and the record assembly.
#include "record/tld_crea_nodo.h"

#include <array>

#include "common/errors.h"
#include "common/general_functions.h"
#include "common/radix.h"

namespace kvt {

namespace {

constexpr std::string_view kNodoDatatime = "datatime_acquisizione_cartella";

}  // namespace

TldCreaNodo::TldCreaNodo(int modalitaRecord, Tvellopat& hostAdapter)
    : modalita(modalitaRecord), host(hostAdapter) {
    crea();
}

TldCreaNodo::TldCreaNodo(int modalitaRecord, Tvellopat& hostAdapter,
                         const XmlDocument& documentoRecord)
    : modalita(modalitaRecord), host(hostAdapter), documento(documentoRecord.sharedHandle()) {
    crea();
}

TldCreaNodo::~TldCreaNodo() = default;

void TldCreaNodo::crea() {
    testoErrori.clear();
    try {
        codicePaziente = string2hex(leggiAttributoPaziente("id_paziente_vd"));
        if (modalita != 2) {
            host.select_single(codicePaziente);
        }
        if (modalita == 1) {
            const std::string xml = host.leggi_attributo("large_string:vd-xtac");
            if (CaricaXmlVariazione(xmlVariazione, xml)) {
                datatimeVariazione = dammiDatatimeVariazione();
            } else {
                testoErrori = "ERR_CaricaXmlVariazione: errore recupero xml!";
            }
        }
    } catch (const HostPerso&) {
        // Without a host there is no record to build, not even a faulty one.
        throw;
    } catch (...) {
        // Whatever fails here, the record is still built on what was set.
        testoErrori = "ERR_TldCreaNodo.create!";
    }
}

std::string TldCreaNodo::dammiDatatimeVariazione() {
    std::string testo = XMLSelectSingle(xmlVariazione, kNodoDatatime);
    if (testo.empty() || testo == "empty") {
        testoErrori = "ERR_dammiDatatimeVariazione: sDataTime non valida!";
    }
    return testo;
}

std::string TldCreaNodo::filtroPaziente(bool finestra) const {
    std::string filtro = "codice=" + codicePaziente;
    if (finestra && modalita == 1) {
        filtro += "|variato_dopo_datatime=" + datatimeVariazione;
    }
    return filtro;
}

XmlNode accodaNodo(XmlNode padre, const Sezione& sezione) {
    if (sezione) {
        padre.appendChild(sezione);
    }
    return padre;
}

bool isErrore(std::string_view testo) {
    return testo.starts_with("ERR_");
}

namespace {

// The record's steps in order; the examination pass (step 7) fills the three
// lists that the next three steps hand out, and gives no element itself.
using Passo = Sezione (*)(TldCreaNodo&);
constexpr std::array<Passo, 14> kPassi = {
    +[](TldCreaNodo& b) { return b.carica_trxIdentificazione(); },
    +[](TldCreaNodo& b) { return b.carica_trxAnagrafica(); },
    +[](TldCreaNodo& b) { return b.carica_trxAllergie(); },
    +[](TldCreaNodo& b) { return b.carica_trxEsenzioni(); },
    +[](TldCreaNodo& b) { return b.carica_trxStileVita(); },
    +[](TldCreaNodo& b) { return b.carica_trxProblemiClinici(); },
    +[](TldCreaNodo& b) {
        b.carica_trxPrescrizioniEsami_LAB_STR_SPE();
        return Sezione{};
    },
    +[](TldCreaNodo& b) { return b.dammi_trxPrescrizioniEsamiLaboratorio(); },
    +[](TldCreaNodo& b) { return b.dammi_trxPrescrizioniEsamiStrumentali(); },
    +[](TldCreaNodo& b) { return b.dammi_trxPrescrizioniVisiteSpec(); },
    +[](TldCreaNodo& b) { return b.carica_trxPrescrizioniRiabilitazioni(); },
    +[](TldCreaNodo& b) { return b.carica_trxPrescrizioniFarmaci(); },
    +[](TldCreaNodo& b) { return b.carica_trxPrestazioniExtra(); },
    +[](TldCreaNodo& b) { return b.carica_trxMonitoraggi(); },
};

}  // namespace

Cartella creaCartella(XmlDocument& documento, int modalita, Tvellopat& host) {
    TldCreaNodo builder(modalita, host, documento);
    XmlNode cartella =
        documento.createElement(modalita == 1 ? "trxCartellaVariazioni" : "trxCartella");
    for (const Passo passo : kPassi) {
        accodaNodo(cartella, passo(builder));
    }
    return {cartella, builder.testoErrori, builder.testoAvvisi, std::move(builder.avvisi)};
}

}  // namespace kvt
