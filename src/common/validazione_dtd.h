#pragma once
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kvt {

// Checks documents against one DTD file, read once. No document or DTD ever makes it fetch anything
// from outside: the DOCTYPE's system identifier is ignored and the given DTD is used instead.
class ValidatoreDtd {
  public:
    explicit ValidatoreDtd(const std::string& fileDtd);  // UTF-8 path; never throws for a bad DTD
    ~ValidatoreDtd();
    ValidatoreDtd(const ValidatoreDtd&) = delete;
    ValidatoreDtd& operator=(const ValidatoreDtd&) = delete;
    // False when the DTD could not be read or parsed; motivoDtd() then says why, in Italian.
    bool pronto() const;
    const std::string& motivoDtd() const;
    struct Esito {
        bool valido = false;
        std::string
            motivo;  // empty when valid; else the first problem, one line, short (<= 200 chars)
    };
    // `documento`: a whole upload file as UTF-8 text (with its XML declaration and DOCTYPE).
    // Not pronto(): valido false with motivoDtd(). Never throws.
    Esito valida(std::string_view documento) const;

  private:
    struct Stato;
    std::unique_ptr<Stato> stato_;
};

// What both platforms' validators share.
namespace validazione_dtd {

// The document type declaration of a document's prolog.
struct Doctype {
    bool trovato = false;
    std::string radice;                // the root element it names
    bool sottoinsiemeInterno = false;  // "[ ... ]": declarations of the document's own
    std::size_t inizio = 0, fine = 0;  // its span, when it has no internal subset
};

// What every document goes through before the parser: the DTD must be
// ready, and the document must have a DOCTYPE without declarations of its own
// (they could declare entities that name outside resources). Gives the
// DOCTYPE; else nothing, and `motivo` says why the document is not valid.
std::optional<Doctype> doctypeDaControllare(const ValidatoreDtd& validatore,
                                            std::string_view documento, std::string& motivo);

// "<premessa>: <dettaglio>" on one line of at most 200 characters, cut on a
// character boundary.
std::string motivoBreve(std::string_view premessa, std::string_view dettaglio);

// The DTD file's text without its text declaration ("<?xml ...?>") and byte
// order mark, or the reason it cannot be read.
struct TestoDtd {
    bool letto = false;
    std::string testo;   // when letto
    std::string motivo;  // when not
};
TestoDtd leggiDtd(const std::string& fileDtd);

}  // namespace validazione_dtd
}  // namespace kvt
