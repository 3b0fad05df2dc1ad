#pragma once
// Reading and changing the connector's settings in a registry file, for
// lkconfig, the registry file's one writer.
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/reg_file.h"
#include "lklib/lk_settings.h"

namespace kvt::lk {

// "HKEY_CURRENT_USER\SOFTWARE\Norvix\VEKConnector\LK"
std::string settingsKeyName();

// The setting's value as text; empty when it is not set.
std::string currentValue(const registry::RegFile& file, const SettingInfo& setting);

// What may be shown of a value: a secret only as set or not, a proxy URL
// without its credentials.
std::string shownValue(const SettingInfo& setting, std::string_view value);

// Sets the value (an empty value removes the setting); gives an Italian
// reason when the value is not acceptable, and then changes nothing.
std::string applySetting(registry::RegFile& file, const SettingInfo& setting,
                         std::string_view value);

// lkconfig's command line without a display: `--show`, `--set NAME=VALUE`
// (repeatable; VALUE "-" reads the value from the first line of `in`, the
// only way a token or proxy credentials are taken), `--help`. Gives the exit
// status, or -1 when the arguments ask for the dialog (none given).
int runCommandLine(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                   std::ostream& err);

}  // namespace kvt::lk
