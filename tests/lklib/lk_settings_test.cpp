#include "lklib/lk_settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "collector/peer_process.h"
#include "common/reg_file.h"
#include "lklib/lk_settings_store.h"

namespace kvt::lk {
namespace {

using kvt::testing::readFile;
using kvt::testing::TempDir;
using kvt::testing::writeFile;
using ::testing::HasSubstr;
using ::testing::Not;

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        registry_ = temp_ / "registry.reg";
        ::setenv("KVT_REGISTRY", registry_.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("KVT_REGISTRY"); }

    int run(std::vector<std::string> args, const std::string& input = "") {
        std::istringstream in(input);
        out_.str("");
        err_.str("");
        return runCommandLine(args, in, out_, err_);
    }

    TempDir temp_;
    std::filesystem::path registry_;
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(SettingsTest, ReadThroughTheRegistryWithDefaults) {
    Settings defaults = readSettings();
    EXPECT_EQ(defaults.url, "");
    EXPECT_EQ(defaults.requestTimeoutMs, 90000);
    EXPECT_EQ(defaults.connectTimeoutMs, 15000);
    EXPECT_EQ(defaults.stallTimeoutMs, 30000);

    writeFile(registry_,
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\Norvix\\VEKConnector\\LK]\r\n"
              "\"Url\"=\"https://raccolta.example.org/lk\"\r\n"
              "\"reqtout\"=dword:00017318\r\n"
              "\"ConnectTout\"=\"2500\"\r\n"
              "\"StallTout\"=\"dieci\"\r\n"
              "\"CaFile\"=\"/etc/kvt/ca.pem\"\r\n"
              "\"Token\"=\"abc\"\r\n"
              "\"Proxy\"=\"http://u:p@proxy:3128\"\r\n"
              "\"LogFilename\"=\"/tmp/lk.log\"\r\n");
    const Settings settings = readSettings();
    EXPECT_EQ(settings.url, "https://raccolta.example.org/lk");
    EXPECT_EQ(settings.requestTimeoutMs, 95000);
    EXPECT_EQ(settings.connectTimeoutMs, 2500);
    EXPECT_EQ(settings.stallTimeoutMs, 30000);  // not a number: the default
    EXPECT_EQ(settings.caFile, "/etc/kvt/ca.pem");
    EXPECT_EQ(settings.token, "abc");
    EXPECT_EQ(settings.proxy, "http://u:p@proxy:3128");
    EXPECT_EQ(settings.logFilename, "/tmp/lk.log");
}

TEST_F(SettingsTest, CredentialsAreNeverShown) {
    EXPECT_TRUE(hasCredentials("http://u:p@proxy:3128"));
    EXPECT_FALSE(hasCredentials("http://proxy:3128/a@b"));
    EXPECT_EQ(withoutCredentials("http://u:p@proxy:3128/x"), "http://proxy:3128/x");
    EXPECT_EQ(withoutCredentials("proxy:3128"), "proxy:3128");
    EXPECT_EQ(parseMilliseconds(" 90000 "), 90000);
    EXPECT_FALSE(parseMilliseconds("0").has_value());
    EXPECT_FALSE(parseMilliseconds("-5").has_value());
    EXPECT_FALSE(parseMilliseconds("9s").has_value());
}

TEST_F(SettingsTest, SetAndShowWithoutADisplay) {
    writeFile(registry_,
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano]\r\n"
              "\"ultimo_utente\"=\"mrossi\"\r\n");
    ASSERT_EQ(run({"--set", "Url=http://127.0.0.1:8080/lk", "--set=reqtout=95000", "--set",
                   "LogFilename=/tmp/lk log.txt", "--show"}),
              0)
        << err_.str();
    EXPECT_THAT(out_.str(), HasSubstr("Url=http://127.0.0.1:8080/lk\n"));
    EXPECT_THAT(out_.str(), HasSubstr("ReqTout=95000\n"));
    EXPECT_THAT(out_.str(), HasSubstr("LogFilename=/tmp/lk log.txt\n"));

    const Settings settings = readSettings();
    EXPECT_EQ(settings.url, "http://127.0.0.1:8080/lk");
    EXPECT_EQ(settings.requestTimeoutMs, 95000);
    // The rest of the file is kept, and the file stays private.
    const auto file = registry::RegFile::load(registry_);
    ASSERT_NE(file.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quintara-Kelvano", "ultimo_utente"),
              nullptr);
    EXPECT_EQ(file.find(settingsKeyName(), "ReqTout")->type, registry::ValueType::Dword);
    struct stat status {};
    ::stat(registry_.c_str(), &status);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    ASSERT_EQ(run({"--set", "ReqTout="}), 0);
    EXPECT_EQ(readSettings().requestTimeoutMs, 90000);
}

TEST_F(SettingsTest, SecretsComeOnlyFromStandardInput) {
    EXPECT_EQ(run({"--set", "Token=s3greto"}), 2);
    EXPECT_THAT(err_.str(), HasSubstr("Token=-"));
    EXPECT_EQ(run({"--set", "Proxy=http://u:pw@proxy:3128"}), 2);
    EXPECT_EQ(readSettings().token, "");

    ASSERT_EQ(run({"--set", "Token=-", "--show"}, "s3greto\r\n"), 0);
    EXPECT_EQ(readSettings().token, "s3greto");
    EXPECT_THAT(out_.str(), HasSubstr("Token=(impostato)\n"));
    EXPECT_THAT(out_.str(), Not(HasSubstr("s3greto")));

    ASSERT_EQ(run({"--set", "Proxy=-", "--show"}, "http://u:pw@proxy:3128\n"), 0);
    EXPECT_THAT(out_.str(), HasSubstr("Proxy=http://proxy:3128 (con credenziali)\n"));
    EXPECT_THAT(out_.str(), Not(HasSubstr("pw")));
    EXPECT_THAT(readFile(registry_), HasSubstr("http://u:pw@proxy:3128"));
}

TEST_F(SettingsTest, MistakesChangeNothing) {
    ASSERT_EQ(run({"--set", "Url=https://a.example.org"}), 0);
    const std::string before = readFile(registry_);
    EXPECT_EQ(run({"--set", "Url=https://b.example.org", "--set", "ReqTout=presto"}), 2);
    EXPECT_EQ(run({"--set", "Colore=blu"}), 2);
    EXPECT_EQ(run({"--set", "Url"}), 2);
    EXPECT_EQ(run({"--set", "Url=raccolta.example.org"}), 2);
    EXPECT_EQ(run({"--set", "Url=http://raccolta.example.org"}), 2);
    EXPECT_THAT(err_.str(), HasSubstr("https://"));
    EXPECT_EQ(run({"--set", "Proxy=proxy:3128"}), 2);
    EXPECT_EQ(run({"--bogus"}), 2);
    EXPECT_EQ(readFile(registry_), before);
    EXPECT_EQ(run({}), -1);  // no arguments: the dialog
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_THAT(out_.str(), HasSubstr("StallTout"));
}

}  // namespace
}  // namespace kvt::lk
