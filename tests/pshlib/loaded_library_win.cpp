#include <windows.h>

#include "pshlib/loaded_library.h"

namespace kvt::test {

LoadedLibrary::LoadedLibrary(const std::string& path) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), size);
    handle_ = LoadLibraryW(wide.c_str());
    if (handle_ == nullptr) {
        error_ = "LoadLibraryW(" + path + ") failed, error " + std::to_string(GetLastError());
    }
}

LoadedLibrary::~LoadedLibrary() {
    unload();
}

void* LoadedLibrary::entry(const char* name) const {
    return handle_ != nullptr
               ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name))
               : nullptr;
}

bool LoadedLibrary::unload() {
    void* handle = handle_;
    handle_ = nullptr;
    return handle == nullptr || FreeLibrary(static_cast<HMODULE>(handle)) != FALSE;
}

}  // namespace kvt::test
