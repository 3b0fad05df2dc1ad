#pragma once
// Helpers for the tests of the common helpers: a private scratch folder, a
// registry file of the test's own, and a windowing that records messages.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/windowing.h"

namespace kvt::test {

class TempFolder {
  public:
    TempFolder() {
#ifdef _WIN32
        std::random_device random;
        const auto base = std::filesystem::temp_directory_path();
        do {
            path_ = base / ("kvt_test_" + std::to_string(random()));
        } while (!std::filesystem::create_directory(path_));
#else
        std::string pattern = (std::filesystem::temp_directory_path() / "kvt_test_XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
#endif
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const {
        return path_;
    }
    std::filesystem::path operator/(const std::string& name) const {
        return path_ / name;
    }

  private:
    std::filesystem::path path_;
};

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void setEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    ::_putenv_s(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

inline void unsetEnv(const char* name) {
#ifdef _WIN32
    ::_putenv_s(name, "");
#else
    ::unsetenv(name);
#endif
}

// True when only the file's owner may read and write it: mode 0600 on POSIX;
// on Windows an access list of the owner's own, where beside the owner only
// SYSTEM appears.
bool ownerOnly(const std::filesystem::path& path);

#ifndef _WIN32
// Points the registry seam at a file of the test's own for its lifetime (on
// Windows the registry is the system's: see the tests that import values).
class ScopedRegistry {
  public:
    explicit ScopedRegistry(const std::string& content) {
        writeBytes(folder_ / "registry.reg", content);
        if (const char* old = std::getenv("KVT_REGISTRY")) {
            previous_ = old;
            hadPrevious_ = true;
        }
        setEnv("KVT_REGISTRY", (folder_ / "registry.reg").string());
    }
    ~ScopedRegistry() {
        if (hadPrevious_) {
            setEnv("KVT_REGISTRY", previous_);
        } else {
            unsetEnv("KVT_REGISTRY");
        }
    }

  private:
    TempFolder folder_;
    std::string previous_;
    bool hadPrevious_ = false;
};
#endif

class RecordingWindowing : public Windowing {
  public:
    RecordingWindowing() { setWindowing(this); }
    ~RecordingWindowing() override { setWindowing(nullptr); }

    void messageBox(const std::string& text, const std::string&, MessageIcon) override {
        messages.push_back(text);
    }
    WindowHandle foregroundWindow() override { return 0; }
    void setForegroundWindow(WindowHandle) override {}
    void setHourglass(bool) override {}
    void processMessages() override {}
    void openDocument(const std::string&) override {}

    std::vector<std::string> messages;
};

}  // namespace kvt::test
