#pragma once
// The Italian fiscal code (codice fiscale) of a person: three letters of the
// surname, three of the name, birth year, month letter, day (plus 40 for
// women), the birthplace's cadastral code and the check character.
#include <string>
#include <string_view>

namespace kvt::vellodoc {

struct FiscalCodePerson {
    std::string_view surname;  // UTF-8; accents, blanks and apostrophes allowed
    std::string_view name;
    char sex = 'M';  // 'M' or 'F'
    int year = 0, month = 0, day = 0;
    std::string_view birthplace;  // cadastral code, e.g. "H501"; "Z..." abroad
};

std::string fiscalCode(const FiscalCodePerson& person);
// The check character of the first fifteen characters (upper case).
char fiscalCodeCheckCharacter(std::string_view first15);
// True for a well-formed code (omocodia letters accepted in the digit places)
// whose check character is right.
bool isValidFiscalCode(std::string_view code);

}  // namespace kvt::vellodoc
