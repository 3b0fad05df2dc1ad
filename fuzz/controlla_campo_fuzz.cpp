// The field check of the record builder on any value, for every kind of
// field, mandatory or not. The first byte picks the kind, the second the
// length; the rest is the value. What it gives has no control characters but
// TAB, CR and LF, is valid UTF-8, fits its length for "AN", and an empty
// mandatory value is either reported or written as "(mancante)".
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/utf.h"
#include "common/workstation.h"
#include "fuzz/fuzz_check.h"
#include "host/tvellopat.h"
#include "record/tld_crea_nodo.h"

namespace {

struct Tipo {
    std::string_view tipo;
    std::string_view elemento;
};

// Every kind the record's tables use, plain and mandatory, and one unknown.
constexpr Tipo kTipi[] = {
    {"AN", "trxCampo"},       {"OBL_AN", "trxCampo"},  {"ANF", "trxCampo"},
    {"OBL_ANF", "trxCampo"},  {"DATE", "trxData"},     {"OBL_DATE", "trxData"},
    {"B", "trxFlag"},         {"OBL_B", "trxFlag"},    {"NUM", "trxNumero"},
    {"OBL_NUM", "trxNumero"}, {"DEC", "trxValore"},    {"OBL_DEC", "trxValore"},
    {"XYZ", "trxCampo"},      {"OBL_XYZ", "trxCampo"}, {"OBL_AN", "trxEsito"},
    {"X_OBL_AN", "trxCampo"},
};

std::size_t caratteri(std::string_view testo) {
    std::size_t n = 0;
    for (const char c : testo) {
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    static const kvt::workstation::ScopedFormats formati{{",", "dd/MM/yyyy", "HH:mm:ss"}};
    static kvt::Tvellopat host;
    const Tipo& tipo = kTipi[data[0] % std::size(kTipi)];
    const int lunghezza = static_cast<int>(data[1]) - 8;  // a few below zero as well
    const std::string_view valore(reinterpret_cast<const char*>(data) + 2, size - 2);

    kvt::TldCreaNodo builder{2, host};
    builder.testoErrori.clear();
    const std::string risultato =
        builder.controllaCampo(tipo.elemento, valore, tipo.tipo, lunghezza);

    for (const char c : risultato) {
        const auto byte = static_cast<unsigned char>(c);
        KVT_FUZZ_CHECK(byte >= 32 || c == '\t' || c == '\r' || c == '\n');
    }
    KVT_FUZZ_CHECK(kvt::utf16ToUtf8(kvt::utf8ToUtf16(risultato)) == risultato);
    if (tipo.tipo == "AN" || tipo.tipo == "OBL_AN") {
        KVT_FUZZ_CHECK(caratteri(risultato) <= static_cast<std::size_t>(std::max(lunghezza, 0)) ||
                       risultato == "(mancante)");
    }
    if (!builder.testoErrori.empty()) {
        KVT_FUZZ_CHECK(tipo.tipo.starts_with("OBL_") && risultato.empty());
    }
    return 0;
}
