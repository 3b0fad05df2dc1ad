#pragma once
// What the connector's tests start beside kvt-collector: certificates made
// with openssl, and tinyproxy.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>

#include "collector/peer_process.h"

namespace kvt::testing {

// The lines of a text, without their line ends.
inline std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A certificate for 127.0.0.1 (or for another name), made here with openssl.
inline void makeCertificate(const TempDir& temp, const std::string& name,
                            const std::string& altName) {
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
        " -subj /CN=" +
        name + " -addext subjectAltName=" + altName + " -keyout " +
        (temp / (name + ".key")).string() + " -out " + (temp / (name + ".pem")).string() +
        " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// An authority of our own ("name.pem", "name.key") and a certificate for
// 127.0.0.1 that it signs ("name-leaf.pem", "name-leaf.key").
inline void makeAuthorityAndLeaf(const TempDir& temp, const std::string& name) {
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string ca = (temp / name).string();
    const std::string leaf = ca + "-leaf";
    // The authority's name is unique to this folder: its hash names no other.
    const std::string subject = "/CN=" + name + "-" + temp.path().filename().string();
    for (const std::string& command : {
             "openssl req -x509 -days 2" + ec + " -subj " + subject + " -keyout " + ca +
                 ".key -out " + ca + ".pem",
             "openssl req -new" + ec + " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1" +
                 " -keyout " + leaf + ".key -out " + leaf + ".csr",
             "openssl x509 -req -days 2 -copy_extensions copy -in " + leaf + ".csr -CA " + ca +
                 ".pem -CAkey " + ca + ".key -out " + leaf + ".pem",
         }) {
        ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
    }
}

// tinyproxy on a free port with a configuration of our own.
class Tinyproxy {
  public:
    Tinyproxy(const TempDir& temp, const std::string& credentials) : port_(unusedPort()) {
        log_ = temp / "tinyproxy.log";
        const auto config = temp / "tinyproxy.conf";
        std::string text = "Port " + std::to_string(port_) +
                           "\nListen 127.0.0.1\nTimeout 30\nMaxClients 8\nAllow 127.0.0.1\n"
                           "LogLevel Info\nLogFile \"" +
                           log_.string() + "\"\n";
        if (!credentials.empty()) {
            text += "BasicAuth " + credentials + "\n";
        }
        writeFile(config, text);
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/tinyproxy", "-d", "-c", config.string()});
        for (int i = 0; i < 100 && !listening(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    bool listening() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port_));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return ok;
    }
    int port() const { return port_; }
    std::string log() const { return readFile(log_); }

  private:
    int port_;
    std::filesystem::path log_;
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace kvt::testing
