// The registry-export reader: any bytes (UTF-8, Windows-1252 or UTF-16 with
// its mark) are read without fault, and what it read, written and read
// again, is the same registry. Large exports are read in linear time.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/reg_file.h"
#include "fuzz/fuzz_check.h"

namespace {

// A whole exported HKCU runs to megabytes, while inputs are kept short: the
// part of an input after kRipeti is repeated up to about kTestoGrande bytes,
// each copy with its '#' replaced by the copy's number (so that copies can
// name keys and values of their own), and that text must be read and written
// within kTempoMassimo, which a reader slower than linear exceeds.
constexpr std::string_view kRipeti = "\n#ripeti\n";
constexpr std::size_t kTestoGrande = 128 * 1024;
// Seconds; a sanitizer build on a busy machine takes a tenth of it, a reader
// quadratic in lines or keys more than all of it.
constexpr double kTempoMassimo = 1.0;

bool uguali(const kvt::registry::Value& a, const kvt::registry::Value& b) {
    return a.type == b.type && a.text == b.text && a.number == b.number && a.bytes == b.bytes &&
           a.otherType == b.otherType;
}

void controllaRiletto(std::string_view testo) {
    using kvt::registry::RegFile;
    const RegFile letto = RegFile::parse(testo);
    const std::string scritto = letto.serialize();
    const RegFile riletto = RegFile::parse(scritto);
    KVT_FUZZ_CHECK(riletto.serialize() == scritto);
    KVT_FUZZ_CHECK(riletto.keys().size() == letto.keys().size());
    for (const RegFile::Key& chiave : letto.keys()) {
        KVT_FUZZ_CHECK(!kvt::registry::canonicalKeyName(chiave.name).empty());
        for (const RegFile::Entry& voce : chiave.entries) {
            const kvt::registry::Value* ritrovato = riletto.find(chiave.name, voce.name);
            KVT_FUZZ_CHECK(ritrovato != nullptr);
            KVT_FUZZ_CHECK(uguali(*ritrovato, voce.value));
        }
    }
}

void aggiungiCopiaNumerata(std::string& testo, std::string_view parte, std::size_t numero) {
    const std::string cifre = std::to_string(numero);
    for (const char c : parte) {
        if (c == '#') {
            testo += cifre;
        } else {
            testo += c;
        }
    }
}

void controllaTestoGrande(std::string_view testo) {
    const std::size_t segno = testo.find(kRipeti);
    if (segno == std::string_view::npos || segno + kRipeti.size() == testo.size()) {
        return;
    }
    const std::string_view ripetuta = testo.substr(segno + kRipeti.size());
    std::string grande(testo.substr(0, segno + 1));
    for (std::size_t numero = 0; grande.size() < kTestoGrande; ++numero) {
        aggiungiCopiaNumerata(grande, ripetuta, numero);
    }
    const auto inizio = std::chrono::steady_clock::now();
    const std::string scritto = kvt::registry::RegFile::parse(grande).serialize();
    const std::chrono::duration<double> durata = std::chrono::steady_clock::now() - inizio;
    KVT_FUZZ_CHECK(durata.count() < kTempoMassimo);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view testo(reinterpret_cast<const char*>(data), size);
    controllaRiletto(testo);
    controllaTestoGrande(testo);
    return 0;
}
