#include "common/general_functions.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <random>
#include <system_error>

#include "common/clock.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/ini_file.h"
#include "common/paths.h"
#include "common/windowing.h"
#include "common/workstation.h"

namespace kvt {
namespace {

constexpr std::string_view kEmpty = "empty";
constexpr std::string_view kChangeTimeElement = "datatime_acquisizione_cartella";

void prepare(XmlDocument& document) {
    document.setAsync(false);
    document.setValidateOnParse(false);
    document.setResolveExternals(false);
}

// A block of characters (1-based start, as the date forms count) read as a
// decimal whole number: leading blanks and a sign, then digits only.
std::optional<int> wholeNumber(std::string_view text, std::size_t first, std::size_t count) {
    if (first - 1 >= text.size()) {
        return std::nullopt;
    }
    std::string_view block = text.substr(first - 1, count);
    while (!block.empty() && block.front() == ' ') {
        block.remove_prefix(1);
    }
    bool negative = false;
    if (!block.empty() && (block.front() == '+' || block.front() == '-')) {
        negative = block.front() == '-';
        block.remove_prefix(1);
    }
    int value = 0;
    const auto [end, error] = std::from_chars(block.data(), block.data() + block.size(), value);
    if (block.empty() || error != std::errc() || end != block.data() + block.size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::string withoutDoubleQuotes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c != '"') {
            out += c;
        }
    }
    return out;
}

std::optional<DateTime> readDate(std::string_view text) {
    const auto year = wholeNumber(text, 1, 4);
    const auto month = wholeNumber(text, 6, 2);
    const auto day = wholeNumber(text, 9, 2);
    if (!year || !month || !day || !DateTime::isValidDate(*year, *month, *day)) {
        return std::nullopt;
    }
    return DateTime{*year, *month, *day, 0, 0, 0};
}

// ---- numbers ----

struct ScannedNumber {
    std::string canonical;  // "digits.digitsEexp" for from_chars
    long long magnitude;    // rough decimal exponent, to tell underflow from overflow
};

std::optional<ScannedNumber> scanNumber(std::string_view text, std::string_view separator) {
    std::size_t pos = 0;
    const auto skipBlanks = [&] {
        while (pos < text.size() && text[pos] == ' ') {
            ++pos;
        }
    };
    const auto digits = [&](std::string& out) {
        const std::size_t start = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            out += text[pos++];
        }
        return pos - start;
    };
    skipBlanks();
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        ++pos;  // the absolute value is taken anyway
    }
    std::string integer;
    std::string fraction;
    std::size_t count = digits(integer);
    if (!separator.empty() && text.substr(pos).starts_with(separator)) {
        pos += separator.size();
        count += digits(fraction);
    }
    if (count == 0) {
        return std::nullopt;
    }
    std::string exponent;
    bool negativeExponent = false;
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
            negativeExponent = text[pos++] == '-';
        }
        if (digits(exponent) == 0) {
            return std::nullopt;
        }
    }
    skipBlanks();
    if (pos != text.size()) {
        return std::nullopt;
    }
    ScannedNumber out;
    out.canonical = (integer.empty() ? "0" : integer) + "." + fraction + "e" +
                    (negativeExponent ? "-" : "") + (exponent.empty() ? "0" : exponent);
    const std::size_t significant = integer.find_first_not_of('0');
    const long long exponentValue =
        exponent.size() > 6 ? 1000000 : (exponent.empty() ? 0 : std::stoll(exponent));
    out.magnitude =
        (significant == std::string::npos ? 0
                                          : static_cast<long long>(integer.size() - significant)) +
        (negativeExponent ? -exponentValue : exponentValue);
    return out;
}

// Shortest general form with 15 significant digits.
std::string formatGeneral(double value, std::string_view separator) {
    if (value == 0) {
        return "0";
    }
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::scientific, 14);
    const std::string_view scientific(buffer.data(), result.ptr - buffer.data());
    const std::size_t e = scientific.find('e');
    std::string digits;
    for (const char c : scientific.substr(0, e)) {
        if (c >= '0' && c <= '9') {
            digits += c;
        }
    }
    while (digits.size() > 1 && digits.back() == '0') {
        digits.pop_back();
    }
    int exponent = 0;
    std::string_view exponentText = scientific.substr(e + 1);
    if (!exponentText.empty() && exponentText.front() == '+') {
        exponentText.remove_prefix(1);
    }
    std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);

    std::string out;
    if (exponent >= -5 && exponent < 15) {
        if (exponent >= 0) {
            const auto integerDigits = static_cast<std::size_t>(exponent) + 1;
            if (digits.size() <= integerDigits) {
                out = digits + std::string(integerDigits - digits.size(), '0');
            } else {
                out = digits.substr(0, integerDigits) + std::string(separator) +
                      digits.substr(integerDigits);
            }
        } else {
            out = "0" + std::string(separator) +
                  std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
        }
    } else {
        out = digits.substr(0, 1);
        if (digits.size() > 1) {
            out += std::string(separator) + digits.substr(1);
        }
        out += "E" + std::to_string(exponent);
    }
    return out;
}

}  // namespace

