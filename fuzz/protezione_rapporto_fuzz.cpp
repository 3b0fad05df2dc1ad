// How the dry run's report writes a host text, on any text: the first byte
// picks the workstation's list separator, the rest is the text. A CSV cell
// read as a spreadsheet reads it is one cell, never starts as a formula, and
// gives back the text, behind a "'" when the text starts as one. HTML text
// has no raw "<", ">" or quote, every "&" starts a reference, and the
// references read back to the text (control characters as blanks).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/rapporto_verifica.h"
#include "fuzz/fuzz_check.h"

namespace {

// Separators that workstations use, a longer one among them.
constexpr std::string_view kSeparatori[] = {";", ",", "\t", "|", " ", ";;"};

bool iniziaFormula(std::string_view testo) {
    return !testo.empty() && std::string_view("=+-@\t\r").find(testo[0]) != std::string_view::npos;
}

// The cell as a spreadsheet reads it; nothing when the text would not be
// read as one cell (an unquoted separator, quote or line end; text after
// the closing quote).
std::optional<std::string> leggiCella(std::string_view cella, std::string_view separatore) {
    if (!cella.starts_with('"')) {
        if (cella.find(separatore) != std::string_view::npos ||
            cella.find_first_of("\"\r\n") != std::string_view::npos) {
            return std::nullopt;
        }
        return std::string(cella);
    }
    std::string letta;
    for (std::size_t i = 1; i < cella.size(); ++i) {
        if (cella[i] != '"') {
            letta += cella[i];
        } else if (i + 1 < cella.size() && cella[i + 1] == '"') {
            letta += '"';
            ++i;
        } else {
            return i + 1 == cella.size() ? std::optional(letta) : std::nullopt;
        }
    }
    return std::nullopt;  // never closed
}

struct Riferimento {
    std::string_view nome;
    char carattere;
};
constexpr Riferimento kRiferimenti[] = {
    {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''},
};

// The escaped text read back; nothing at an "&" that starts no reference.
std::optional<std::string> leggiHtml(std::string_view html) {
    std::string letto;
    for (std::size_t i = 0; i < html.size();) {
        if (html[i] != '&') {
            letto += html[i++];
            continue;
        }
        const Riferimento* trovato = nullptr;
        for (const Riferimento& r : kRiferimenti) {
            trovato = html.substr(i).starts_with(r.nome) ? &r : trovato;
        }
        if (!trovato) {
            return std::nullopt;
        }
        letto += trovato->carattere;
        i += trovato->nome.size();
    }
    return letto;
}

std::string conSpaziAiControlli(std::string_view testo) {
    std::string risultato(testo);
    for (char& c : risultato) {
        if (static_cast<unsigned char>(c) < 32 && c != '\t' && c != '\n' && c != '\r') {
            c = ' ';
        }
    }
    return risultato;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::string_view separatore = kSeparatori[data[0] % std::size(kSeparatori)];
    const std::string_view testo(reinterpret_cast<const char*>(data) + 1, size - 1);
    namespace protezione = kvt::protezione_rapporto;

    const std::optional<std::string> letta =
        leggiCella(protezione::cellaCsv(testo, separatore), separatore);
    KVT_FUZZ_CHECK(letta.has_value());
    KVT_FUZZ_CHECK(!iniziaFormula(*letta));
    KVT_FUZZ_CHECK(*letta == (iniziaFormula(testo) ? "'" : "") + std::string(testo));

    const std::string html = protezione::testoHtml(testo);
    KVT_FUZZ_CHECK(html.find_first_of("<>\"'") == std::string::npos);
    const std::optional<std::string> letto = leggiHtml(html);
    KVT_FUZZ_CHECK(letto.has_value());
    KVT_FUZZ_CHECK(*letto == conSpaziAiControlli(testo));
    return 0;
}
