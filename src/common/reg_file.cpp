#include "common/reg_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>

#include "common/errors.h"
#include "common/files.h"
#include "common/paths.h"
#include "common/utf.h"

namespace kvt::registry {
namespace {

char lowerAsciiChar(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAsciiChar(x) == lowerAsciiChar(y);
           });
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

struct RootAlias {
    std::string_view shortName;
    std::string_view longName;
};
constexpr RootAlias kRoots[] = {
    {"HKCU", "HKEY_CURRENT_USER"}, {"HKLM", "HKEY_LOCAL_MACHINE"},  {"HKCR", "HKEY_CLASSES_ROOT"},
    {"HKU", "HKEY_USERS"},         {"HKCC", "HKEY_CURRENT_CONFIG"},
};

// A UTF-16LE export (regedit's own) or a single-byte one, as UTF-8.
std::string decodeContent(std::string_view content) {
    if (content.size() >= 2 && static_cast<unsigned char>(content[0]) == 0xFF &&
        static_cast<unsigned char>(content[1]) == 0xFE) {
        std::u16string wide;
        for (std::size_t i = 2; i + 1 < content.size(); i += 2) {
            wide += static_cast<char16_t>(static_cast<unsigned char>(content[i]) |
                                          (static_cast<unsigned char>(content[i + 1]) << 8));
        }
        return utf16ToUtf8(wide);
    }
    if (content.size() >= 3 && content.substr(0, 3) == "\xEF\xBB\xBF") {
        content.remove_prefix(3);
    }
    // Valid UTF-8 stays; anything else is taken as the Windows code page.
    const std::u16string asWide = utf8ToUtf16(content);
    if (utf16ToUtf8(asWide) == content) {
        return std::string(content);
    }
    return windows1252ToUtf8(content);
}

// Names compare without case as regedit does, for ASCII letters only.
std::string lowerAscii(std::string_view name) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(), lowerAsciiChar);
    return lower;
}

// The name a key is found by: its canonical name, lower-cased.
std::string indexName(std::string_view fullName) {
    return lowerAscii(canonicalKeyName(fullName));
}

// True for a value line whose data is a hex list ("name"=hex...:..).
bool isHexList(std::string_view line) {
    for (std::size_t equals = line.find('='); equals != std::string_view::npos;
         equals = line.find('=', equals + 1)) {
        if (startsWithNoCase(line.substr(equals + 1), "hex")) {
            return true;
        }
    }
    return false;
}

// Calls onLine with each logical line: a line ending in a backslash continues
// on the next (regedit wraps long hex lists so). The pieces of a wrapped line
// are appended to one buffer, so a value of any length is read in linear time.
template <typename OnLine>
void forEachLogicalLine(std::string_view text, OnLine&& onLine) {
    std::string joined;
    bool continuing = false;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        std::string_view line =
            text.substr(start, end == std::string_view::npos ? end : end - start);
        start = end == std::string_view::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (continuing) {
            joined += trim(line);
        }
        const std::string_view current = continuing ? std::string_view(joined) : line;
        if (!current.empty() && current.back() == '\\' && (continuing || isHexList(current))) {
            if (!continuing) {
                joined.assign(current);
            }
            joined.pop_back();
            continuing = true;
            continue;
        }
        onLine(current);
        continuing = false;
        joined.clear();
    }
    if (continuing) {
        onLine(std::string_view(joined));
    }
}

// Reads a quoted text with \\ and \" escapes starting at s[pos] == '"'; pos
// ends after the closing quote. False when the text is not closed.
bool readQuoted(std::string_view s, std::size_t& pos, std::string& out) {
    if (pos >= s.size() || s[pos] != '"') {
        return false;
    }
    ++pos;
    out.clear();
    while (pos < s.size()) {
        const char c = s[pos++];
        if (c == '\\' && pos < s.size()) {
            out += s[pos++];
        } else if (c == '"') {
            return true;
        } else {
            out += c;
        }
    }
    return false;
}

