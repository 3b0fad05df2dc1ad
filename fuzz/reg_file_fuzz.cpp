// The registry-export reader: any bytes (UTF-8, Windows-1252 or UTF-16 with
// its mark) are read without fault, and what it read, written and read
// again, is the same registry.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/reg_file.h"
#include "fuzz/fuzz_check.h"

namespace {

bool uguali(const kvt::registry::Value& a, const kvt::registry::Value& b) {
    return a.type == b.type && a.text == b.text && a.number == b.number && a.bytes == b.bytes &&
           a.otherType == b.otherType;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kvt::registry::RegFile;
    const std::string_view testo(reinterpret_cast<const char*>(data), size);
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
    return 0;
}
