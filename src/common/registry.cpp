// The names of the registry's roots, the same on every platform.
#include "common/registry.h"

namespace kvt::registry {

std::string_view rootName(Root root) {
    switch (root) {
        case Root::CurrentUser:
            return "HKEY_CURRENT_USER";
        case Root::LocalMachine:
            return "HKEY_LOCAL_MACHINE";
        case Root::ClassesRoot:
            return "HKEY_CLASSES_ROOT";
        case Root::Users:
            return "HKEY_USERS";
        case Root::CurrentConfig:
            return "HKEY_CURRENT_CONFIG";
    }
    return "HKEY_CURRENT_USER";
}

std::string fullKeyName(Root root, std::string_view keyPath) {
    while (!keyPath.empty() && keyPath.front() == '\\') {
        keyPath.remove_prefix(1);
    }
    std::string full(rootName(root));
    if (!keyPath.empty()) {
        full += '\\';
        full += keyPath;
    }
    return full;
}

}  // namespace kvt::registry
