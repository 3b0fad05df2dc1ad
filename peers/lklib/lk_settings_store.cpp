#include "lklib/lk_settings_store.h"

#include <exception>

#include "common/registry_store.h"

namespace kvt::lk {

std::string settingsKeyName() {
    return "HKEY_CURRENT_USER\\" + std::string(kSettingsKeyPath);
}

std::string currentValue(const registry::RegFile& file, const SettingInfo& setting) {
    const registry::Value* value = file.find(settingsKeyName(), setting.name);
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

std::string shownValue(const SettingInfo& setting, std::string_view value) {
    if (value.empty()) {
        return {};
    }
    switch (setting.kind) {
        case SettingKind::Secret:
            return "(impostato)";
        case SettingKind::ProxyUrl:
            return hasCredentials(value) ? withoutCredentials(value) + " (con credenziali)"
                                         : std::string(value);
        default:
            return std::string(value);
    }
}

std::string applySetting(registry::RegFile& file, const SettingInfo& setting,
                         std::string_view value) {
    const std::string key = settingsKeyName();
    if (value.empty()) {
        file.remove(key, setting.name);
        return {};
    }
    registry::Value stored;
    if (std::string reason = storedValue(setting, value, stored); !reason.empty()) {
        return reason;
    }
    file.set(key, setting.name, std::move(stored));
    return {};
}

namespace {

constexpr std::string_view kUsage =
    "Uso: lkconfig                    apre la finestra delle opzioni del connettore\n"
    "     lkconfig --show             mostra le impostazioni\n"
    "     lkconfig --set NOME=VALORE  cambia un'impostazione (ripetibile; VALORE vuoto la\n"
    "                                 toglie; VALORE \"-\" la legge dallo standard input,\n"
    "                                 il solo modo di dare il token o le credenziali del proxy)\n"
    "Impostazioni: ";

void printUsage(std::ostream& out) {
    out << kUsage;
    bool first = true;
    for (const SettingInfo& setting : settingTable()) {
        out << (first ? "" : ", ") << setting.name;
        first = false;
    }
    out << '\n';
}

void printSettings(const registry::RegFile& file, std::ostream& out) {
    for (const SettingInfo& setting : settingTable()) {
        out << setting.name << '=' << shownValue(setting, currentValue(file, setting)) << '\n';
    }
}

}  // namespace

int runCommandLine(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                   std::ostream& err) {
    if (args.empty()) {
        return -1;
    }
    bool show = false;
    std::vector<std::pair<const SettingInfo*, std::string>> changes;
    bool stdinTaken = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            printUsage(out);
            return 0;
        }
        if (arg == "--show") {
            show = true;
            continue;
        }
        std::string assignment;
        if (arg == "--set" && i + 1 < args.size()) {
            assignment = args[++i];
        } else if (arg.starts_with("--set=")) {
            assignment = arg.substr(6);
        } else {
            err << "lkconfig: argomento non riconosciuto: " << arg << '\n';
            printUsage(err);
            return 2;
        }
        const std::size_t equals = assignment.find('=');
        const SettingInfo* setting = findSetting(std::string_view(assignment).substr(0, equals));
        if (equals == std::string::npos || !setting) {
            err << "lkconfig: impostazione sconosciuta o senza '=': "
                << assignment.substr(0, equals) << '\n';
            printUsage(err);
            return 2;
        }
        std::string value = assignment.substr(equals + 1);
        if (value == "-") {
            if (stdinTaken) {
                err << "lkconfig: un solo valore puo' venire dallo standard input\n";
                return 2;
            }
            stdinTaken = true;
            std::getline(in, value);
            if (!value.empty() && value.back() == '\r') {
                value.pop_back();
            }
        } else if (!value.empty() &&
                   (setting->kind == SettingKind::Secret ||
                    (setting->kind == SettingKind::ProxyUrl && hasCredentials(value)))) {
            // A secret on the command line ends up in process lists and shell
            // histories.
            err << "lkconfig: " << setting->name
                << " non si passa sulla riga di comando: usare --set " << setting->name
                << "=- e darlo sullo standard input\n";
            return 2;
        }
        changes.emplace_back(setting, std::move(value));
    }

    const auto path = registry::storePath();
    registry::RegFile file = registry::RegFile::load(path);
    if (!changes.empty()) {
        for (const auto& [setting, value] : changes) {
            if (const std::string reason = applySetting(file, *setting, value); !reason.empty()) {
                err << "lkconfig: " << reason << '\n';
                return 2;
            }
        }
        try {
            file.saveAtomically(path);
        } catch (const std::exception& e) {
            err << "lkconfig: impostazioni non salvate in " << path.string() << ": " << e.what()
                << '\n';
            return 1;
        }
    }
    if (show) {
        printSettings(file, out);
    }
    return 0;
}

}  // namespace kvt::lk
