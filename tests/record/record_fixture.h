#pragma once
// What the record builder's tests share: a session on the in-memory host, an
// empty registry of their own, fixed regional formats and clock, and a
// window system that records every message instead of showing it.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/windowing.h"
#include "common/workstation.h"
#include "host/tvellopat.h"
#include "record/fake_host.h"

namespace kvt::test {

class RecordingWindowing final : public Windowing {
  public:
    std::vector<std::string> messages;
    void messageBox(const std::string& text, const std::string&, MessageIcon) override {
        messages.push_back(text);
    }
    WindowHandle foregroundWindow() override { return 0; }
    void setForegroundWindow(WindowHandle) override {}
    void setHourglass(bool) override {}
    void processMessages() override {}
    void openDocument(const std::string&) override {}
};

#ifdef _WIN32
// The region lives in the system's registry on Windows: the object removes it
// for its lifetime (an empty registry, as on POSIX) and sets it on request.
// The tests that use it hold one CTest resource lock, so no other test
// process changes the value meanwhile.
class TempRegistry {
  public:
    TempRegistry() { rimuoviRegione(); }
    ~TempRegistry() { rimuoviRegione(); }
    void setRegione(const std::string& regione) {
        const std::wstring valore(regione.begin(), regione.end());
        ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kChiave, L"regione", REG_SZ, valore.c_str(),
                                    static_cast<DWORD>((valore.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

  private:
    static constexpr const wchar_t* kChiave = L"SOFTWARE\\Quintara-Kelvano\\OPZIONI";
    static void rimuoviRegione() { ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kChiave, L"regione"); }
};
#else
// Points KVT_REGISTRY at a file of the test's own for the life of the object.
class TempRegistry {
  public:
    TempRegistry() {
        if (const char* old = std::getenv("KVT_REGISTRY")) {
            previous_ = old;
        }
        path_ = std::filesystem::temp_directory_path() /
                ("kvt_record_test_" + std::to_string(::getpid()) + "_" +
                 std::to_string(++contatore()) + ".reg");
        write("");
        ::setenv("KVT_REGISTRY", path_.c_str(), 1);
    }
    ~TempRegistry() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
        if (previous_) {
            ::setenv("KVT_REGISTRY", previous_->c_str(), 1);
        } else {
            ::unsetenv("KVT_REGISTRY");
        }
    }
    // Replaces the file by a registry export holding `body` after its header.
    void write(const std::string& body) {
        std::ofstream(path_, std::ios::binary | std::ios::trunc)
            << "Windows Registry Editor Version 5.00\r\n\r\n"
            << body;
    }
    void setRegione(const std::string& regione) {
        write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano\\OPZIONI]\r\n\"regione\"=\"" +
              regione + "\"\r\n");
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    static int& contatore() {
        static int n = 0;
        return n;
    }
    std::filesystem::path path_;
    std::optional<std::string> previous_;
};
#endif

// An element's serialised text without the line breaks and TABs that the
// serialisation puts between elements, for comparing with a one-line text.
inline std::string compatto(const std::string& xml) {
    std::string risultato;
    for (std::size_t i = 0; i < xml.size(); ++i) {
        if (xml[i] == '\n' && i > 0 && xml[i - 1] == '>') {
            std::size_t j = i + 1;
            while (j < xml.size() && xml[j] == '\t') {
                ++j;
            }
            if (j == xml.size() || xml[j] == '<') {
                i = j - 1;
                continue;
            }
        }
        risultato += xml[i];
    }
    return risultato;
}

inline workstation::Formats formatiItaliani() {
    return workstation::Formats{};
}

// 2024-06-15 10:30:00: today for every test of the record.
inline DateTime oggiDiProva() {
    return DateTime{2024, 6, 15, 10, 30, 0};
}

class FakeHostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setWindowing(&windows);
        previousFactory = automation::registerClass(
            "Vellodoc.Server", [this]() -> std::shared_ptr<automation::Object> { return fake; });
        ASSERT_TRUE(host.start());
    }
    void TearDown() override {
        host.stop();
        automation::registerClass("Vellodoc.Server", previousFactory);
        setWindowing(nullptr);
    }

    RecordingWindowing windows;
    TempRegistry registry;
    workstation::ScopedFormats formats{formatiItaliani()};
    clock::FixedClock clock{oggiDiProva()};
    std::shared_ptr<FakeHost> fake = std::make_shared<FakeHost>();
    automation::Factory previousFactory;
    Tvellopat host;
};

}  // namespace kvt::test
