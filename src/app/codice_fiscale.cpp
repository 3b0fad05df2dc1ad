#include "app/codice_fiscale.h"

#include <array>

#include "common/ini_file.h"
#include "common/workstation.h"

namespace kvt {
namespace {

char maiuscola(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool ugualiSenzaMaiuscole(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (maiuscola(a[i]) != maiuscola(b[i])) {
            return false;
        }
    }
    return true;
}

bool carattereVietatoNeiNomi(unsigned char c) {
    if (c < 32 || c == 127) {
        return true;
    }
    switch (c) {
        case '/':
        case '\\':
        case '<':
        case '>':
        case ':':
        case '"':
        case '|':
        case '?':
        case '*':
            return true;
        default:
            return false;
    }
}

// Windows opens these devices for a file name whose part before the first
// dot is one of them, blanks after it and any extension notwithstanding.
constexpr std::array<std::string_view, 33> kDispositivi = {
    "CON",         "PRN",         "AUX",         "NUL",         "CONIN$",      "CONOUT$",
    "CLOCK$",      "COM0",        "COM1",        "COM2",        "COM3",        "COM4",
    "COM5",        "COM6",        "COM7",        "COM8",        "COM9",        "LPT0",
    "LPT1",        "LPT2",        "LPT3",        "LPT4",        "LPT5",        "LPT6",
    "LPT7",        "LPT8",        "LPT9",        "COM\xC2\xB9", "COM\xC2\xB2", "COM\xC2\xB3",
    "LPT\xC2\xB9", "LPT\xC2\xB2", "LPT\xC2\xB3",
};

bool nomeDiDispositivo(std::string_view nomeFile) {
    std::string_view radice = nomeFile.substr(0, nomeFile.find('.'));
    while (!radice.empty() && radice.back() == ' ') {
        radice.remove_suffix(1);
    }
    for (const std::string_view dispositivo : kDispositivi) {
        if (ugualiSenzaMaiuscole(radice, dispositivo)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool codiceFiscaleAssente(std::string_view codice) {
    return IniFile::comparableKey(codice).empty();
}

std::optional<std::string> motivoCodiceNonValido(std::string_view codice) {
    if (codice.size() > kLunghezzaMassimaCodice) {
        return "come nome di file: oltre " + std::to_string(kLunghezzaMassimaCodice) + " caratteri";
    }
    for (const char c : codice) {
        if (carattereVietatoNeiNomi(static_cast<unsigned char>(c))) {
            return std::string("come nome di file");
        }
    }
    if (codice.find("..") != std::string_view::npos) {
        return std::string("come nome di file");
    }
    if (nomeDiDispositivo(std::string(codice) + "_kvt.xml")) {
        return std::string("come nome di file: è un nome di dispositivo di Windows");
    }
    if (!IniFile::validKey(codice)) {
        return std::string("come chiave del file delle visite");
    }
    if (!workstation::toCodePage(codice)) {
        return std::string(
            "come chiave del file delle visite: caratteri che la codifica della postazione non "
            "rappresenta");
    }
    return std::nullopt;
}

std::string chiaveCodice(std::string_view codice) {
    return IniFile::comparableKey(codice);
}

std::optional<int> CodiciDelGiro::altraGrafia(const std::string& codice, int paziente) {
    const auto [visto, nuovo] = visti_.try_emplace(chiaveCodice(codice), Visto{codice, paziente});
    if (nuovo || visto->second.grafia == codice) {
        ultima_.reset();
    } else {
        ultima_ = visto->second.paziente;
    }
    return ultima_;
}

}  // namespace kvt