bool parseHexBytes(std::string_view list, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    list = trim(list);
    if (list.empty()) {
        return true;
    }
    std::size_t pos = 0;
    while (pos <= list.size()) {
        const std::size_t comma = list.find(',', pos);
        const std::string_view item = trim(list.substr(
            pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos));
        if (item.empty() || item.size() > 2) {
            return false;
        }
        unsigned value = 0;
        for (const char c : item) {
            value <<= 4;
            if (c >= '0' && c <= '9') {
                value |= c - '0';
            } else if (c >= 'a' && c <= 'f') {
                value |= c - 'a' + 10;
            } else if (c >= 'A' && c <= 'F') {
                value |= c - 'A' + 10;
            } else {
                return false;
            }
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
        if (comma == std::string_view::npos) {
            break;
        }
        pos = comma + 1;
    }
    return true;
}

// Text stored in an expandable or multi-string value: UTF-16LE in a 5.00
// export, single bytes in a REGEDIT4 one.
std::string textOfBytes(const std::vector<std::uint8_t>& bytes, bool wide) {
    std::string text;
    if (wide) {
        std::u16string w;
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
            w += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        }
        text = utf16ToUtf8(w);
    } else {
        text = windows1252ToUtf8(std::string(bytes.begin(), bytes.end()));
    }
    return text;
}

std::string stripTrailingNuls(std::string text) {
    while (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    return text;
}

bool parseValue(std::string_view data, bool wide, Value& value) {
    data = trim(data);
    if (!data.empty() && data.front() == '"') {
        std::size_t pos = 0;
        std::string text;
        if (!readQuoted(data, pos, text) || !trim(data.substr(pos)).empty()) {
            return false;
        }
        value = Value::string(std::move(text));
        return true;
    }
    if (startsWithNoCase(data, "dword:")) {
        const std::string_view digits = trim(data.substr(6));
        if (digits.empty() || digits.size() > 8) {
            return false;
        }
        std::uint32_t number = 0;
        for (const char c : digits) {
            if (!std::isxdigit(static_cast<unsigned char>(c))) {
                return false;
            }
            number =
                number * 16 + static_cast<std::uint32_t>(
                                  std::isdigit(static_cast<unsigned char>(c))
                                      ? c - '0'
                                      : (std::tolower(static_cast<unsigned char>(c)) - 'a' + 10));
        }
        value = Value::dword(number);
        return true;
    }
    if (startsWithNoCase(data, "hex")) {
        std::string_view rest = data.substr(3);
        int type = 3;  // plain "hex:" is binary
        if (!rest.empty() && rest.front() == '(') {
            const std::size_t close = rest.find(')');
            if (close == std::string_view::npos) {
                return false;
            }
            const std::string typeText(rest.substr(1, close - 1));
            char* end = nullptr;
            const long parsed = std::strtol(typeText.c_str(), &end, 16);
            if (typeText.empty() || *end != '\0' || parsed < 0) {
                return false;
            }
            type = static_cast<int>(parsed);
            rest = rest.substr(close + 1);
        }
        if (rest.empty() || rest.front() != ':') {
            return false;
        }
        std::vector<std::uint8_t> bytes;
        if (!parseHexBytes(rest.substr(1), bytes)) {
            return false;
        }
        value = Value{};
        switch (type) {
            case 1:
                value.type = ValueType::String;
                value.text = stripTrailingNuls(textOfBytes(bytes, wide));
                break;
            case 2:
                value.type = ValueType::ExpandString;
                value.text = stripTrailingNuls(textOfBytes(bytes, wide));
                break;
            case 3:
                value.type = ValueType::Binary;
                value.bytes = std::move(bytes);
                break;
            case 4:
                if (bytes.size() != 4) {
                    return false;
                }
                value.type = ValueType::Dword;
                value.number = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                               (static_cast<std::uint32_t>(bytes[3]) << 24);
                break;
            case 7:
                value.type = ValueType::MultiString;
                value.text = stripTrailingNuls(textOfBytes(bytes, wide));
                break;
            case 0xb:
                if (bytes.size() != 8) {
                    return false;
                }
                value.type = ValueType::Qword;
                for (int i = 7; i >= 0; --i) {
                    value.number = (value.number << 8) | bytes[i];
                }
                break;
            default:
                value.type = ValueType::Other;
                value.otherType = type;
                value.bytes = std::move(bytes);
                break;
        }
        return true;
    }
    return false;
}

std::string hexList(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", bytes[i]);
        if (i) {
            out += ',';
        }
        out += buf;
    }
    return out;
}

