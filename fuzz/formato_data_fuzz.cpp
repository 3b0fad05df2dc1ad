// The walk of the workstation's date and time pictures ("dd/MM/yyyy",
// "H.mm.ss", "dddd d MMMM yyyy", ...) on any picture and any valid date-time.
// The first seven bytes make the date-time, the rest is the picture. Quoted
// text is written as it is, however it is quoted; a picture has at most ten
// bytes written per character; the time separator's change to ":" is made
// once for all and leaves a picture without time fields as it was; a C
// strftime picture without conversions reads back as its own text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/date_time.h"
#include "common/workstation.h"
#include "fuzz/fuzz_check.h"

namespace {

constexpr std::size_t kMassimo = 4096;
// The longest thing one field writes: "mercoledì".
constexpr std::size_t kMassimoPerCarattere = 10;

kvt::DateTime dataOra(const std::uint8_t* b) {
    kvt::DateTime v;
    v.year = (b[0] << 8 | b[1]) % 9999 + 1;
    v.month = b[2] % 12 + 1;
    v.day = b[3] % kvt::DateTime::daysInMonth(v.year, v.month) + 1;
    v.hour = b[4] % 24;
    v.minute = b[5] % 60;
    v.second = b[6] % 60;
    return v;
}

// The picture that writes the text as it is: quoted, quotes doubled.
std::string tuttoTesto(std::string_view testo, bool chiuso) {
    std::string quotato = "'";
    for (const char c : testo) {
        quotato += c == '\'' ? std::string("''") : std::string(1, c);
    }
    return chiuso ? quotato + "'" : quotato;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 7 || size > kMassimo) {
        return 0;
    }
    const kvt::DateTime quando = dataOra(data);
    KVT_FUZZ_CHECK(quando.isValid());
    const std::string_view formato(reinterpret_cast<const char*>(data) + 7, size - 7);
    using kvt::workstation::formatDateTime;

    const std::string scritto = formatDateTime(quando, formato);
    KVT_FUZZ_CHECK(scritto.size() <= kMassimoPerCarattere * formato.size());
    // A quote left open runs to the end of the picture.
    KVT_FUZZ_CHECK(formatDateTime(quando, tuttoTesto(formato, true)) == formato);
    KVT_FUZZ_CHECK(formatDateTime(quando, tuttoTesto(formato, false)) == formato);

    const std::string conDuePunti = kvt::workstation::withColonTimeSeparator(formato);
    KVT_FUZZ_CHECK(kvt::workstation::withColonTimeSeparator(conDuePunti) == conDuePunti);
    if (formato.find_first_of("hHms") == std::string_view::npos) {
        KVT_FUZZ_CHECK(formatDateTime(quando, conDuePunti) == scritto);
    }

    const std::string daStrftime = kvt::workstation::windowsFormatFromStrftime(formato);
    const std::string scrittoDaStrftime = formatDateTime(quando, daStrftime);
    if (formato.find('%') == std::string_view::npos) {
        KVT_FUZZ_CHECK(scrittoDaStrftime == formato);
    }

    // The log's stamp: the short date, a blank, then the time.
    const kvt::workstation::ScopedFormats formati(
        {",", std::string(formato), std::string(formato)});
    KVT_FUZZ_CHECK(kvt::workstation::logTimeStamp(quando).starts_with(scritto + " "));
    return 0;
}
