#include <dlfcn.h>

#include "pshlib/loaded_library.h"

namespace kvt::test {

LoadedLibrary::LoadedLibrary(const std::string& path)
    : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) {
        error_ = dlerror();
    }
}

LoadedLibrary::~LoadedLibrary() {
    unload();
}

void* LoadedLibrary::entry(const char* name) const {
    return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

bool LoadedLibrary::unload() {
    void* handle = handle_;
    handle_ = nullptr;
    return handle == nullptr || dlclose(handle) == 0;
}

}  // namespace kvt::test