// ---- XML ----

bool CaricaXmlVariazione(std::optional<XmlDocument>& documento, std::string_view xml) {
    if (xml.empty()) {
        return false;
    }
    try {
        documento.emplace();
        prepare(*documento);
        documento->setProperty("SelectionLanguage", "XPath");

        // The change document holds patient data: a private file of our own,
        // gone as soon as it is parsed.
        const std::filesystem::path file =
            std::filesystem::temp_directory_path() / ("xmlRowId_var" + nuovoGuid() + ".xml");
        if (files::writeNewPrivate(file, xml)) {
            documento->load(file);
            std::error_code ignored;
            std::filesystem::remove(file, ignored);
        } else {
            documento->load(std::filesystem::path());  // as a load of a missing file
        }

        const std::string changeTime = XMLSelectSingle(&*documento, kChangeTimeElement);
        return changeTime != kEmpty && !changeTime.empty();
    } catch (const std::exception&) {
        return false;
    }
}

std::string XMLSelectSingle(const XmlDocument* documento, std::string_view nome) {
    std::string result(kEmpty);
    if (documento == nullptr) {
        return result;
    }
    try {
        XmlDocument copy;
        prepare(copy);
        copy.loadXML(documento->xml());
        if (const XmlNode node = copy.selectSingleNode("//" + std::string(nome))) {
            result = node.text();
        }
    } catch (const Error& e) {
        windowing().messageBox(std::string(e.what()) + "XMLSelectSingle");
    }
    return result;
}

std::string XMLSelectSingle(const std::optional<XmlDocument>& documento, std::string_view nome) {
    return XMLSelectSingle(documento ? &*documento : nullptr, nome);
}

// ---- Files ----

std::string leggiFile(const std::filesystem::path& percorso) {
    auto content = files::readAll(percorso);
    if (!content) {
        return {};
    }
    if (const std::size_t zero = content->find('\0'); zero != std::string::npos) {
        content->resize(zero);
    }
    return std::move(*content);
}

bool scriviFile(const std::filesystem::path& percorso, std::string_view contenuto) {
    try {
        files::writeAtomically(percorso, contenuto);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// ---- Registry ----

std::string leggiStringaRegistro(registry::Root root, std::string_view chiave,
                                 std::string_view nome) {
    try {
        const auto value = registry::readValue(root, chiave, nome);
        if (value && (value->type == registry::ValueType::String ||
                      value->type == registry::ValueType::ExpandString)) {
            return value->text;
        }
    } catch (const std::exception&) {
    }
    return {};
}

ValoreRegistro leggiValoreRegistro(registry::Root root, std::string_view chiave,
                                   std::string_view nome) {
    if (!registry::keyExists(root, chiave)) {
        throw Error("Impossibile aprire la chiave di registro " +
                    registry::fullKeyName(root, chiave));
    }
    const auto value = registry::readValue(root, chiave, nome);
    if (!value) {
        throw Error("Valore di registro non trovato: " + std::string(nome));
    }
    switch (value->type) {
        case registry::ValueType::String:
        case registry::ValueType::ExpandString:
            return value->text;
        case registry::ValueType::Dword:
            return std::int64_t{
                static_cast<std::int32_t>(static_cast<std::uint32_t>(value->number))};
        case registry::ValueType::Qword:
            return static_cast<std::int64_t>(value->number);
        case registry::ValueType::Binary:
            return std::string(value->bytes.begin(), value->bytes.end());
        default:
            throw Error("Tipo del valore di registro non gestito: " + std::string(nome));
    }
}

// ---- INI ----

std::string leggiIni(const std::filesystem::path& file, std::string_view sezione,
                     std::string_view chiave) {
    try {
        if (const auto ini = IniFile::load(file, false)) {
            return ini->value(sezione, chiave).value_or(std::string());
        }
    } catch (const std::exception&) {
    }
    return {};
}

void scriviIni(const std::filesystem::path& file, std::string_view sezione, std::string_view chiave,
               std::string_view valore) {
    auto ini = IniFile::load(file, true);
    if (!ini) {
        throw Error("Impossibile leggere il file " + paths::toUtf8(file));
    }
    ini->set(sezione, chiave, valore);
    ini->save(file);
}

// ---- Dates ----

DataLetta testoAData(std::string_view testo) {
    if (const auto date = readDate(withoutDoubleQuotes(testo))) {
        return {*date, true};
    }
    return {clock::now(), false};
}

DataLetta testoADataOra(std::string_view testo) {
    const std::string text = withoutDoubleQuotes(testo);
    const std::size_t tab = text.find('\t');
    if (tab != std::string::npos) {
        const std::string_view time = std::string_view(text).substr(tab + 1, 5);
        const auto date = readDate(std::string_view(text).substr(0, tab));
        const auto hour = wholeNumber(time, 1, 2);
        const auto minute = wholeNumber(time, 4, 2);
        if (date && hour && minute) {
            if (*hour >= 0 && *hour <= 23 && *minute >= 0 && *minute <= 59) {
                DateTime value = *date;
                value.hour = *hour;
                value.minute = *minute;
                return {value, true};
            }
            // The end of the calendar's last day has no next day to be.
            if (*hour == 24 && *minute == 0 && date->addDays(1).isValid()) {
                return {date->addDays(1), true};
            }
        }
    }
    return {clock::now(), false};
}

std::string dataOraATesto(const DateTime& valore) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2d-%.2d-%.2d\t%.2d:%.2d", valore.year, valore.month,
                  valore.day, valore.hour, valore.minute);
    return buffer;
}