std::vector<std::uint8_t> utf16leBytes(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    for (const char16_t c : utf8ToUtf16(text)) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

std::string quotedText(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
    return out;
}

std::string serializeValue(const Value& v) {
    char buf[32];
    switch (v.type) {
        case ValueType::String:
            return quotedText(v.text);
        case ValueType::Dword:
            std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(v.number));
            return buf;
        case ValueType::ExpandString:
            return "hex(2):" + hexList(utf16leBytes(v.text));
        case ValueType::MultiString: {
            auto bytes = utf16leBytes(v.text);
            bytes.push_back(0);
            bytes.push_back(0);
            return "hex(7):" + hexList(bytes);
        }
        case ValueType::Qword: {
            std::vector<std::uint8_t> bytes;
            for (int i = 0; i < 8; ++i) {
                bytes.push_back(static_cast<std::uint8_t>(v.number >> (8 * i)));
            }
            return "hex(b):" + hexList(bytes);
        }
        case ValueType::Binary:
            return "hex:" + hexList(v.bytes);
        case ValueType::Other:
            std::snprintf(buf, sizeof buf, "hex(%x):", v.otherType);
            return buf + hexList(v.bytes);
    }
    return {};
}

}  // namespace

std::string canonicalKeyName(std::string_view name) {
    name = trim(name);
    const std::size_t slash = name.find('\\');
    const std::string_view root = name.substr(0, slash);
    const std::string_view rest =
        slash == std::string_view::npos ? std::string_view{} : name.substr(slash);
    for (const auto& alias : kRoots) {
        if (equalNoCase(root, alias.shortName) || equalNoCase(root, alias.longName)) {
            std::string full(alias.longName);
            std::string_view path = rest;
            while (!path.empty() && path.back() == '\\') {
                path.remove_suffix(1);
            }
            full += path;
            return full;
        }
    }
    return {};
}

// Reads one logical line after another into a file, remembering the header
// and the key the lines below it belong to.
struct RegFile::Reader {
    RegFile& file;
    bool wide = true;  // texts in hex lists are UTF-16LE, except in a REGEDIT4 export
    bool headerSeen = false;
    Slot* current = nullptr;

    void line(std::string_view rawLine) {
        const std::string_view text = trim(rawLine);
        if (!headerSeen && !text.empty()) {
            headerSeen = true;
            if (text == "REGEDIT4") {
                wide = false;
                return;
            }
            if (startsWithNoCase(text, "Windows Registry Editor Version")) {
                return;
            }
        }
        if (text.empty() || text.front() == ';') {
            return;
        }
        if (text.front() == '[') {
            keyLine(text);
        } else if (current) {
            valueLine(text);
        }
    }

    // "[name]" opens a key, "[-name]" deletes it with its subkeys.
    void keyLine(std::string_view text) {
        current = nullptr;
        if (text.back() != ']') {
            return;
        }
        std::string_view name = text.substr(1, text.size() - 2);
        const bool deletion = !name.empty() && name.front() == '-';
        if (deletion) {
            name.remove_prefix(1);
        }
        const std::string canonical = canonicalKeyName(name);
        if (canonical.empty()) {
            return;
        }
        if (deletion) {
            file.removeKeyTree(canonical);
        } else {
            current = &file.slotFor(canonical);
        }
    }

    // "name"=data or @=data; data "-" deletes the value.
    void valueLine(std::string_view text) {
        std::string valueName;
        std::size_t pos = 0;
        if (text.front() == '@') {
            pos = 1;
        } else if (!readQuoted(text, pos, valueName)) {
            return;
        }
        const std::string_view afterName = trim(text.substr(pos));
        if (afterName.empty() || afterName.front() != '=') {
            return;
        }
        const std::string_view data = trim(afterName.substr(1));
        if (data == "-") {
            removeFrom(*current, valueName);
            return;
        }
        Value value;
        if (parseValue(data, wide, value)) {
            setIn(*current, valueName, std::move(value));
        }
    }
};

RegFile::RegFile(const RegFile& other) : keys_(other.keys_) {
    rebuildIndex();
}

RegFile& RegFile::operator=(const RegFile& other) {
    if (this != &other) {
        keys_ = other.keys_;
        rebuildIndex();
    }
    return *this;
}

