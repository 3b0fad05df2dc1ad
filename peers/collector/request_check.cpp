#include "collector/request_check.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace kvt::collector {
namespace {

// Nothing is ever fetched while checking a request: neither a document type
// named by the request nor an external entity, from the network or from disk.
xmlParserInputPtr refuseExternalEntity(const char*, const char*, xmlParserCtxtPtr) {
    return nullptr;
}

void silentGenericError(void*, const char*, ...) {}

void initialiseLibxml() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(refuseExternalEntity);
    });
}

// Collects the first validity error of a validation.
struct FirstError {
    bool seen = false;
    int code = 0;
    int line = 0;
    std::string element;
};

void collectError(void* context, xmlErrorPtr error) {
    auto* first = static_cast<FirstError*>(context);
    if (first->seen || !error || error->level < XML_ERR_ERROR) {
        return;
    }
    first->seen = true;
    first->code = error->code;
    first->line = error->line;
    if (const auto* node = static_cast<const xmlNode*>(error->node); node && node->name) {
        first->element = reinterpret_cast<const char*>(node->name);
        if (first->line == 0) {
            first->line = static_cast<int>(xmlGetLineNo(node));
        }
    }
}

// Keeps this thread's libxml2 error reporting on our side for one check.
class QuietErrors {
  public:
    explicit QuietErrors(FirstError* sink) {
        xmlSetGenericErrorFunc(nullptr, silentGenericError);
        xmlSetStructuredErrorFunc(sink, collectError);
    }
    ~QuietErrors() { xmlSetStructuredErrorFunc(nullptr, nullptr); }
};

std::string_view validityReason(int code) {
    switch (code) {
        case XML_DTD_CONTENT_MODEL:
        case XML_DTD_INVALID_CHILD:
        case XML_DTD_NOT_EMPTY:
        case XML_DTD_NOT_PCDATA:
            return "contenuto non conforme al modello";
        case XML_DTD_UNKNOWN_ELEM:
            return "elemento non dichiarato";
        case XML_DTD_MISSING_ATTRIBUTE:
            return "attributo obbligatorio mancante";
        case XML_DTD_UNKNOWN_ATTRIBUTE:
            return "attributo non dichiarato";
        case XML_DTD_ATTRIBUTE_VALUE:
            return "valore di attributo non ammesso";
        case XML_DTD_ROOT_NAME:
        case XML_DTD_NO_ROOT:
            return "elemento radice non atteso";
        default:
            return "documento non conforme";
    }
}

std::string_view nameOf(const xmlNode* node) {
    return node && node->name ? reinterpret_cast<const char*>(node->name) : "";
}

std::vector<const xmlNode*> elementChildren(const xmlNode* parent, std::string_view name = {}) {
    std::vector<const xmlNode*> found;
    for (const xmlNode* child = parent ? parent->children : nullptr; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && (name.empty() || nameOf(child) == name)) {
            found.push_back(child);
        }
    }
    return found;
}

const xmlNode* firstChild(const xmlNode* parent, std::string_view name = {}) {
    const auto found = elementChildren(parent, name);
    return found.empty() ? nullptr : found.front();
}

std::string textOf(const xmlNode* node) {
    if (!node) {
        return {};
    }
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return text;
}

bool containsEntityReference(const xmlNode* node) {
    for (; node; node = node->next) {
        if (node->type == XML_ENTITY_REF_NODE || node->type == XML_ENTITY_NODE) {
            return true;
        }
        if (node->type == XML_ELEMENT_NODE && containsEntityReference(node->children)) {
            return true;
        }
    }
    return false;
}

// A document type declaration with an internal subset ("[ ... ]") may declare
// entities: such a request is refused before the parser sees it.
bool hasInternalSubset(std::string_view request) {
    const std::size_t doctype = request.find("<!DOCTYPE");
    if (doctype == std::string_view::npos) {
        return false;
    }
    const std::size_t close = request.find('>', doctype);
    const std::size_t bracket = request.find('[', doctype);
    return bracket != std::string_view::npos &&
           (close == std::string_view::npos || bracket < close);
}

Verdict refuseRequest(std::string_view code, std::string text) {
    Verdict verdict;
    verdict.requestCode = code;
    verdict.requestText = std::move(text);
    return verdict;
}

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct ParserFree {
    void operator()(xmlParserCtxt* ctxt) const { xmlFreeParserCtxt(ctxt); }
};
struct ValidFree {
    void operator()(xmlValidCtxt* ctxt) const { xmlFreeValidCtxt(ctxt); }
};

}  // namespace

bool isPseudonym(std::string_view text) {
    return text.size() == 40 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
           });
}

struct RequestChecker::Dtd {
    xmlDtdPtr dtd = nullptr;
    ~Dtd() { xmlFreeDtd(dtd); }
};