// ---- Numbers and texts ----

std::string normalizzaNumero(std::string_view testo, bool soloIntero) {
    const std::string separator = workstation::decimalSeparator();
    const auto scanned = scanNumber(testo, separator);
    if (!scanned) {
        return {};
    }
    double value = 0;
    const char* first = scanned->canonical.data();
    const char* last = first + scanned->canonical.size();
    const auto [end, error] = std::from_chars(first, last, value);
    if (error == std::errc::result_out_of_range) {
        if (scanned->magnitude > 0) {
            return {};  // too large for a number
        }
        value = 0;  // too small: it is zero
    } else if (error != std::errc() || end != last || !std::isfinite(value)) {
        return {};
    }
    value = std::fabs(value);
    if (soloIntero) {
        value = std::trunc(value);
    }
    return formatGeneral(value, separator);
}

std::string traVirgolette(std::string_view testo) {
    return "\"" + std::string(testo) + "\"";
}

std::string traApici(std::string_view testo) {
    return "'" + std::string(testo) + "'";
}

std::string pulisciControlli(std::string_view testo) {
    std::string out(testo);
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 && byte != '\t' && byte != '\n' && byte != '\r') {
            c = ' ';
        }
    }
    return out;
}

namespace {

bool controllo(unsigned char byte) {
    return byte < 32 || byte == 127;
}

void aggiungiVisibile(std::string& out, unsigned char byte) {
    constexpr const char* kCifre = "0123456789ABCDEF";
    out += "\\x";
    out += kCifre[byte >> 4];
    out += kCifre[byte & 0x0F];
}

}  // namespace

std::string testoVisibile(std::string_view testo) {
    std::string out;
    out.reserve(testo.size());
    for (const char c : testo) {
        const auto byte = static_cast<unsigned char>(c);
        if (controllo(byte)) {
            aggiungiVisibile(out, byte);
        } else {
            out += c;
        }
    }
    return out;
}

std::string righeVisibili(std::string_view testo, bool aCapoSoloLf) {
    std::string out;
    out.reserve(testo.size());
    for (std::size_t i = 0; i < testo.size(); ++i) {
        const auto byte = static_cast<unsigned char>(testo[i]);
        const bool crLf = byte == '\r' && i + 1 < testo.size() && testo[i + 1] == '\n';
        if (crLf && !aCapoSoloLf) {
            out += "\r\n";
            ++i;
        } else if (byte == '\t' || (byte == '\n' && aCapoSoloLf) || !controllo(byte)) {
            out += testo[i];
        } else {
            aggiungiVisibile(out, byte);
        }
    }
    return out;
}

std::string nuovoGuid() {
    static thread_local std::random_device device;
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        const std::uint32_t random = device();
        for (std::size_t j = 0; j < 4; ++j) {
            bytes[i + j] = static_cast<std::uint8_t>(random >> (8 * j));
        }
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            out += '-';
        }
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 0x0F];
    }
    return out;
}

}  // namespace kvt
