#pragma once
// Reads an answer the way the upload program does: the document type
// declaration cut out, four values by XPath, an absent element read as the
// text "empty", and accepted only when both codes are present and empty.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <cctype>
#include <string>

namespace kvt::testing {

struct ProgramReading {
    bool wellFormed = false;
    bool accepted = false;
    bool requestLevel = false;  // refused by the code of the request as a whole
    std::string code;
    std::string description;
};

inline std::string xpathText(xmlDocPtr doc, const char* path) {
    std::string value = "empty";
    xmlXPathContextPtr context = xmlXPathNewContext(doc);
    xmlXPathObjectPtr result =
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(path), context);
    if (result && result->nodesetval && result->nodesetval->nodeNr > 0) {
        xmlChar* text = xmlNodeGetContent(result->nodesetval->nodeTab[0]);
        value = text ? reinterpret_cast<const char*>(text) : "";
        xmlFree(text);
        if (std::all_of(value.begin(), value.end(),
                        [](char c) { return std::isspace(static_cast<unsigned char>(c)); })) {
            value.clear();
        }
    }
    xmlXPathFreeObject(result);
    xmlXPathFreeContext(context);
    return value;
}

inline ProgramReading readAsTheProgramDoes(std::string answer) {
    if (const std::size_t doctype = answer.find("<!DOCTYPE"); doctype != std::string::npos) {
        if (const std::size_t close = answer.find('>', doctype); close != std::string::npos) {
            answer.erase(doctype, close - doctype + 1);
        }
    }
    ProgramReading reading;
    xmlDocPtr doc =
        xmlReadMemory(answer.data(), static_cast<int>(answer.size()), "risposta.xml", nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) {
        reading.requestLevel = true;
        reading.code = "parse error";
        return reading;
    }
    reading.wellFormed = true;
    reading.code = xpathText(doc, "/vekRisposta/vekCodiceErrore");
    if (!reading.code.empty()) {
        reading.requestLevel = true;
        reading.description = xpathText(doc, "//vekRisposta/vekDescrizioneErrore");
    } else {
        reading.code = xpathText(doc, "/vekRisposta/vekPazienti/vekPaziente/vekCodiceErrore");
        if (reading.code.empty()) {
            reading.accepted = true;
        } else {
            reading.description =
                xpathText(doc, "/vekRisposta/vekPazienti/vekPaziente/vekDescrizioneErrore");
        }
    }
    xmlFreeDoc(doc);
    return reading;
}

}  // namespace kvt::testing