RequestChecker::RequestChecker(const std::filesystem::path& dtdFile) : dtd_(new Dtd) {
    initialiseLibxml();
    std::ifstream in(dtdFile, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    if (!in || text.empty()) {
        throw std::runtime_error("tipo documento non leggibile: " + dtdFile.string());
    }
    // Parsed from memory: the document type is the local file, whatever a
    // request names, and the refusing entity loader keeps it self-contained.
    FirstError firstError;
    QuietErrors quiet(&firstError);
    xmlParserInputBufferPtr input = xmlParserInputBufferCreateMem(
        text.data(), static_cast<int>(text.size()), XML_CHAR_ENCODING_NONE);
    dtd_->dtd = input ? xmlIOParseDTD(nullptr, input, XML_CHAR_ENCODING_NONE) : nullptr;
    if (!dtd_->dtd || firstError.seen) {
        throw std::runtime_error(
            "tipo documento non valido: " + dtdFile.string() +
            (firstError.line ? " (riga " + std::to_string(firstError.line) + ")" : std::string()));
    }
}

RequestChecker::~RequestChecker() = default;

Verdict RequestChecker::check(std::string_view request) const {
    if (hasInternalSubset(request)) {
        return refuseRequest(code::kDeclarations,
                             "Dichiarazioni interne al tipo documento non ammesse");
    }
    if (request.size() > INT_MAX) {
        return refuseRequest(code::kNotWellFormed, "Richiesta non ben formata: troppo grande");
    }
    FirstError firstError;
    QuietErrors quiet(&firstError);

    std::unique_ptr<xmlParserCtxt, ParserFree> parser(xmlNewParserCtxt());
    if (!parser) {
        throw std::bad_alloc();
    }
    // No network, no document type loading, no entity substitution; the
    // parser's own limits on depth and text sizes stay on. The indentation
    // between elements is not kept (validation passes over it anyway, and an
    // element holding only blanks keeps them), and short texts are stored in
    // their nodes: the tree is only read, and a request is checked in about
    // three quarters of the time.
    std::unique_ptr<xmlDoc, DocFree> doc(xmlCtxtReadMemory(
        parser.get(), request.data(), static_cast<int>(request.size()), "richiesta.xml", nullptr,
        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOBLANKS |
            XML_PARSE_COMPACT));
    if (!doc || !parser->wellFormed) {
        const xmlError* error = xmlCtxtGetLastError(parser.get());
        std::string where;
        if (error && error->line > 0) {
            where = " alla riga " + std::to_string(error->line) + ", colonna " +
                    std::to_string(error->int2);
        }
        return refuseRequest(code::kNotWellFormed, "Richiesta non ben formata" + where);
    }
    if (const xmlDtd* internal = xmlGetIntSubset(doc.get()); internal && internal->children) {
        return refuseRequest(code::kDeclarations,
                             "Dichiarazioni interne al tipo documento non ammesse");
    }
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    if (containsEntityReference(root)) {
        return refuseRequest(code::kDeclarations, "Riferimenti a entità non ammessi");
    }
    if (nameOf(root) != "vekRichiesta") {
        return refuseRequest(code::kNotValid, "Elemento radice " + std::string(nameOf(root)) +
                                                  " non atteso: atteso vekRichiesta");
    }
    {
        std::lock_guard lock(validation_);
        firstError = FirstError{};
        std::unique_ptr<xmlValidCtxt, ValidFree> validation(xmlNewValidCtxt());
        if (!validation) {
            throw std::bad_alloc();
        }
        validation->error = nullptr;
        validation->warning = nullptr;
        if (xmlValidateDtd(validation.get(), doc.get(), dtd_->dtd) != 1) {
            std::string text = "Richiesta non valida rispetto a " + std::string(kRequestDtdName) +
                               ": " + std::string(validityReason(firstError.code));
            if (!firstError.element.empty()) {
                text += " nell'elemento " + firstError.element;
            }
            if (firstError.line > 0) {
                text += " (riga " + std::to_string(firstError.line) + ")";
            }
            return refuseRequest(code::kNotValid, text);
        }
    }

    const std::string version = textOf(firstChild(root, "vekVersione"));
    if (version != kRequestVersion) {
        return refuseRequest(code::kWrongVersion, "Versione del tracciato non supportata: \"" +
                                                      version.substr(0, 20) + "\" (attesa " +
                                                      std::string(kRequestVersion) + ")");
    }
    const std::string operation = textOf(firstChild(root, "vekTipoOperazione"));
    if (operation != kRequestOperation) {
        return refuseRequest(code::kWrongOperation, "Tipo di operazione non supportato: \"" +
                                                        operation.substr(0, 20) + "\" (atteso " +
                                                        std::string(kRequestOperation) + ")");
    }
    const auto patients = elementChildren(firstChild(root, "vekPazienti"), "vekPaziente");
    if (patients.size() != 1) {
        return refuseRequest(code::kPatientCount,
                             "La richiesta deve contenere un solo paziente: trovati " +
                                 std::to_string(patients.size()));
    }

    Verdict verdict;
    verdict.patientChecked = true;
    const xmlNode* record = firstChild(patients.front());
    const xmlNode* identification = firstChild(record, "trxIdentificazione");
    const xmlNode* pseudonymNode = firstChild(identification, "trxCodFiscaleAssistito");
    const std::string pseudonym = textOf(pseudonymNode);
    if (!pseudonymNode || pseudonym.empty()) {
        verdict.patientCode = code::kPseudonymMissing;
        verdict.patientText = "Pseudonimo dell'assistito mancante (trxCodFiscaleAssistito)";
    } else if (!isPseudonym(pseudonym)) {
        verdict.patientCode = code::kPseudonymInvalid;
        verdict.patientText =
            "Pseudonimo dell'assistito non valido: attese 40 cifre esadecimali maiuscole";
    } else {
        verdict.pseudonym = pseudonym;
    }
    return verdict;
}

}  // namespace kvt::collector
