// The connector's cases written once and run on both builds: lk_sonda loads
// the library by name and makes the calls, against kvt-collector (and
// tinyproxy) on this machine. Compiled twice: the Linux probe with LKlib.so,
// and, with KVT_TEST_WINDOWS_BUILD, the Windows probe with LKlib.dll under
// Wine, whose settings go into the prefix's registry through regedit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "collector/answer_reading.h"
#include "collector/peer_process.h"
#include "collector/upload_fixtures.h"
#include "common/reg_file.h"
#include "lklib/lk_test_peers.h"

namespace kvt::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

#if defined(KVT_TEST_WINDOWS_BUILD)
constexpr bool kWindows = true;
// The Windows cases carry names of their own beside the Linux ones.
#define LkSondaTest LkSondaWindowsTest
#else
constexpr bool kWindows = false;
#endif

constexpr const char* kKey = "HKEY_CURRENT_USER\\SOFTWARE\\Norvix\\VEKConnector\\LK";

// One sending as the program makes it, as the probe reports it.
struct Sending {
    std::string connect;
    std::string query;
    std::string error;
    std::string disconnect;
    std::string answer;
};

class LkSondaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setSetting("ConnectTout", registry::Value::dword(3000));
        setPath("LogFilename", temp_ / "lk.log");
        writeFile(temp_ / "richiesta.xml", goodUpload());
    }
    void TearDown() override {
        if (kWindows) {
            // The prefix is shared: leave no settings of ours behind.
            settings_.clear();
            writeSettings();
        }
    }

    // A file name as the probe's platform writes it: Wine's Z: drive maps
    // the Unix root.
    static std::string probePath(const std::filesystem::path& path) {
        if (!kWindows) {
            return path.string();
        }
        std::string text = "Z:" + path.string();
        std::replace(text.begin(), text.end(), '/', '\\');
        return text;
    }

    void setSetting(const std::string& name, registry::Value value) {
        settings_[name] = std::move(value);
    }
    void setPath(const std::string& name, const std::filesystem::path& path) {
        setSetting(name, registry::Value::string(probePath(path)));
    }
    void setUrl(const std::string& url) { setSetting("Url", registry::Value::string(url)); }

    // The settings as a registry export: the Linux store itself, or a file
    // that replaces the key in Wine's registry.
    void writeSettings() {
        registry::RegFile file;
        for (const auto& [name, value] : settings_) {
            file.set(kKey, name, value);
        }
        if (!kWindows) {
            file.saveAtomically(temp_ / "registry.reg");
            ::setenv("KVT_REGISTRY", (temp_ / "registry.reg").c_str(), 1);
            return;
        }
#if defined(KVT_TEST_WINDOWS_BUILD)
        // The key is removed first, so that it holds these values only.
        const std::string stored = file.serialize();
        const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[-" +
                                 std::string(kKey) + "]\r\n" +
                                 stored.substr(stored.find("\r\n") + 2);
        writeFile(temp_ / "lk.reg", text);
        ChildProcess regedit({KVT_TEST_WINE_EXEC, KVT_TEST_WINDOWS_BUILD, "regedit", "/S",
                              probePath(temp_ / "lk.reg")});
        ASSERT_EQ(regedit.wait(std::chrono::seconds(60)), 0);
#endif
    }

    // Runs the probe with the current settings; its output lines.
    std::vector<std::string> probe(const std::vector<std::string>& steps) {
        writeSettings();
#if defined(KVT_TEST_WINDOWS_BUILD)
        std::vector<std::string> argv = {KVT_TEST_WINE_EXEC, KVT_TEST_WINDOWS_BUILD,
                                         "lk_sonda.exe"};
#else
        std::vector<std::string> argv = {KVT_TEST_SONDA};
#endif
        argv.insert(argv.end(), steps.begin(), steps.end());
        ChildProcess child(argv);
        std::vector<std::string> lines;
        for (std::string line = child.readLine(std::chrono::seconds(90)); !line.empty();
             line = child.readLine(std::chrono::seconds(90))) {
            if (line.back() == '\r') {
                line.pop_back();  // a Windows program's text output
            }
            lines.push_back(line);
        }
        EXPECT_EQ(child.wait(std::chrono::seconds(30)), 0);
        return lines;
    }

    // One or more sendings of the request file, in one process.
    std::vector<Sending> send(int count = 1, int timeoutSeconds = 20) {
        std::vector<std::string> steps;
        for (int i = 0; i < count; ++i) {
            steps.insert(steps.end(), {"send", probePath(temp_ / "richiesta.xml"),
                                       std::to_string(timeoutSeconds)});
        }
        std::filesystem::remove(temp_ / "richiesta.xml.risposta");
        const std::vector<std::string> lines = probe(steps);
        std::vector<Sending> sendings;
        for (const std::string& line : lines) {
            if (line.starts_with("LKConnect=")) {
                sendings.emplace_back().connect = line.substr(10);
            } else if (!sendings.empty() && line.starts_with("LKQuery=")) {
                sendings.back().query = line.substr(8);
                sendings.back().answer = readFile(temp_ / "richiesta.xml.risposta");
            } else if (!sendings.empty() && line.starts_with("LKGetError=")) {
                sendings.back().error = line.substr(11);
            } else if (!sendings.empty() && line.starts_with("LKDisconnect=")) {
                sendings.back().disconnect = line.substr(13);
            }
        }
        EXPECT_EQ(sendings.size(), std::size_t(count)) << ::testing::PrintToString(lines);
        sendings.resize(std::size_t(count));
        return sendings;
    }
    Sending sendOnce(int timeoutSeconds = 20) {
        return send(1, timeoutSeconds).front();
    }

    std::unique_ptr<RunningCollector> startCollector(std::vector<std::string> extra = {},
                                                     const std::string& url = "") {
        auto collector = std::make_unique<RunningCollector>(temp_ / "store", std::move(extra));
        setUrl(url.empty() ? collector->url() : url + ":" + std::to_string(collector->port()));
        return collector;
    }
    std::filesystem::path storedFile() const {
        return temp_ / "store" / (std::string(kGoodPseudonym) + ".xml");
    }
    std::string log() const {
        return readFile(temp_ / "lk.log");
    }

    TempDir temp_;
    std::map<std::string, registry::Value> settings_;
};

