// Registry seam on Windows: the registry itself, opened for reading only.
// Asking for more (as the program once did with full access) fails for an
// ordinary user on the local machine's keys, which would read as missing.
//
// The host application may be a 32-bit program whose settings the system
// keeps in the 32-bit view of HKEY_LOCAL_MACHINE\SOFTWARE (WOW6432Node) while
// this program runs 64-bit, or the other way round: a value missing from
// this program's own view (its key missing, or only the value) is looked
// for in the other view. A key of the same name may well exist in both,
// made by an installer of either bitness.
#include <vector>

#include "common/registry.h"
#include "common/win32.h"

namespace kvt::registry {
namespace {

HKEY rootKey(Root root) {
    switch (root) {
        case Root::CurrentUser:
            return HKEY_CURRENT_USER;
        case Root::LocalMachine:
            return HKEY_LOCAL_MACHINE;
        case Root::ClassesRoot:
            return HKEY_CLASSES_ROOT;
        case Root::Users:
            return HKEY_USERS;
        case Root::CurrentConfig:
            return HKEY_CURRENT_CONFIG;
    }
    return HKEY_CURRENT_USER;
}

// The view this program does not see by default.
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

class Key {
  public:
    // Opens the key for reading; valid() is false when it does not exist or
    // cannot be read.
    // `view`: 0 for this program's own, or kOtherView.
    Key(Root root, std::string_view keyPath, REGSAM view) {
        while (!keyPath.empty() && keyPath.front() == '\\') {
            keyPath.remove_prefix(1);
        }
        const std::wstring path = win32::wide(keyPath);
        if (::RegOpenKeyExW(rootKey(root), path.c_str(), 0, KEY_READ | view, &key_) !=
            ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ~Key() {
        if (key_) {
            ::RegCloseKey(key_);
        }
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    bool valid() const { return key_ != nullptr; }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

// UTF-16LE bytes as UTF-8, without the terminating zeros the value may carry.
std::string textOf(const std::vector<BYTE>& data) {
    std::u16string wide;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        wide += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    while (!wide.empty() && wide.back() == u'\0') {
        wide.pop_back();
    }
    return win32::narrow(std::wstring(wide.begin(), wide.end()));
}

std::uint64_t littleEndian(const std::vector<BYTE>& data) {
    std::uint64_t number = 0;
    for (std::size_t i = data.size(); i > 0; --i) {
        number = (number << 8) | data[i - 1];
    }
    return number;
}

// The views looked in, in order: the other one only on the local machine,
// whose SOFTWARE key the system keeps apart for 32-bit programs.
std::vector<REGSAM> views(Root root) {
    if (root == Root::LocalMachine) {
        return {0, kOtherView};
    }
    return {0};
}

std::optional<Value> readFrom(const Key& key, std::string_view name) {
    const std::wstring valueName = win32::wide(name);
    DWORD type = 0;
    std::vector<BYTE> data;
    for (;;) {
        auto size = static_cast<DWORD>(data.size());
        const LSTATUS status = ::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type,
                                                  data.empty() ? nullptr : data.data(), &size);
        if (status == ERROR_SUCCESS && (!data.empty() || size == 0)) {
            data.resize(size);
            break;
        }
        // The size asked for first, or a value that grew meanwhile.
        if ((status == ERROR_SUCCESS || status == ERROR_MORE_DATA) && size > data.size()) {
            data.resize(size);
            continue;
        }
        return std::nullopt;  // no such value, or it cannot be read
    }

    Value value;
    switch (type) {
        case REG_SZ:
            value.type = ValueType::String;
            value.text = textOf(data);
            break;
        case REG_EXPAND_SZ:
            // As stored: the program never expanded the variables.
            value.type = ValueType::ExpandString;
            value.text = textOf(data);
            break;
        case REG_MULTI_SZ:
            value.type = ValueType::MultiString;
            value.text = textOf(data);
            break;
        case REG_DWORD:
        case REG_QWORD:
            if (data.size() == (type == REG_DWORD ? 4u : 8u)) {
                value.type = type == REG_DWORD ? ValueType::Dword : ValueType::Qword;
                value.number = littleEndian(data);
                break;
            }
            [[fallthrough]];  // a number of the wrong size is only bytes
        default:
            value.type = ValueType::Other;
            value.otherType = static_cast<int>(type);
            value.bytes.assign(data.begin(), data.end());
            break;
        case REG_BINARY:
            value.type = ValueType::Binary;
            value.bytes.assign(data.begin(), data.end());
            break;
    }
    return value;
}

}  // namespace

std::optional<Value> readValue(Root root, std::string_view keyPath, std::string_view name) {
    for (const REGSAM view : views(root)) {
        const Key key(root, keyPath, view);
        if (std::optional<Value> value = key.valid() ? readFrom(key, name) : std::nullopt) {
            return value;
        }
    }
    return std::nullopt;
}

bool keyExists(Root root, std::string_view keyPath) {
    for (const REGSAM view : views(root)) {
        if (Key(root, keyPath, view).valid()) {
            return true;
        }
    }
    return false;
}

}  // namespace kvt::registry
