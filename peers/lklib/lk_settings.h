#pragma once
// The connector's settings, kept in the registry key of the current user that
// the program also reads ("LogFilename", "ReqTout"). One table names them for
// the library, for lkconfig's dialog and for its command line.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/registry.h"

namespace kvt::lk {

// The key path below HKEY_CURRENT_USER.
inline constexpr std::string_view kSettingsKeyPath = "SOFTWARE\\Norvix\\VEKConnector\\LK";

enum class SettingKind {
    Text,          // a plain text (the service's base URL)
    Path,          // a file name
    Milliseconds,  // a whole number of milliseconds, stored as a dword
    Secret,        // never shown, logged or taken from the command line
    ProxyUrl,      // a URL that may carry credentials (shown without them)
};

struct SettingInfo {
    std::string_view name;
    SettingKind kind;
    std::string_view label;  // as lkconfig shows it
    long defaultValue;       // Milliseconds only; 0 = none
};

std::span<const SettingInfo> settingTable();
// The setting of that name, compared without regard to case.
const SettingInfo* findSetting(std::string_view name);

struct Settings {
    std::string url;
    std::string caFile;
    std::string token;
    std::string proxy;
    std::string logFilename;
    long requestTimeoutMs = 90000;
    long connectTimeoutMs = 15000;
    // A transfer that moves no byte for this long in the middle of sending
    // the request or receiving the answer is given up.
    long stallTimeoutMs = 30000;
};

// A setting's value as stored (a number as its decimal text); empty when it
// is not set.
std::string storedText(std::string_view name);

// Reads every setting through the registry seam; a missing or unusable
// number keeps its default.
Settings readSettings();

// The registry value a setting's non-empty text is stored as (a dword for
// milliseconds, else a string); an Italian reason when the text is not
// acceptable, and then `value` is untouched.
std::string storedValue(const SettingInfo& setting, std::string_view text, registry::Value& value);

// A whole number of milliseconds from a registry text or dword value;
// nothing for a text that is not a positive whole number.
std::optional<long> parseMilliseconds(std::string_view text);

// The URL without its user name and password ("http://user:pw@host:3128" ->
// "http://host:3128"), for showing and logging.
std::string withoutCredentials(std::string_view url);
bool hasCredentials(std::string_view url);

// What of the settings may never reach a log: the token, and the password of
// the service's and the proxy's URL (the whole user information when it has
// no ':'), as written and percent-decoded.
std::vector<std::string> secretsOf(const Settings& settings);

}  // namespace kvt::lk