TEST_F(LkSondaTest, SendingIsStoredAnsweredAndLoggedWithoutBodyOrToken) {
    writeFile(temp_ / "token", "t0ken-di-prova\n");
    auto collector = startCollector({"--token-file", (temp_ / "token").string()});
    setSetting("Token", registry::Value::string("t0ken-di-prova"));
    const Sending sending = sendOnce();
    EXPECT_EQ(sending.connect, "0");
    EXPECT_EQ(sending.error, "0");
    EXPECT_EQ(sending.disconnect, "0");
    EXPECT_EQ(sending.query, std::to_string(sending.answer.size()));
    EXPECT_TRUE(readAsTheProgramDoes(sending.answer).accepted) << sending.answer;
    EXPECT_EQ(readFile(storedFile()), goodUpload());

    const std::string text = log();
    const std::vector<std::string> lines = linesOf(text);
    ASSERT_EQ(lines.size(), 4u) << text;
    EXPECT_THAT(lines[0], HasSubstr("LKConnect(\"KVT\", \"\") = 0 ERR_OK"));
    EXPECT_THAT(lines[1], HasSubstr("LKQuery(" + std::to_string(goodUpload().size()) +
                                    " byte, 255, 20) = 0"));
    EXPECT_THAT(lines[1], HasSubstr("HTTP 200"));
    EXPECT_THAT(lines[2], HasSubstr("LKGetError() = 0"));
    EXPECT_THAT(lines[3], HasSubstr("LKDisconnect() = 0"));
    for (const char* secret : {kGoodPseudonym, "vekRichiesta", "vekRisposta", "t0ken", "<"}) {
        EXPECT_THAT(text, Not(HasSubstr(secret)));
    }

    setSetting("Token", registry::Value::string("sbagliato"));
    EXPECT_EQ(sendOnce().connect, "12");
}

