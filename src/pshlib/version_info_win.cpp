// The version record on Windows: the VERSIONINFO resource that the build
// compiles into the library (PSHLib.rc.in), read back from the library's file
// with the system's version functions.
#include <windows.h>

#include <vector>

#include "common/win32.h"
#include "pshlib/version_info.h"

namespace kvt::psh {

std::string libraryPath() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<const wchar_t*>(&libraryPath), &module)) {
        return {};
    }
    // The longest path the system knows; a cut path would name another file.
    std::wstring path(32768, L'\0');
    const DWORD size = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (size == 0 || size >= path.size()) {
        return {};
    }
    path.resize(size);
    return win32::narrow(path);
}

std::optional<FixedVersion> readFixedVersion(const std::string& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    const std::wstring file = win32::wide(path);
    DWORD unused = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &unused);
    if (size == 0) {
        return std::nullopt;
    }
    std::vector<unsigned char> resource(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, resource.data())) {
        return std::nullopt;
    }
    void* fixed = nullptr;
    UINT fixedSize = 0;
    if (!VerQueryValueW(resource.data(), L"\\", &fixed, &fixedSize) || fixed == nullptr ||
        fixedSize < sizeof(VS_FIXEDFILEINFO)) {
        return std::nullopt;
    }
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    if (info->dwSignature != VS_FFI_SIGNATURE) {
        return std::nullopt;
    }
    FixedVersion version;
    version.fileVersionMS = info->dwFileVersionMS;
    version.fileVersionLS = info->dwFileVersionLS;
    version.productVersionMS = info->dwProductVersionMS;
    version.productVersionLS = info->dwProductVersionLS;
    return version;
}

}  // namespace kvt::psh
