#pragma once
// The upload file as an independent reader sees it: libxml2 parses it
// strictly (no recovery, no network) and checks it against the upload file's
// document type; and the pseudonym a fiscal code must get, computed with
// OpenSSL rather than PSHLib.
#include <libxml/parser.h>
#include <libxml/valid.h>
#include <libxml/xpath.h>
#include <openssl/evp.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "common/utf.h"

namespace kvt::test {

// SHA-1 of the fiscal code as the project computes it, written independently
// of PSHLib: Windows-1252 bytes when the code has them, else its own bytes.
inline std::string sha1Atteso(const std::string& codiceFiscale) {
    const std::string byte = utf8ToWindows1252(codiceFiscale).value_or(codiceFiscale);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(byte.data(), byte.size(), digest, &size, EVP_sha1(), nullptr);
    static constexpr char kCifre[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex += kCifre[digest[i] >> 4];
        hex += kCifre[digest[i] & 15];
    }
    return hex;
}

inline void raccogli(void* destinazione, const char* formato, ...) {
    char riga[1024];
    va_list argomenti;
    va_start(argomenti, formato);
    std::vsnprintf(riga, sizeof riga, formato, argomenti);
    va_end(argomenti);
    *static_cast<std::string*>(destinazione) += riga;
}

// The upload file as libxml2 reads it: parsed strictly (no recovery, no
// network, no size limit of its own), then checked against the document type.
class Tracciato {
  public:
    explicit Tracciato(const std::string& xml) {
        doc_ = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "tracciato.xml", nullptr,
                             XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_NOERROR);
    }
    ~Tracciato() {
        if (doc_ != nullptr) {
            xmlFreeDoc(doc_);
        }
    }
    Tracciato(const Tracciato&) = delete;
    Tracciato& operator=(const Tracciato&) = delete;

    bool benFormato() const { return doc_ != nullptr; }

    std::string erroriDtd() const {
        xmlDtdPtr dtd = xmlParseDTD(nullptr, reinterpret_cast<const xmlChar*>(KVT_UPLOAD_DTD));
        if (dtd == nullptr) {
            return "document type non leggibile";
        }
        std::string errori;
        xmlValidCtxtPtr contesto = xmlNewValidCtxt();
        contesto->userData = &errori;
        contesto->error = raccogli;
        contesto->warning = raccogli;
        const int valido = xmlValidateDtd(contesto, doc_, dtd);
        xmlFreeValidCtxt(contesto);
        xmlFreeDtd(dtd);
        return valido == 1 ? std::string() : (errori.empty() ? "non valido" : errori);
    }

    // The texts of the nodes the path selects, in document order.
    std::vector<std::string> testi(const char* percorso) const {
        std::vector<std::string> risultato;
        xmlXPathContextPtr contesto = xmlXPathNewContext(doc_);
        xmlXPathObjectPtr trovati =
            xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(percorso), contesto);
        if (trovati != nullptr && trovati->nodesetval != nullptr) {
            for (int i = 0; i < trovati->nodesetval->nodeNr; ++i) {
                xmlChar* testo = xmlNodeGetContent(trovati->nodesetval->nodeTab[i]);
                risultato.emplace_back(testo ? reinterpret_cast<const char*>(testo) : "");
                xmlFree(testo);
            }
        }
        xmlXPathFreeObject(trovati);
        xmlXPathFreeContext(contesto);
        return risultato;
    }

    // The number an XPath expression such as "count(//a)" gives.
    double numero(const char* espressione) const {
        xmlXPathContextPtr contesto = xmlXPathNewContext(doc_);
        xmlXPathObjectPtr valore =
            xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(espressione), contesto);
        const double risultato = valore != nullptr ? xmlXPathCastToNumber(valore) : -1;
        xmlXPathFreeObject(valore);
        xmlXPathFreeContext(contesto);
        return risultato;
    }

  private:
    xmlDocPtr doc_ = nullptr;
};

}  // namespace kvt::test
