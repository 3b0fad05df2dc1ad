// The DTD check on any bytes, against the upload file's and the answer's
// document types: the prolog scan that finds the DOCTYPE, then libxml2.
// The scan's DOCTYPE lies in the text where it says, names a root without
// blanks, and is found the same in the text cut right after it; a document
// is valid exactly when no reason is given, and every reason is one line of
// at most 200 characters. A valid document loads in the program's own DOM.
// libxml2 sees only texts up to kMassimoPerLibxml: beyond that it only
// spends time on what smaller inputs reach as well.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/validazione_dtd.h"
#include "common/xml_document.h"
#include "fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;
using kvt::validazione_dtd::Doctype;

constexpr std::size_t kMassimoPerLibxml = 64 * 1024;

// The document types as installed, found from this file's place in the tree.
std::string fileDtd(const char* nome) {
    return (fs::path(__FILE__).parent_path().parent_path() / "dist/kvt/dtd" / nome).string();
}

std::size_t caratteri(std::string_view testo) {
    std::size_t n = 0;
    for (const char c : testo) {
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }
    return n;
}

void controllaMotivo(std::string_view motivo) {
    KVT_FUZZ_CHECK(caratteri(motivo) <= 200);
    KVT_FUZZ_CHECK(motivo.find_first_of("\r\n\t") == std::string_view::npos);
}

void controllaDoctype(const kvt::ValidatoreDtd& dtd, std::string_view documento) {
    std::string motivo;
    const std::optional<Doctype> doctype =
        kvt::validazione_dtd::doctypeDaControllare(dtd, documento, motivo);
    if (!doctype) {
        KVT_FUZZ_CHECK(!motivo.empty());
        controllaMotivo(motivo);
        return;
    }
    KVT_FUZZ_CHECK(doctype->trovato && !doctype->sottoinsiemeInterno);
    KVT_FUZZ_CHECK(!doctype->radice.empty());
    KVT_FUZZ_CHECK(doctype->radice.find_first_of(" \t\r\n[>") == std::string::npos);
    KVT_FUZZ_CHECK(doctype->inizio < doctype->fine && doctype->fine <= documento.size());
    KVT_FUZZ_CHECK(documento.substr(doctype->inizio).starts_with("<!DOCTYPE"));
    KVT_FUZZ_CHECK(documento[doctype->fine - 1] == '>');
    // What follows the DOCTYPE has no say in it.
    std::string motivoTagliato;
    const std::optional<Doctype> tagliato = kvt::validazione_dtd::doctypeDaControllare(
        dtd, documento.substr(0, doctype->fine), motivoTagliato);
    KVT_FUZZ_CHECK(tagliato && tagliato->radice == doctype->radice);
    KVT_FUZZ_CHECK(tagliato->inizio == doctype->inizio && tagliato->fine == doctype->fine);
}

void controllaValidazione(const kvt::ValidatoreDtd& dtd, std::string_view documento) {
    const kvt::ValidatoreDtd::Esito esito = dtd.valida(documento);
    KVT_FUZZ_CHECK(esito.valido == esito.motivo.empty());
    controllaMotivo(esito.motivo);
    if (esito.valido) {
        kvt::XmlDocument dom;
        KVT_FUZZ_CHECK(dom.loadXML(documento));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const kvt::ValidatoreDtd richiesta(fileDtd("RichiestaCaricamento.dtd"));
    static const kvt::ValidatoreDtd risposta(fileDtd("RispostaCaricamento.dtd"));
    KVT_FUZZ_CHECK(richiesta.pronto() && risposta.pronto());
    const std::string_view documento(reinterpret_cast<const char*>(data), size);

    controllaDoctype(richiesta, documento);
    controllaMotivo(kvt::validazione_dtd::motivoBreve("prova", documento));
    if (size > kMassimoPerLibxml) {
        return 0;
    }
    controllaValidazione(richiesta, documento);
    controllaValidazione(risposta, documento);
    return 0;
}