TEST_F(LkSondaTest, CallOrderResults) {
    auto collector = startCollector();
    const std::string request = probePath(temp_ / "richiesta.xml");
    EXPECT_THAT(
        probe({"disconnect", "query", request, "5",     "error",   "connect", "KVT",
               "connect",    "KVT",   "query", request, "20",      "error",   "disconnect",
               "query",      request, "20",    "error", "connect", "ALTRO",   "disconnect"}),
        ElementsAre("LKDisconnect=0", "LKQuery=null", "LKGetError=14", "LKConnect=0", "LKConnect=1",
                    StartsWith("LKQuery="), "LKGetError=0", "LKDisconnect=0", "LKQuery=null",
                    "LKGetError=14", "LKConnect=2", "LKDisconnect=0"));
}

TEST_F(LkSondaTest, ConnectionAndServiceFailures) {
    setUrl("http://127.0.0.1:" + std::to_string(unusedPort()));
    EXPECT_EQ(sendOnce().connect, "6");

    auto collector = startCollector({"--fault", "drop@1", "--fault", "status=503@2", "--fault",
                                     "status=500@3", "--fault", "status=403@4"});
    const std::vector<Sending> sendings = send(5);
    EXPECT_EQ(sendings[0].error, "27");
    EXPECT_EQ(sendings[1].error, "21");
    EXPECT_EQ(sendings[2].error, "28");
    EXPECT_EQ(sendings[3].error, "13");
    EXPECT_EQ(sendings[4].error, "0");
    for (const Sending& failed : {sendings[0], sendings[1], sendings[2], sendings[3]}) {
        EXPECT_EQ(failed.connect, "0");
        EXPECT_EQ(failed.query, "null");
    }
}

TEST_F(LkSondaTest, LateAndStalledAnswersAreTimeOuts) {
    {
        auto collector = startCollector({"--fault", "delay=5000"});
        const Sending late = sendOnce(1);
        EXPECT_EQ(late.connect, "0");
        EXPECT_EQ(late.query, "null");
        EXPECT_EQ(late.error, "8");
    }
    setSetting("StallTout", registry::Value::dword(500));
    auto collector = startCollector({"--fault", "stall=20000"});
    EXPECT_EQ(sendOnce(15).error, "8");
    EXPECT_THAT(log(), HasSubstr("trasferimento fermo"));
}

// The service is named "localhost": Wine matches a server name only with the
// DNS names of a certificate, never with its IP addresses.
TEST_F(LkSondaTest, TlsIsVerifiedAgainstCaFileAndHostName) {
    makeCertificate(temp_, "localhost", "DNS:localhost");
    makeCertificate(temp_, "altra.example.org", "DNS:altra.example.org");
    makeCertificate(temp_, "raccolta.example.org", "DNS:raccolta.example.org");
    {
        auto collector = startCollector({"--cert", (temp_ / "localhost.pem").string(), "--key",
                                         (temp_ / "localhost.key").string()},
                                        "https://localhost");
        EXPECT_EQ(sendOnce().connect, "29");  // the system's authorities do not know it
        setPath("CaFile", temp_ / "altra.example.org.pem");
        EXPECT_EQ(sendOnce().connect, "29");  // another authority
        setPath("CaFile", temp_ / "mancante.pem");
        EXPECT_EQ(sendOnce().connect, "29");
        EXPECT_FALSE(std::filesystem::exists(storedFile()));

        setPath("CaFile", temp_ / "localhost.pem");
        const Sending sending = sendOnce();
        EXPECT_EQ(sending.connect, "0");
        EXPECT_EQ(sending.error, "0");
        EXPECT_TRUE(readAsTheProgramDoes(sending.answer).accepted);
        EXPECT_EQ(readFile(storedFile()), goodUpload());
    }
    auto collector = startCollector({"--cert", (temp_ / "raccolta.example.org.pem").string(),
                                     "--key", (temp_ / "raccolta.example.org.key").string()},
                                    "https://localhost");
    setPath("CaFile", temp_ / "raccolta.example.org.pem");
    EXPECT_EQ(sendOnce().connect, "29");  // trusted, but for another name
}

