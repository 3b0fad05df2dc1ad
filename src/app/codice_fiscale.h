#pragma once
// The one rule for a fiscal code the run can use. The code names the
// patient's files, keys the last-visit file and becomes the pseudonym the
// service files the patient under: a code that cannot do all three safely
// is refused before it is used for any of them.
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace kvt {

// The longest code taken, in bytes: far past the 16 characters of a personal
// code and the 11 digits of a temporary one, well within a file name.
inline constexpr std::size_t kLunghezzaMassimaCodice = 64;

// True when the code is empty or holds only blanks: the patient has no code.
bool codiceFiscaleAssente(std::string_view codice);

// Why a code that is not absent cannot be used, as the log's
// "SCARTATO (codice fiscale non valido …)" goes on; nothing when it can be.
// The same on every build: what Windows forbids in a file name (separators,
// reserved characters, device names such as "NUL.1" whatever the extension)
// is refused on Linux too, and so is what would break the last-visit file's
// key (a "=", a leading ";" or "[", a character the workstation's code page
// cannot hold).
std::optional<std::string> motivoCodiceNonValido(std::string_view codice);

// The code as the last-visit file tells codes apart (IniFile::comparableKey).
std::string chiaveCodice(std::string_view codice);

// The codes met in one walk of the patients. The last-visit file takes two
// codes that differ only in case or surrounding blanks for one patient,
// while a case-sensitive file system would file them apart: the later of the
// two is refused, so that every build files such patients alike.
class CodiciDelGiro {
  public:
    // The number of the earlier patient whose code is this one but for case
    // or blanks; nothing when the code is new or spelt as before (then it is
    // recorded for the patients after).
    std::optional<int> altraGrafia(const std::string& codice, int paziente);
    // What the last altraGrafia answered.
    std::optional<int> ultimaAltraGrafia() const { return ultima_; }
    void azzera() {
        visti_.clear();
        ultima_.reset();
    }

  private:
    struct Visto {
        std::string grafia;
        int paziente = 0;
    };
    std::unordered_map<std::string, Visto> visti_;
    std::optional<int> ultima_;
};

}  // namespace kvt
