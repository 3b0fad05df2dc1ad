// The DTD check with libxml2. The DTD is parsed once; each document is parsed
// from memory without network, without loading its external DTD or its
// external entities, then validated against the parsed DTD.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <mutex>

#include "common/validazione_dtd.h"

namespace kvt {
namespace {

using namespace validazione_dtd;

// Set while this thread parses or validates for a ValidatoreDtd: the entity
// loader then refuses every outside resource, whatever the parser options
// would allow; other users of libxml2 in the process keep the loader they had.
thread_local bool tDentroControllo = false;
xmlExternalEntityLoader gCaricatorePrecedente = nullptr;

xmlParserInputPtr caricaEntita(const char* url, const char* id, xmlParserCtxtPtr contesto) {
    if (tDentroControllo || !gCaricatorePrecedente) {
        return nullptr;
    }
    return gCaricatorePrecedente(url, id, contesto);
}

void preparaLibxml() {
    static std::once_flag una;
    std::call_once(una, [] {
        xmlInitParser();
        gCaricatorePrecedente = xmlGetExternalEntityLoader();
        xmlSetExternalEntityLoader(caricaEntita);
    });
}

// The first error libxml2 reports on this thread while it lives: nothing goes
// to the standard error, and the thread's own handlers come back afterwards.
class PrimoErrore {
  public:
    PrimoErrore()
        : strutturato_(xmlStructuredError),
          contestoStrutturato_(xmlStructuredErrorContext),
          generico_(xmlGenericError),
          contestoGenerico_(xmlGenericErrorContext) {
        tDentroControllo = true;
        xmlSetStructuredErrorFunc(this, raccogli);
        xmlSetGenericErrorFunc(nullptr, ignora);
    }
    ~PrimoErrore() {
        xmlSetStructuredErrorFunc(contestoStrutturato_, strutturato_);
        xmlSetGenericErrorFunc(contestoGenerico_, generico_);
        tDentroControllo = false;
    }
    PrimoErrore(const PrimoErrore&) = delete;
    PrimoErrore& operator=(const PrimoErrore&) = delete;

    bool visto = false;
    int riga = 0;
    std::string testo;

  private:
    static void raccogli(void* contesto, xmlErrorPtr errore) {
        auto* primo = static_cast<PrimoErrore*>(contesto);
        if (primo->visto || !errore || errore->level < XML_ERR_ERROR) {
            return;
        }
        primo->visto = true;
        primo->riga = errore->line;
        if (primo->riga == 0 && errore->node) {
            primo->riga = static_cast<int>(xmlGetLineNo(static_cast<const xmlNode*>(errore->node)));
        }
        primo->testo = errore->message ? errore->message : "";
    }
    static void ignora(void*, const char*, ...) {}

