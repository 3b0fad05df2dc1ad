#pragma once
// The answers of the collection service: a "vekRisposta" document with its
// document type line, as RispostaCaricamento.dtd describes it, and the
// deliberately broken forms that test faults ask for.
#include <string>
#include <string_view>

#include "collector/request_check.h"

namespace kvt::collector {

struct Receipt {
    std::string id;    // "KVT-20240501-000042"
    std::string time;  // "2024-05-01T10:22:33"
};

// Empty codes on acceptance; a request-level code refuses the whole request
// (and the answer then lists no patient); a patient-level code refuses the
// patient.
std::string answerDocument(const Verdict& verdict, const Receipt& receipt);

// Well-formed but without any vekCodiceErrore element; declared with the
// permissive dtdUnknown.dtd.
std::string answerWithoutCodes(const Verdict& verdict, const Receipt& receipt);

// Not well-formed: an element left open.
std::string malformedAnswer(const Receipt& receipt);

// A valid answer padded past the connector's 16 MiB answer limit.
std::string oversizeAnswer(const Verdict& verdict, const Receipt& receipt);
// The refusal with its description followed, as character references, by a
// line break, a line that looks like one of the program's log lines, and a
// terminal escape: what a hostile or broken service could send.
std::string forgedLogAnswer(const Verdict& verdict, const Receipt& receipt);

std::string escapeXml(std::string_view text);

}  // namespace kvt::collector