// The service is "localhost" and the proxy 127.0.0.1: Wine's WinHTTP writes
// a request for a proxy on the service's own host name without the service's
// address (as for the service itself).
TEST_F(LkSondaTest, ProxySettingIsFollowed) {
    if (!std::filesystem::exists("/usr/bin/tinyproxy")) {
        GTEST_SKIP() << "tinyproxy not installed";
    }
    auto collector = startCollector({}, "http://localhost");
    Tinyproxy proxy(temp_, "ufficio s3greto");
    const std::string at = "@127.0.0.1:" + std::to_string(proxy.port());
    setSetting("Proxy", registry::Value::string("http://ufficio:s3greto" + at));
    const Sending sending = sendOnce();
    EXPECT_EQ(sending.connect, "0");
    EXPECT_EQ(sending.error, "0");
    EXPECT_TRUE(readAsTheProgramDoes(sending.answer).accepted);
    EXPECT_THAT(proxy.log(), HasSubstr("/services/KVT/requests"));

    setSetting("Proxy", registry::Value::string("http://ufficio:sbagliata" + at));
    EXPECT_EQ(sendOnce().connect, "12");
    setSetting("Proxy",
               registry::Value::string("http://127.0.0.1:" + std::to_string(unusedPort())));
    EXPECT_EQ(sendOnce().connect, "6");
    EXPECT_THAT(log(), Not(HasSubstr("s3greto")));
}

// LKConfig never blocks a script: on Linux without a display it returns at
// once; on Windows its dialog is filled as an operator would: a bad URL is
// refused with its reason and nothing is written, not even the good fields;
// a good set is saved and the next call follows it.
TEST_F(LkSondaTest, OptionsDialog) {
    if (!kWindows) {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            ::unsetenv(name);
        }
        EXPECT_THAT(probe({"config"}), ElementsAre("LKConfig=done"));
        EXPECT_THAT(log(), HasSubstr("LKConfig() = 0"));
        EXPECT_THAT(log(), HasSubstr("nessun display"));
        return;
    }
    auto collector = startCollector();
    const std::string moved = probePath(temp_ / "nuovo.log");
    EXPECT_THAT(probe({"fill",       "Url",         "ftp://raccolta.example.org/lk",
                       "fill",       "LogFilename", moved,
                       "config",     "connect",     "KVT",
                       "disconnect",  //
                       "fill",       "LogFilename", moved,
                       "fill",       "ReqTout",     "95000",
                       "config",     "connect",     "KVT",
                       "disconnect"}),
                ElementsAre("fill=refused Url: atteso un indirizzo http:// o https://",
                            "LKConfig=done", "LKConnect=0", "LKDisconnect=0", "LKConfig=done",
                            "LKConnect=0", "LKDisconnect=0"));
    // The refusal kept the old URL and the old log.
    EXPECT_THAT(log(), HasSubstr("[finestra chiusa senza salvare"));
    EXPECT_THAT(log(), HasSubstr("LKConnect(\"KVT\", \"\") = 0"));
    // After "Salva" LKConfig's own line already goes where the dialog said.
    const std::string saved = readFile(temp_ / "nuovo.log");
    EXPECT_THAT(saved, HasSubstr("LKConfig() = 0 ERR_OK: comando eseguito con successo "
                                 "[impostazioni salvate"));
    EXPECT_THAT(saved, HasSubstr("LKConnect(\"KVT\", \"\") = 0"));
    EXPECT_THAT(saved, Not(HasSubstr("finestra chiusa")));
}

}  // namespace
}  // namespace kvt::testing
