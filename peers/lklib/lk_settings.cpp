#include "lklib/lk_settings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

#include "common/registry.h"
#include "lklib/lk_connection.h"

namespace kvt::lk {
namespace {

constexpr std::array<SettingInfo, 8> kSettings = {{
    {"Url", SettingKind::Text, "Indirizzo del servizio (URL)", 0},
    {"ReqTout", SettingKind::Milliseconds, "Attesa della risposta (ms)", 90000},
    {"ConnectTout", SettingKind::Milliseconds, "Attesa della connessione (ms)", 15000},
    {"StallTout", SettingKind::Milliseconds, "Trasferimento fermo (ms)", 30000},
    {"CaFile", SettingKind::Path, "Certificati di fiducia (file PEM)", 0},
    {"Token", SettingKind::Secret, "Token di accesso", 0},
    {"Proxy", SettingKind::ProxyUrl, "Proxy (URL)", 0},
    {"LogFilename", SettingKind::Path, "File di log del connettore", 0},
}};

bool equalNoCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

}  // namespace

std::string storedText(std::string_view name) {
    const auto value =
        registry::readValue(registry::Root::CurrentUser, kSettingsKeyPath, std::string(name));
    if (!value) {
        return {};
    }
    switch (value->type) {
        case registry::ValueType::String:
        case registry::ValueType::ExpandString:
            return value->text;
        case registry::ValueType::Dword:
        case registry::ValueType::Qword:
            return std::to_string(value->number);
        default:
            return {};
    }
}

namespace {

long readMilliseconds(std::string_view name, long fallback) {
    return parseMilliseconds(storedText(name)).value_or(fallback);
}

}  // namespace

std::span<const SettingInfo> settingTable() {
    return kSettings;
}

const SettingInfo* findSetting(std::string_view name) {
    for (const SettingInfo& info : kSettings) {
        if (equalNoCase(info.name, name)) {
            return &info;
        }
    }
    return nullptr;
}

std::optional<long> parseMilliseconds(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value <= 0) {
        return std::nullopt;
    }
    return value;
}

Settings readSettings() {
    Settings settings;
    settings.url = storedText("Url");
    settings.caFile = storedText("CaFile");
    settings.token = storedText("Token");
    settings.proxy = storedText("Proxy");
    settings.logFilename = storedText("LogFilename");
    settings.requestTimeoutMs = readMilliseconds("ReqTout", settings.requestTimeoutMs);
    settings.connectTimeoutMs = readMilliseconds("ConnectTout", settings.connectTimeoutMs);
    settings.stallTimeoutMs = readMilliseconds("StallTout", settings.stallTimeoutMs);
    return settings;
}

std::string storedValue(const SettingInfo& setting, std::string_view text, registry::Value& value) {
    if (text.find_first_of("\r\n") != std::string_view::npos) {
        return "il valore di " + std::string(setting.name) + " non puo' andare a capo";
    }
    switch (setting.kind) {
        case SettingKind::Milliseconds: {
            const auto millis = parseMilliseconds(text);
            if (!millis || *millis > 0x7fffffffL) {
                return std::string(setting.name) +
                       ": atteso un numero intero positivo di millisecondi";
            }
            value = registry::Value::dword(static_cast<std::uint32_t>(*millis));
            return {};
        }
        case SettingKind::Text:
            if (normalisedBaseUrl(text).empty()) {
                return std::string(setting.name) + ": atteso un indirizzo http:// o https://";
            }
            // The connection refuses it too; the proxy is checked there.
            if (std::string refusal = plainHttpRefusal(text, {}); !refusal.empty()) {
                return refusal;
            }
            break;
        case SettingKind::ProxyUrl:
            if (text.find("://") == std::string_view::npos) {
                return std::string(setting.name) +
                       ": atteso un indirizzo completo, per esempio http://proxy:3128";
            }
            break;
        default:
            break;
    }
    value = registry::Value::string(std::string(text));
    return {};
}

namespace {

// Where the user information of a URL lies: [begin, end) of "user:pw@".
std::optional<std::pair<std::size_t, std::size_t>> credentialSpan(std::string_view url) {
    std::size_t begin = url.find("://");
    begin = (begin == std::string_view::npos) ? 0 : begin + 3;
    const std::size_t hostEnd = url.find_first_of("/?#", begin);
    const std::string_view authority = url.substr(
        begin, hostEnd == std::string_view::npos ? std::string_view::npos : hostEnd - begin);
    const std::size_t at = authority.rfind('@');
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    return std::make_pair(begin, begin + at + 1);
}

}  // namespace

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string percentDecoded(std::string_view text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high = (text[i] == '%' && i + 2 < text.size()) ? hexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(text[i + 2]) : -1;
        if (low >= 0) {
            result += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            result += text[i];
        }
    }
    return result;
}

void addPassword(std::string_view url, std::vector<std::string>& secrets) {
    const auto span = credentialSpan(url);
    if (!span) {
        return;
    }
    std::string_view password = url.substr(span->first, span->second - 1 - span->first);
    if (const std::size_t colon = password.find(':'); colon != std::string_view::npos) {
        password.remove_prefix(colon + 1);
    }
    if (!password.empty()) {
        secrets.emplace_back(password);
        secrets.push_back(percentDecoded(password));
    }
}

}  // namespace

std::vector<std::string> secretsOf(const Settings& settings) {
    std::vector<std::string> secrets;
    if (!settings.token.empty()) {
        secrets.push_back(settings.token);
    }
    addPassword(settings.url, secrets);
    addPassword(settings.proxy, secrets);
    return secrets;
}

bool hasCredentials(std::string_view url) {
    return credentialSpan(url).has_value();
}

std::string withoutCredentials(std::string_view url) {
    std::string result(url);
    if (const auto span = credentialSpan(url)) {
        result.erase(span->first, span->second - span->first);
    }
    return result;
}

}  // namespace kvt::lk
