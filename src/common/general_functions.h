#pragma once
// The general helpers shared by the upload run, the record builder and the
// login window: XML change documents, whole files, registry and INI values,
// the date forms of the host and of the last-visit file, numbers, quoting,
// control characters and unique identifiers. They keep no state and never
// write to the log. Texts are UTF-8.
//
// Except where a function says it raises, every reading operation turns a
// failure into its neutral result (empty text, false, an invalid flag) and
// reports nothing.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "common/date_time.h"
#include "common/registry.h"
#include "common/xml_document.h"

namespace kvt {

// ---- XML ----

// Loads the change document text into a new document in `documento` (async,
// validateOnParse and resolveExternals off, selection language XPath). The text
// goes through a private temporary file: created exclusively in the system's
// temporary folder as "xmlRowId_var" + nuovoGuid() + ".xml", readable by its
// owner only, and removed once loaded. True when the document holds a node
// "datatime_acquisizione_cartella" whose text is neither empty nor "empty".
// An empty text gives false and leaves `documento` untouched; any other
// failure (the file cannot be written, the text does not parse) gives false.
bool CaricaXmlVariazione(std::optional<XmlDocument>& documento, std::string_view xml);

// The text of the first element `nome` anywhere in the document (the XPath
// "//" + nome, on a private copy: the document is never changed); "empty" when
// there is no document or no such element. A DOM error (kvt::Error, e.g. a
// name that makes an invalid XPath) is shown in a message box: its message
// directly followed by "XMLSelectSingle"; the result is then "empty".
std::string XMLSelectSingle(const XmlDocument* documento, std::string_view nome);
std::string XMLSelectSingle(const std::optional<XmlDocument>& documento, std::string_view nome);

// ---- Files ----

// The whole file up to its first zero byte, if any; empty on any failure.
// (On POSIX the workstation's code page is UTF-8: bytes pass unchanged.)
std::string leggiFile(const std::filesystem::path& percorso);
// Writes the content (no line end added), replacing the file atomically; a
// new file is readable by its owner only. True when written.
bool scriviFile(const std::filesystem::path& percorso, std::string_view contenuto);

// ---- Registry ----

// A text value (string or expandable string, not expanded); empty when the key
// or the value is missing or the value is of another type.
std::string leggiStringaRegistro(registry::Root root, std::string_view chiave,
                                 std::string_view nome);

// A registry value as the program reads it: text, or an integer.
using ValoreRegistro = std::variant<std::string, std::int64_t>;
// Text or expandable text gives the text; a DWORD gives the integer (as a
// signed 32-bit number, as Windows programs read it), a QWORD the 64-bit
// integer; binary gives its bytes as a text of the same length. Raises
// kvt::Error when the key or the value is missing, and for any other type.
// Converting a text to a number is the caller's business.
ValoreRegistro leggiValoreRegistro(registry::Root root, std::string_view chiave,
                                   std::string_view nome);

// ---- INI files (see ini_file.h for the rules) ----

// The key's value; empty when the file, section or key is missing or the file
// cannot be read.
std::string leggiIni(const std::filesystem::path& file, std::string_view sezione,
                     std::string_view chiave);
// Writes the key, creating the file and the section when missing; the file is
// replaced atomically, keeping its permission bits (a new file: owner only).
// Raises kvt::Error on any failure (folder missing, not writable, a name or
// value the file cannot hold).
void scriviIni(const std::filesystem::path& file, std::string_view sezione, std::string_view chiave,
               std::string_view valore);

// ---- Dates ----

// A date read from a text: `valida` false when the text was not readable, and
// then `valore` is the current date and time (clock::now()).
struct DataLetta {
    DateTime valore;
    bool valida = false;
};

// Host date form "yyyy-mm-dd" (double quotes anywhere are removed first;
// anything after the tenth character is ignored): year = characters 1-4,
// month = 6-7, day = 9-10, each a decimal whole number (leading blanks and a
// sign allowed, nothing else). A valid calendar date (years 1-9999, leap years
// counted) gives that date at midnight.
DataLetta testoAData(std::string_view testo);
// Settings date-time form "yyyy-mm-dd" TAB "hh:mm" (double quotes removed):
// the date part is everything before the first TAB and read as testoAData;
// hour = characters 1-2 and minute = 4-5 after the TAB. Hours 0-23 and minutes
// 0-59, or exactly 24:00 (midnight at the end of that day); seconds are 0.
// No TAB, a block that is not a number, or an invalid date or time: invalid.
DataLetta testoADataOra(std::string_view testo);
// "%.2d-%.2d-%.2d\t%.2d:%.2d" of year, month, day, hour, minute (seconds dropped).
std::string dataOraATesto(const DateTime& valore);

// ---- Numbers and texts ----

// Reads a decimal number written with the workstation's decimal separator
// (blanks around it, a sign and an exponent "E" allowed; no thousands
// separator, no other separator), takes its absolute value, cuts it to its
// integer part when soloIntero is set, and writes it in the shortest general
// form: at most 15 significant digits, no trailing zeros, the workstation's
// separator only when a fraction is left; fixed notation for 0 and for values
// from 0.00001 to 15 digits before the separator, otherwise scientific
// ("1,5E-7", "1E20"). Empty when the text is not a number (or is out of range).
std::string normalizzaNumero(std::string_view testo, bool soloIntero);

// The text between two double quotes / two apostrophes; nothing is escaped.
std::string traVirgolette(std::string_view testo);
std::string traApici(std::string_view testo);

// Every byte below 32 other than TAB, LF and CR replaced by a blank.
std::string pulisciControlli(std::string_view testo);

// A value from outside (the host, the service) as a log line or a terminal
// may show it: every control character (below 32, and 127) written visibly
// as "\x" and two upper-case hexadecimal digits, so that a line break never
// starts a line and an escape sequence never reaches a terminal.
std::string testoVisibile(std::string_view testo);
// The same for the program's own texts, whose line breaks (CR LF, or LF
// alone where `aCapoSoloLf`) and TABs are kept; any other control character,
// a lone CR included, is shown visibly.
std::string righeVisibili(std::string_view testo, bool aCapoSoloLf = false);

// A new random (version 4) unique identifier in its standard form without
// braces: 36 characters, upper-case hexadecimal in groups 8-4-4-4-12.
std::string nuovoGuid();

}  // namespace kvt
