#pragma once
// Test helpers for the peers: a temporary folder, a child process whose
// standard output is read line by line with a time limit, and a running
// kvt-collector on 127.0.0.1.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kvt::testing {

class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kvt-peers-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            throw std::runtime_error("mkdtemp");
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

// A port on 127.0.0.1 that nothing listens on (just released by us).
inline int unusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& argv) {
        int pipeEnds[2];
        if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        const int failed = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeEnds[1]);
        output_ = pipeEnds[0];
        if (failed != 0) {
            ::close(output_);
            throw std::runtime_error("cannot start " + argv[0]);
        }
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            stop(SIGTERM, std::chrono::seconds(5));
        }
        if (output_ >= 0) {
            ::close(output_);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // One line of the child's standard output, or nothing within the limit.
    std::string readLine(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (true) {
            if (const std::size_t end = buffer_.find('\n'); end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return {};
            }
            pollfd ready{output_, POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
                return {};
            }
            char chunk[512];
            const ssize_t n = ::read(output_, chunk, sizeof chunk);
            if (n <= 0) {
                return {};
            }
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    // Sends the signal and waits (up to the limit, then kills): the exit
    // status, or -1 when the child had to be killed or died of a signal.
    int stop(int signal = SIGTERM, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        if (pid_ <= 0) {
            return -1;
        }
        ::kill(pid_, signal);
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (true) {
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                pid_ = -1;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Waits for the child to end by itself.
    int wait(std::chrono::milliseconds limit = std::chrono::seconds(10)) { return stop(0, limit); }

  private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string buffer_;
};

// kvt-collector started on 127.0.0.1 with a free port.
class RunningCollector {
  public:
    RunningCollector(const std::filesystem::path& store, std::vector<std::string> extra = {},
                     const std::string& dtdFolder = KVT_TEST_REQUEST_DTD_DIR) {
        std::vector<std::string> argv = {KVT_TEST_COLLECTOR, "--listen", "127.0.0.1:0", "--store",
                                         store.string(),     "--dtd",    dtdFolder};
        argv.insert(argv.end(), extra.begin(), extra.end());
        process_ = std::make_unique<ChildProcess>(argv);
        const std::string line = process_->readLine();
        port_ = line.empty() ? 0 : std::atoi(line.c_str());
        if (port_ <= 0) {
            throw std::runtime_error("kvt-collector did not tell its port");
        }
    }
    int port() const { return port_; }
    std::string url(const std::string& scheme = "http") const {
        return scheme + "://127.0.0.1:" + std::to_string(port_);
    }
    int stop() { return process_->stop(SIGTERM); }

  private:
    std::unique_ptr<ChildProcess> process_;
    int port_ = 0;
};

}  // namespace kvt::testing
