#include "collector/answer.h"

namespace kvt::collector {
namespace {

constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
constexpr std::string_view kDoctype = "<!DOCTYPE vekRisposta SYSTEM \"RispostaCaricamento.dtd\">\n";
constexpr std::string_view kUnknownDoctype = "<!DOCTYPE vekRisposta SYSTEM \"dtdUnknown.dtd\">\n";

void element(std::string& out, std::string_view indent, std::string_view name,
             std::string_view text) {
    out += indent;
    out += '<';
    out += name;
    out += '>';
    out += escapeXml(text);
    out += "</";
    out += name;
    out += ">\n";
}

void head(std::string& out, const Receipt& receipt) {
    element(out, "  ", "vekVersione", kRequestVersion);
    element(out, "  ", "vekTipoOperazione", kRequestOperation);
    element(out, "  ", "vekIdRicevuta", receipt.id);
    element(out, "  ", "vekDataOra", receipt.time);
}

void patients(std::string& out, const Verdict& verdict, bool withCodes) {
    out += "  <vekPazienti>\n    <vekPaziente>\n";
    element(out, "      ", "vekPseudonimo", verdict.pseudonym);
    if (withCodes) {
        element(out, "      ", "vekCodiceErrore", verdict.patientCode);
        element(out, "      ", "vekDescrizioneErrore", verdict.patientText);
    }
    out += "    </vekPaziente>\n  </vekPazienti>\n";
}

}  // namespace

std::string escapeXml(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                // Control characters have no place in XML 1.0 text.
                escaped +=
                    (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') ? ' ' : c;
        }
    }
    return escaped;
}

std::string answerDocument(const Verdict& verdict, const Receipt& receipt) {
    std::string out;
    out.reserve(1024);
    out += kDeclaration;
    out += kDoctype;
    out += "<vekRisposta>\n";
    head(out, receipt);
    element(out, "  ", "vekCodiceErrore", verdict.requestCode);
    element(out, "  ", "vekDescrizioneErrore", verdict.requestText);
    if (verdict.requestCode.empty()) {
        patients(out, verdict, true);
    }
    out += "</vekRisposta>\n";
    return out;
}

std::string answerWithoutCodes(const Verdict& verdict, const Receipt& receipt) {
    std::string out;
    out += kDeclaration;
    out += kUnknownDoctype;
    out += "<vekRisposta>\n";
    head(out, receipt);
    patients(out, verdict, false);
    out += "</vekRisposta>\n";
    return out;
}

std::string malformedAnswer(const Receipt& receipt) {
    std::string out;
    out += kDeclaration;
    out += kDoctype;
    out += "<vekRisposta>\n";
    head(out, receipt);
    out += "  <vekCodiceErrore>\n</vekRisposta>\n";
    return out;
}

std::string oversizeAnswer(const Verdict& verdict, const Receipt& receipt) {
    std::string out = answerDocument(verdict, receipt);
    const std::size_t target = (std::size_t{16} << 20) + 4096;
    // Many small comments rather than one huge one: the answer stays
    // well-formed for any parser, only its size is wrong.
    const std::string line = "<!-- " + std::string(1000, 'x') + " -->\n";
    out.reserve(target + line.size());
    while (out.size() < target) {
        out += line;
    }
    return out;
}

std::string forgedLogAnswer(const Verdict& verdict, const Receipt& receipt) {
    std::string out = answerDocument(verdict, receipt);
    const std::string description = escapeXml(verdict.patientText);
    const std::size_t at = out.rfind(description);
    if (at != std::string::npos) {
        out.insert(at + description.size(),
                   "&#13;&#10;Fase 2: #3 Risposta: OK - riga falsa&#27;[2J&#27;]0;titolo&#7;");
    }
    return out;
}

}  // namespace kvt::collector
