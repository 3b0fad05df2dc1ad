#pragma once
// A library loaded by path at run time, as any client of PSHLib may load it:
// dlopen and dlsym on POSIX, LoadLibraryW and GetProcAddress on Windows.
#include <string>

namespace kvt::test {

class LoadedLibrary {
  public:
    explicit LoadedLibrary(const std::string& path);
    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    // Why the library did not load.
    const std::string& error() const { return error_; }
    // The system's handle (HMODULE on Windows).
    void* handle() const { return handle_; }
    // The exported entry point of that name, null when there is none.
    void* entry(const char* name) const;
    template <typename Function>
    Function entry(const char* name) const {
        return reinterpret_cast<Function>(entry(name));
    }
    // False when the system refused to unload it.
    bool unload();

  private:
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace kvt::test
