// The INI reader and writer. The input is "section NUL key NUL value NUL
// content" (without three NULs: the whole input is the content, with fixed
// names). The content is read through the file, as the program reads it:
// nothing read holds a line break, and a key set with a plain value reads
// back as that value, from the text written as from the object.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

#include "common/errors.h"
#include "common/general_functions.h"
#include "common/ini_file.h"
#include "fuzz/fuzz_check.h"

namespace {

bool senzaACapo(std::string_view testo) {
    return testo.find_first_of("\r\n") == std::string_view::npos;
}

// Letters, digits and inner blanks: a value the file keeps as it is.
bool semplice(std::string_view testo) {
    if (testo.empty() || testo.front() == ' ' || testo.back() == ' ') {
        return false;
    }
    for (const char c : testo) {
        const bool lettera = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!lettera && !(c >= '0' && c <= '9') && c != ' ') {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view resto(reinterpret_cast<const char*>(data), size);
    std::string_view parti[3] = {"s", "k", "v"};
    std::string_view contenuto = resto;
    std::size_t trovate = 0;
    for (std::size_t fine; trovate < 3 && (fine = resto.find('\0')) != std::string_view::npos;
         ++trovate) {
        parti[trovate] = resto.substr(0, fine);
        resto.remove_prefix(fine + 1);
    }
    if (trovate == 3) {
        contenuto = resto;
    } else {
        parti[0] = "s";
        parti[1] = "k";
        parti[2] = "v";
    }
    const auto [sezione, chiave, valore] = parti;

    static const std::filesystem::path file = kvt::fuzz::cartellaDiLavoro() / "prova.ini";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(contenuto.data(), static_cast<std::streamsize>(contenuto.size()));
    }
    const std::string letto = kvt::leggiIni(file, sezione, chiave);
    KVT_FUZZ_CHECK(senzaACapo(letto));

    kvt::IniFile ini = kvt::IniFile::parse(contenuto);
    KVT_FUZZ_CHECK(ini.serialize() == contenuto);  // read and written again unchanged
    KVT_FUZZ_CHECK(ini.value(sezione, chiave).value_or("") == letto);
    try {
        ini.set(sezione, chiave, valore);
    } catch (const kvt::Error&) {
        return 0;  // a name or value that no line can hold
    }
    const std::string scritto = ini.serialize();
    const std::optional<std::string> dopo = ini.value(sezione, chiave);
    KVT_FUZZ_CHECK(dopo.has_value());
    KVT_FUZZ_CHECK(kvt::IniFile::parse(scritto).value(sezione, chiave) == dopo);
    if (semplice(valore)) {
        KVT_FUZZ_CHECK(*dopo == valore);
    }
    return 0;
}
