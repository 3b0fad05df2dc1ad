// The settings date-time text: any bytes are read without fault, and a text
// read as valid is a date-time within the calendar's range whose written form
// reads back to the same value.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/general_functions.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view testo(reinterpret_cast<const char*>(data), size);
    const kvt::DataLetta letta = kvt::testoADataOra(testo);
    if (!letta.valida) {
        return 0;
    }
    KVT_FUZZ_CHECK(letta.valore.isValid());
    KVT_FUZZ_CHECK(letta.valore.second == 0);
    // The written form ("%.2d" of the year) has four digits only from year 1000.
    if (letta.valore.year >= 1000) {
        const kvt::DataLetta riletta = kvt::testoADataOra(kvt::dataOraATesto(letta.valore));
        KVT_FUZZ_CHECK(riletta.valida);
        KVT_FUZZ_CHECK(riletta.valore == letta.valore);
    }
    // The date part alone follows the date rule.
    const kvt::DataLetta giorno = kvt::testoAData(testo);
    if (giorno.valida) {
        KVT_FUZZ_CHECK(giorno.valore.isValid());
        KVT_FUZZ_CHECK(giorno.valore == giorno.valore.date());
    }
    return 0;
}