void RegFile::rebuildIndex() {
    index_.clear();
    for (auto key = keys_.begin(); key != keys_.end(); ++key) {
        Slot& slot = index_[lowerAscii(key->name)];
        slot.key = key;
        for (auto entry = key->entries.begin(); entry != key->entries.end(); ++entry) {
            slot.entries[lowerAscii(entry->name)] = entry;
        }
    }
}

RegFile RegFile::parse(std::string_view content) {
    RegFile file;
    Reader reader{file};
    forEachLogicalLine(decodeContent(content),
                       [&reader](std::string_view line) { reader.line(line); });
    return file;
}

RegFile RegFile::load(const std::filesystem::path& path) {
    if (const auto content = files::readAll(path)) {
        return parse(*content);
    }
    return {};
}

std::string RegFile::serialize() const {
    std::string out = "Windows Registry Editor Version 5.00\r\n";
    for (const Key& key : keys_) {
        out += "\r\n[" + key.name + "]\r\n";
        for (const Entry& entry : key.entries) {
            out += entry.name.empty() ? std::string("@") : quotedText(entry.name);
            out += "=" + serializeValue(entry.value) + "\r\n";
        }
    }
    return out;
}

void RegFile::saveAtomically(const std::filesystem::path& path) const {
    std::error_code ec;
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path(), ec);
    }
    try {
        files::writeAtomically(path, serialize(), files::Replace::PrivateDurable);
    } catch (const Error&) {
        throw Error("impossibile scrivere " + paths::toUtf8(path));
    }
}

const RegFile::Slot* RegFile::findSlot(std::string_view fullName) const {
    const auto found = index_.find(indexName(fullName));
    return found == index_.end() ? nullptr : &found->second;
}

const RegFile::Key* RegFile::findKey(std::string_view fullName) const {
    const Slot* slot = findSlot(fullName);
    return slot ? &*slot->key : nullptr;
}

const Value* RegFile::find(std::string_view fullKeyName, std::string_view valueName) const {
    const Slot* slot = findSlot(fullKeyName);
    if (!slot) {
        return nullptr;
    }
    const auto found = slot->entries.find(lowerAscii(valueName));
    return found == slot->entries.end() ? nullptr : &found->second->value;
}

RegFile::Slot& RegFile::slotFor(std::string_view canonicalName) {
    std::string lower = lowerAscii(canonicalName);
    if (const auto found = index_.find(lower); found != index_.end()) {
        return found->second;
    }
    keys_.push_back(Key{std::string(canonicalName), {}});
    return index_.emplace(std::move(lower), Slot{std::prev(keys_.end()), {}}).first->second;
}

void RegFile::setIn(Slot& slot, std::string_view valueName, Value value) {
    std::string lower = lowerAscii(valueName);
    if (const auto found = slot.entries.find(lower); found != slot.entries.end()) {
        found->second->value = std::move(value);
        return;
    }
    std::list<Entry>& entries = slot.key->entries;
    entries.push_back(Entry{std::string(valueName), std::move(value)});
    slot.entries.emplace(std::move(lower), std::prev(entries.end()));
}

bool RegFile::removeFrom(Slot& slot, std::string_view valueName) {
    const auto found = slot.entries.find(lowerAscii(valueName));
    if (found == slot.entries.end()) {
        return false;
    }
    slot.key->entries.erase(found->second);
    slot.entries.erase(found);
    return true;
}

void RegFile::set(std::string_view fullKeyName, std::string_view valueName, Value value) {
    setIn(slotFor(canonicalKeyName(fullKeyName)), valueName, std::move(value));
}

bool RegFile::remove(std::string_view fullKeyName, std::string_view valueName) {
    const auto found = index_.find(indexName(fullKeyName));
    return found != index_.end() && removeFrom(found->second, valueName);
}

void RegFile::removeKeyTree(std::string_view canonicalName) {
    const std::string lower = lowerAscii(canonicalName);
    const auto eraseRange = [this](auto first, auto last) {
        for (auto it = first; it != last; ++it) {
            keys_.erase(it->second.key);
        }
        index_.erase(first, last);
    };
    const auto self = index_.find(lower);
    if (self != index_.end()) {
        eraseRange(self, std::next(self));
    }
    // Subkeys sort between "name\" and "name]", ']' following '\' in ASCII.
    eraseRange(index_.lower_bound(lower + '\\'), index_.lower_bound(lower + ']'));
}

}  // namespace kvt::registry
