#pragma once
// A practice database in a temporary folder, named by a registry file of its
// own, and the host stand-in registered: what every stand-in test starts from.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>

#include "host/automation.h"
#include "peers/vellodoc/practice.h"
#include "peers/vellodoc/vellodoc_server.h"

namespace kvt::vellodoc::testing {

using automation::Variant;

inline std::filesystem::path freshDirectory(const std::string& stem) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const auto dir =
        std::filesystem::temp_directory_path() / (stem + "_" + std::to_string(::getpid()) + "_" +
                                                  info->test_suite_name() + "_" + info->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline void writeRegistry(const std::filesystem::path& registry,
                          const std::filesystem::path& database) {
    std::ofstream(registry) << "Windows Registry Editor Version 5.00\r\n\r\n"
                            << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano]\r\n"
                            << "\"database\"=\"" << database.string() << "\"\r\n";
    ::setenv("KVT_REGISTRY", registry.c_str(), 1);
}

class PracticeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = freshDirectory("vellodoc");
        path_ = dir_ / "practice.sqlite";
        writeRegistry(dir_ / "registry.reg", path_);
        db_ = createPractice(path_);
        addUser(db_, "mrossi", "segreta", "MMG001");
        registerServer();
    }
    void TearDown() override {
        db_.close();
        ::unsetenv("KVT_REGISTRY");
        std::filesystem::remove_all(dir_);
    }

    // A server object with an open session.
    std::shared_ptr<automation::Object> login() {
        auto server = automation::createObject("Vellodoc.Server");
        call(*server, "new", {});
        const Variant answer = call(*server, "connetti", {"mrossi", "segreta"});
        EXPECT_TRUE(answer.isEmpty()) << answer.toText();
        return server;
    }

    static Variant call(automation::Object& object, std::string_view method,
                        std::initializer_list<std::string> arguments) {
        automation::Arguments args;
        for (const auto& a : arguments) {
            args.push_back(Variant::text(a));
        }
        return object.call(method, args);
    }
    static std::string text(automation::Object& object, std::string_view method,
                            std::initializer_list<std::string> arguments) {
        return call(object, method, arguments).toText();
    }

    std::filesystem::path dir_;
    std::filesystem::path path_;
    Database db_;
};

}  // namespace kvt::vellodoc::testing
