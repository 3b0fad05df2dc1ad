// The parts of the DTD check that do not depend on the platform's parser:
// the prolog scan that finds the DOCTYPE, the short reasons, the DTD's text.
#include <optional>

#include "common/files.h"
#include "common/paths.h"
#include "common/validazione_dtd.h"

namespace kvt::validazione_dtd {
namespace {

constexpr std::size_t kMassimoCaratteri = 200;

bool spazio(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool iniziaCon(std::string_view testo, std::size_t da, std::string_view prefisso) {
    return testo.substr(da, prefisso.size()) == prefisso;
}

Doctype trovaDoctype(std::string_view documento) {
    Doctype trovato;
    std::size_t pos = iniziaCon(documento, 0, "\xEF\xBB\xBF") ? 3 : 0;
    // Only the prolog: the declaration, comments and processing instructions
    // may come before the DOCTYPE; anything else is the root element.
    while (pos < documento.size()) {
        if (spazio(documento[pos])) {
            ++pos;
        } else if (iniziaCon(documento, pos, "<?")) {
            const std::size_t fine = documento.find("?>", pos + 2);
            if (fine == std::string_view::npos) {
                return trovato;
            }
            pos = fine + 2;
        } else if (iniziaCon(documento, pos, "<!--")) {
            const std::size_t fine = documento.find("-->", pos + 4);
            if (fine == std::string_view::npos) {
                return trovato;
            }
            pos = fine + 3;
        } else {
            break;
        }
    }
    if (!iniziaCon(documento, pos, "<!DOCTYPE")) {
        return trovato;
    }
    trovato.inizio = pos;
    pos += 9;
    while (pos < documento.size() && spazio(documento[pos])) {
        ++pos;
    }
    const std::size_t nome = pos;
    while (pos < documento.size() && !spazio(documento[pos]) && documento[pos] != '[' &&
           documento[pos] != '>') {
        ++pos;
    }
    trovato.radice = std::string(documento.substr(nome, pos - nome));
    // The external identifier's literals may hold '[' or '>'.
    char virgolette = 0;
    for (; pos < documento.size(); ++pos) {
        const char c = documento[pos];
        if (virgolette) {
            virgolette = c == virgolette ? 0 : virgolette;
        } else if (c == '"' || c == '\'') {
            virgolette = c;
        } else if (c == '[') {
            trovato.trovato = true;
            trovato.sottoinsiemeInterno = true;
            return trovato;
        } else if (c == '>') {
            trovato.trovato = !trovato.radice.empty();
            trovato.fine = pos + 1;
            return trovato;
        }
    }
    return trovato;
}

}  // namespace

std::optional<Doctype> doctypeDaControllare(const ValidatoreDtd& validatore,
                                            std::string_view documento, std::string& motivo) {
    if (!validatore.pronto()) {
        motivo = validatore.motivoDtd();
        return std::nullopt;
    }
    Doctype doctype = trovaDoctype(documento);
    if (!doctype.trovato) {
        motivo = "non conforme alla DTD: manca la dichiarazione DOCTYPE";
        return std::nullopt;
    }
    if (doctype.sottoinsiemeInterno) {
        motivo = "non conforme alla DTD: il DOCTYPE contiene dichiarazioni proprie, non ammesse";
        return std::nullopt;
    }
    return doctype;
}

std::string motivoBreve(std::string_view premessa, std::string_view dettaglio) {
    std::string riga(premessa);
    if (!dettaglio.empty()) {
        riga += ": ";
    }
    // One line: line ends and tabs become single spaces, trailing blanks go.
    bool spazioPrima = false;
    for (const char c : dettaglio) {
        if (spazio(c)) {
            spazioPrima = true;
            continue;
        }
        if (spazioPrima && !riga.empty() && riga.back() != ' ') {
            riga += ' ';
        }
        spazioPrima = false;
        riga += c;
    }
    // At most kMassimoCaratteri characters (not bytes), the last one an
    // ellipsis when cut.
    std::size_t caratteri = 0;
    for (std::size_t i = 0; i < riga.size(); ++i) {
        if ((static_cast<unsigned char>(riga[i]) & 0xC0) == 0x80) {
            continue;
        }
        if (++caratteri == kMassimoCaratteri) {
            std::size_t resto = i + 1;
            while (resto < riga.size() &&
                   (static_cast<unsigned char>(riga[resto]) & 0xC0) == 0x80) {
                ++resto;
            }
            if (resto < riga.size()) {
                riga.resize(i);
                riga += "\xE2\x80\xA6";
            }
            break;
        }
    }
    return riga;
}

TestoDtd leggiDtd(const std::string& fileDtd) {
    TestoDtd dtd;
    std::optional<std::string> testo = files::readAll(paths::fromUtf8(fileDtd));
    if (!testo || testo->empty()) {
        dtd.motivo = "DTD non leggibile: " + fileDtd;
        return dtd;
    }
    std::size_t inizio = iniziaCon(*testo, 0, "\xEF\xBB\xBF") ? 3 : 0;
    if (iniziaCon(*testo, inizio, "<?xml") && inizio + 5 < testo->size() &&
        spazio((*testo)[inizio + 5])) {
        const std::size_t fine = testo->find("?>", inizio);
        if (fine == std::string::npos) {
            dtd.motivo = "DTD non valida: " + fileDtd;
            return dtd;
        }
        inizio = fine + 2;
    }
    dtd.letto = true;
    dtd.testo = testo->substr(inizio);
    return dtd;
}

}  // namespace kvt::validazione_dtd
