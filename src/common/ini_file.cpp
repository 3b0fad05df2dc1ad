#include "common/ini_file.h"

#include <algorithm>

#include "common/errors.h"
#include "common/files.h"
#include "common/paths.h"
#include "common/workstation.h"

namespace kvt {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// A file that starts with the UTF-8 byte-order mark is UTF-8 whatever the
// workstation's code page; every other one is in that code page.
bool isUtf8(std::string_view content) {
    return content.starts_with(kByteOrderMark);
}

constexpr std::size_t npos = std::string::npos;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    a = trim(a);
    b = trim(b);
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

// The section name of a header line, or nothing when the line is no header.
std::optional<std::string_view> sectionOf(std::string_view line) {
    line = trim(line);
    if (line.empty() || line.front() != '[') {
        return std::nullopt;
    }
    line.remove_prefix(1);
    const std::size_t close = line.find(']');
    return trim(close == npos ? line : line.substr(0, close));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyLine> keyOf(std::string_view line) {
    const std::string_view trimmed = trim(line);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[') {
        return std::nullopt;
    }
    const std::size_t equals = trimmed.find('=');
    if (equals == npos) {
        return std::nullopt;
    }
    return KeyLine{trim(trimmed.substr(0, equals)), trimmed.substr(equals + 1)};
}

std::string readValue(std::string_view raw) {
    raw = trim(raw);
    if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') &&
        raw.back() == raw.front()) {
        raw = raw.substr(1, raw.size() - 2);
    }
    return std::string(raw);
}

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != npos;
}

}  // namespace

IniFile IniFile::parse(std::string_view content) {
    IniFile file;
    if (content.starts_with(kByteOrderMark)) {
        file.byteOrderMark_ = true;
        content.remove_prefix(kByteOrderMark.size());
    }
    // The last-visit file is read and rewritten for every patient sent, and
    // grows by one line for each: its lines are counted first, not regrown.
    file.lines_.reserve(static_cast<std::size_t>(std::count(content.begin(), content.end(), '\n')) +
                        1);
    // A CR alone ends a line too, as for the Windows profile functions: a
    // value read never holds a line break, and none is written back into one.
    while (!content.empty()) {
        const std::size_t newline = content.find_first_of("\r\n");
        Line line;
        if (newline == npos) {
            line.text = std::string(content);
            content = {};
        } else {
            const bool crlf = content.substr(newline, 2) == "\r\n";
            line.text = std::string(content.substr(0, newline));
            line.end = crlf ? "\r\n" : std::string(1, content[newline]);
            content.remove_prefix(newline + line.end.size());
        }
        file.lines_.push_back(std::move(line));
    }
    return file;
}

std::optional<IniFile> IniFile::load(const std::filesystem::path& path, bool missingIsEmpty) {
    if (const auto content = files::readAll(path)) {
        return parse(isUtf8(*content) ? *content : workstation::fromCodePage(*content));
    }
    std::error_code ec;
    if (missingIsEmpty && !std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
        return IniFile{};
    }
    return std::nullopt;
}

std::size_t IniFile::findSection(std::string_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (const auto name = sectionOf(lines_[i].text); name && sameName(*name, section)) {
            return i;
        }
    }
    return npos;
}

std::size_t IniFile::findKey(std::size_t header, std::string_view key) const {
    for (std::size_t i = header + 1; i < lines_.size() && !sectionOf(lines_[i].text); ++i) {
        if (const auto entry = keyOf(lines_[i].text); entry && sameName(entry->key, key)) {
            return i;
        }
    }
    return npos;
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const {
    const std::size_t header = findSection(section);
    if (header == npos) {
        return std::nullopt;
    }
    const std::size_t line = findKey(header, key);
    if (line == npos) {
        return std::nullopt;
    }
    return readValue(keyOf(lines_[line].text)->value);
}

std::string IniFile::comparableKey(std::string_view key) {
    std::string comparable(trim(key));
    std::transform(comparable.begin(), comparable.end(), comparable.begin(), lower);
    return comparable;
}

bool IniFile::validKey(std::string_view key) {
    const std::string_view trimmed = trim(key);
    return !trimmed.empty() && !hasLineBreak(key) && key.find('=') == npos &&
           trimmed.front() != '[' && trimmed.front() != ';';
}

std::string IniFile::newLineEnd() const {
    for (const Line& line : lines_) {
        if (!line.end.empty()) {
            return line.end;
        }
    }
    return "\r\n";
}

void IniFile::set(std::string_view section, std::string_view key, std::string_view value) {
    if (trim(section).empty() || hasLineBreak(section) || section.find(']') != npos) {
        throw Error("Nome di sezione non valido per il file INI: \"" + std::string(section) + "\"");
    }
    const std::string_view trimmedKey = trim(key);
    if (!validKey(key)) {
        throw Error("Nome di chiave non valido per il file INI: \"" + std::string(key) + "\"");
    }
    if (hasLineBreak(value)) {
        throw Error("Un valore del file INI non può contenere un a capo");
    }
    const std::string end = newLineEnd();
    const std::size_t header = findSection(section);
    if (header == npos) {
        if (!lines_.empty()) {
            if (lines_.back().end.empty()) {
                lines_.back().end = end;
            }
            if (!trim(lines_.back().text).empty()) {
                lines_.push_back({"", end});
            }
        }
        lines_.push_back({"[" + std::string(trim(section)) + "]", end});
        lines_.push_back({std::string(trimmedKey) + "=" + std::string(value), end});
        return;
    }
    if (const std::size_t line = findKey(header, key); line != npos) {
        lines_[line].text = std::string(keyOf(lines_[line].text)->key) + "=" + std::string(value);
        return;
    }
    // After the section's last non-blank line.
    std::size_t last = header;
    for (std::size_t i = header + 1; i < lines_.size() && !sectionOf(lines_[i].text); ++i) {
        if (!trim(lines_[i].text).empty()) {
            last = i;
        }
    }
    if (lines_[last].end.empty()) {
        lines_[last].end = end;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last) + 1,
                  Line{std::string(trimmedKey) + "=" + std::string(value), end});
}

std::string IniFile::serialize() const {
    std::string out;
    if (byteOrderMark_) {
        out += kByteOrderMark;
    }
    for (const Line& line : lines_) {
        out += line.text;
        out += line.end;
    }
    return out;
}

void IniFile::save(const std::filesystem::path& path) const {
    const std::string content = serialize();
    if (isUtf8(content)) {
        files::writeAtomically(path, content);
        return;
    }
    // The keys are fiscal codes: one written with a character changed could
    // give two patients one entry. A text the code page cannot hold is
    // refused, and the file stays as it was.
    const std::optional<std::string> bytes = workstation::toCodePage(content);
    if (!bytes) {
        throw CodePageError("Impossibile scrivere il file " + paths::toUtf8(path) +
                            ": un testo contiene caratteri che la codifica della postazione non "
                            "rappresenta");
    }
    files::writeAtomically(path, *bytes);
}

}  // namespace kvt
