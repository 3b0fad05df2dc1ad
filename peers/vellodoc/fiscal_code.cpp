#include "peers/vellodoc/fiscal_code.h"

#include <array>
#include <cstdio>

#include "common/utf.h"

namespace kvt::vellodoc {
namespace {

constexpr std::string_view kMonthLetters = "ABCDEHLMPRST";
// Digits that replace 0..9 in a code made unique by the tax office (omocodia).
constexpr std::string_view kOmocodia = "LMNPQRSTUV";
// Values of A..Z (and of 0..9, which count as A..J) in the odd places.
constexpr std::array<int, 26> kOddValues = {1,  0,  5, 7, 9, 13, 15, 17, 19, 21, 2,  4,  18,
                                            20, 11, 3, 6, 8, 12, 14, 16, 10, 22, 25, 24, 23};

bool isVowel(char c) {
    return c == 'A' || c == 'E' || c == 'I' || c == 'O' || c == 'U';
}

// The upper-case Latin letters of a UTF-8 text, accents dropped.
std::string letters(std::string_view text) {
    std::string out;
    for (const char16_t unit : utf8ToUtf16(text)) {
        char32_t c = unit;
        if (c >= U'a' && c <= U'z') {
            c = c - U'a' + U'A';
        }
        if (c >= 0xC0 && c <= 0xFF) {
            static constexpr std::string_view kLatin1 =
                "AAAAAAACEEEEIIII"
                "DNOOOOO*OUUUUYTS"
                "AAAAAAACEEEEIIII"
                "DNOOOOO/OUUUUYTY";
            c = static_cast<unsigned char>(kLatin1[c - 0xC0]);
        }
        if (c >= U'A' && c <= U'Z') {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string nameLetters(std::string_view text, bool isName) {
    const std::string all = letters(text);
    std::string consonants;
    std::string vowels;
    for (const char c : all) {
        (isVowel(c) ? vowels : consonants) += c;
    }
    if (isName && consonants.size() >= 4) {
        return {consonants[0], consonants[2], consonants[3]};
    }
    std::string code = consonants + vowels + "XXX";
    return code.substr(0, 3);
}

bool isDigitPlace(char c) {
    return (c >= '0' && c <= '9') || kOmocodia.find(c) != std::string_view::npos;
}

bool isLetter(char c) {
    return c >= 'A' && c <= 'Z';
}

}  // namespace

std::string fiscalCode(const FiscalCodePerson& person) {
    char dates[16];
    std::snprintf(dates, sizeof dates, "%02d%c%02d", person.year % 100,
                  kMonthLetters[static_cast<std::size_t>(person.month - 1) % 12],
                  person.day + (person.sex == 'F' ? 40 : 0));
    std::string code = nameLetters(person.surname, false) + nameLetters(person.name, true) + dates +
                       std::string(person.birthplace);
    code += fiscalCodeCheckCharacter(code);
    return code;
}

char fiscalCodeCheckCharacter(std::string_view first15) {
    int sum = 0;
    for (std::size_t i = 0; i < first15.size() && i < 15; ++i) {
        const char c = first15[i];
        const int value = (c >= '0' && c <= '9') ? c - '0' : c - 'A';
        if (value < 0 || value >= 26) {
            return '?';
        }
        // Places are counted from 1: the first character is in an odd place.
        sum += (i % 2 == 0) ? kOddValues[static_cast<std::size_t>(value)] : value;
    }
    return static_cast<char>('A' + sum % 26);
}

bool isValidFiscalCode(std::string_view code) {
    if (code.size() != 16) {
        return false;
    }
    for (std::size_t i = 0; i < 16; ++i) {
        const char c = code[i];
        const bool digitPlace = i == 6 || i == 7 || i == 9 || i == 10 || (i >= 12 && i <= 14);
        if (digitPlace ? !isDigitPlace(c) : !isLetter(c)) {
            return false;
        }
    }
    if (kMonthLetters.find(code[8]) == std::string_view::npos) {
        return false;
    }
    return fiscalCodeCheckCharacter(code.substr(0, 15)) == code[15];
}

}  // namespace kvt::vellodoc