    xmlStructuredErrorFunc strutturato_;
    void* contestoStrutturato_;
    xmlGenericErrorFunc generico_;
    void* contestoGenerico_;
};

// libxml2 states a content model fault as "..., expecting (model), got
// (children)": in a long element the model alone overflows the line, and
// what was found tells more about the record.
std::string senzaModelloLungo(const std::string& premessa, std::string testo) {
    const std::size_t atteso = testo.find(", expecting ");
    const std::size_t trovato = testo.find(", got ", atteso);
    if (atteso != std::string::npos && trovato != std::string::npos &&
        motivoBreve(premessa, testo).find("\xE2\x80\xA6") != std::string::npos) {
        testo.erase(atteso, trovato - atteso);
    }
    return motivoBreve(premessa, testo);
}

std::string conRiga(std::string premessa, int riga) {
    return riga > 0 ? premessa + " (riga " + std::to_string(riga) + ")" : premessa;
}

struct LiberaDoc {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct LiberaParser {
    void operator()(xmlParserCtxt* contesto) const { xmlFreeParserCtxt(contesto); }
};
struct LiberaValidazione {
    void operator()(xmlValidCtxt* contesto) const { xmlFreeValidCtxt(contesto); }
};

}  // namespace

struct ValidatoreDtd::Stato {
    xmlDtdPtr dtd = nullptr;
    std::string motivoDtd;
    // Validation builds each element's content automaton in the shared DTD
    // the first time it meets the element: one validation at a time. The
    // parser is kept between documents with its dictionary of names, which
    // a run's records share almost whole.
    std::mutex validazione;
    std::unique_ptr<xmlParserCtxt, LiberaParser> parser;
    ~Stato() { xmlFreeDtd(dtd); }
};

ValidatoreDtd::ValidatoreDtd(const std::string& fileDtd) : stato_(std::make_unique<Stato>()) {
    preparaLibxml();
    const TestoDtd letto = leggiDtd(fileDtd);
    if (!letto.letto) {
        stato_->motivoDtd = letto.motivo;
        return;
    }
    if (letto.testo.size() > INT_MAX) {
        stato_->motivoDtd = "DTD non valida: " + fileDtd;
        return;
    }
    PrimoErrore errore;
    // Parsed from memory, so that it has no place of its own that a
    // relative name in it could be resolved against.
    xmlParserInputBufferPtr ingresso = xmlParserInputBufferCreateMem(
        letto.testo.data(), static_cast<int>(letto.testo.size()), XML_CHAR_ENCODING_UTF8);
    stato_->dtd = ingresso ? xmlIOParseDTD(nullptr, ingresso, XML_CHAR_ENCODING_UTF8) : nullptr;
    if (!stato_->dtd || errore.visto) {
        xmlFreeDtd(stato_->dtd);
        stato_->dtd = nullptr;
        stato_->motivoDtd =
            motivoBreve(conRiga("DTD non valida: " + fileDtd, errore.riga), errore.testo);
    }
}

ValidatoreDtd::~ValidatoreDtd() = default;

bool ValidatoreDtd::pronto() const {
    return stato_->dtd != nullptr;
}

const std::string& ValidatoreDtd::motivoDtd() const {
    return stato_->motivoDtd;
}

ValidatoreDtd::Esito ValidatoreDtd::valida(std::string_view documento) const {
    Esito esito;
    const std::optional<Doctype> doctype = doctypeDaControllare(*this, documento, esito.motivo);
    if (!doctype) {
        return esito;
    }
    if (documento.size() > INT_MAX) {
        esito.motivo = "XML non ben formato: documento troppo grande";
        return esito;
    }
    PrimoErrore errore;
    std::lock_guard blocco(stato_->validazione);
    if (!stato_->parser) {
        stato_->parser.reset(xmlNewParserCtxt());
    }
    xmlParserCtxt* parser = stato_->parser.get();
    if (!parser) {
        esito.motivo = "memoria insufficiente per la verifica DTD";
        return esito;
    }
    // No network, and neither the DTD the document names nor its entities
    // are loaded or substituted: the document is taken as it is written.
    std::unique_ptr<xmlDoc, LiberaDoc> doc(xmlCtxtReadMemory(
        parser, documento.data(), static_cast<int>(documento.size()), nullptr, "UTF-8",
        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_COMPACT));
    if (!doc || !parser->wellFormed) {
        esito.motivo = motivoBreve(conRiga("XML non ben formato", errore.riga), errore.testo);
        return esito;
    }
    const xmlNode* radice = xmlDocGetRootElement(doc.get());
    const std::string nomeRadice =
        radice && radice->name ? reinterpret_cast<const char*>(radice->name) : "";
    // The DTD stands in for the one the DOCTYPE names, but the root must
    // still be the element the DOCTYPE names.
    if (nomeRadice != doctype->radice) {
        esito.motivo = motivoBreve("non conforme alla DTD", "elemento radice " + nomeRadice +
                                                                " diverso da quello del DOCTYPE (" +
                                                                doctype->radice + ")");
        return esito;
    }
    int risultato = 0;
    {
        std::unique_ptr<xmlValidCtxt, LiberaValidazione> validazione(xmlNewValidCtxt());
        if (!validazione) {
            esito.motivo = "memoria insufficiente per la verifica DTD";
            return esito;
        }
        risultato = xmlValidateDtd(validazione.get(), doc.get(), stato_->dtd);
    }
    if (risultato != 1) {
        esito.motivo = senzaModelloLungo(conRiga("non conforme alla DTD", errore.riga),
                                         errore.visto ? errore.testo : "errore di validazione");
        return esito;
    }
    esito.valido = true;
    return esito;
}

}  // namespace kvt
