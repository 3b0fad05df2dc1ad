// The DOM facade's text parser on any bytes, twice: without limits, as the
// program reads its own files, and with the kind of limits it sets for an
// answer of the service (small enough here for the fuzzer's texts to meet).
// A refused text leaves an empty document and an error code and place that
// fit the text; a loaded one has one root. Its written form loads again with
// the same text but for white space (a text of blanks alone, such as one
// written "&#9;", is dropped like any between elements when read back, and
// line ends are read as LF), and from then on loading and writing is a fixed
// point. The limits only ever refuse more: what loads under them loads
// without them, to the same document. Texts longer than kMassimo are
// skipped: writing a document nests as deep as its elements, and larger
// texts only cost time.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/xml_document.h"
#include "fuzz/fuzz_check.h"

namespace {

constexpr std::size_t kMassimo = 16 * 1024;
// pugixml's error kinds (3..16) and the facade's own (100..104).
constexpr long kPrimoErroreParser = 3;
constexpr long kUltimoErroreParser = 16;
constexpr long kPrimoErroreFacciata = 100;
constexpr long kUltimoErroreFacciata = 104;
// The limits' own: too large, a DTD, too deep, an undeclared entity.
constexpr long kPrimoLimite = 101;

void controllaRifiuto(const kvt::XmlDocument& documento, std::string_view testo) {
    const kvt::XmlParseError& errore = documento.parseError();
    KVT_FUZZ_CHECK(
        (errore.errorCode >= kPrimoErroreParser && errore.errorCode <= kUltimoErroreParser) ||
        (errore.errorCode >= kPrimoErroreFacciata && errore.errorCode <= kUltimoErroreFacciata));
    KVT_FUZZ_CHECK(!errore.reason.empty());
    if (errore.line != 0) {
        KVT_FUZZ_CHECK(errore.linepos >= 1);
        KVT_FUZZ_CHECK(errore.filepos >= 0 &&
                       static_cast<std::size_t>(errore.filepos) <= testo.size());
    }
    KVT_FUZZ_CHECK(!documento.documentElement());
    KVT_FUZZ_CHECK(documento.xml().empty());
}

std::string senzaSpazi(std::string testo) {
    std::erase_if(testo, [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
    return testo;
}

std::string ricarica(const std::string& scritto) {
    kvt::XmlDocument riletto;
    KVT_FUZZ_CHECK(riletto.loadXML(scritto));
    return riletto.xml();
}

// The written form of a loaded document, checked as said above.
std::string controllaCaricato(const kvt::XmlDocument& documento) {
    KVT_FUZZ_CHECK(documento.parseError().errorCode == 0);
    const kvt::XmlNode radice = documento.documentElement();
    KVT_FUZZ_CHECK(radice);
    KVT_FUZZ_CHECK(documento.selectSingleNode("/*") == radice);
    const std::string scritto = documento.xml();
    KVT_FUZZ_CHECK(scritto.ends_with('\n'));
    kvt::XmlDocument riletto;
    KVT_FUZZ_CHECK(riletto.loadXML(scritto));
    KVT_FUZZ_CHECK(senzaSpazi(riletto.documentElement().text()) == senzaSpazi(radice.text()));
    const std::string riscritto = riletto.xml();
    KVT_FUZZ_CHECK(ricarica(riscritto) == riscritto);
    return scritto;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMassimo) {
        return 0;
    }
    const std::string_view testo(reinterpret_cast<const char*>(data), size);

    kvt::XmlDocument libero;
    const bool caricato = libero.loadXML(testo);
    kvt::XmlDocument risposta;
    risposta.setProperty("ProhibitDTD", "true");
    risposta.setProperty("MaxXMLSize", "1");
    risposta.setProperty("MaxElementDepth", "8");
    risposta.setProperty("SelectionLanguage", "XPath");
    const bool caricataRisposta = risposta.loadXML(testo);

    if (!caricato) {
        controllaRifiuto(libero, testo);
        KVT_FUZZ_CHECK(!caricataRisposta);
    }
    if (!caricataRisposta) {
        controllaRifiuto(risposta, testo);
        // Refused for the same fault, unless a limit met it first.
        const long codice = risposta.parseError().errorCode;
        KVT_FUZZ_CHECK(caricato || codice == libero.parseError().errorCode ||
                       (codice >= kPrimoLimite && codice <= kUltimoErroreFacciata));
    }
    if (caricato) {
        const std::string scritto = controllaCaricato(libero);
        if (caricataRisposta) {
            KVT_FUZZ_CHECK(controllaCaricato(risposta) == scritto);
        }
    }
    return 0;
}
