// Registry seam on POSIX: the registry-export file named by $KVT_REGISTRY,
// else $XDG_CONFIG_HOME/vd_kvt/registry.reg, else ~/.config/vd_kvt/registry.reg.
// The file is read afresh at every call, so a change made by lkconfig is seen
// at once.
#include <cstdlib>

#include "common/reg_file.h"
#include "common/registry.h"
#include "common/registry_store.h"

namespace kvt::registry {

std::filesystem::path storePath() {
    if (const char* explicitPath = std::getenv("KVT_REGISTRY"); explicitPath && *explicitPath) {
        return explicitPath;
    }
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::filesystem::path(home) / ".config";
    } else {
        base = ".";
    }
    return base / "vd_kvt" / "registry.reg";
}

std::optional<Value> readValue(Root root, std::string_view keyPath, std::string_view name) {
    const RegFile file = RegFile::load(storePath());
    if (const Value* value = file.find(fullKeyName(root, keyPath), name)) {
        return *value;
    }
    return std::nullopt;
}

bool keyExists(Root root, std::string_view keyPath) {
    return RegFile::load(storePath()).findKey(fullKeyName(root, keyPath)) != nullptr;
}

}  // namespace kvt::registry
