#include "collettore.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "app_support.h"

namespace kvt::test {

Collettore::Collettore(std::filesystem::path archivio, std::vector<std::string> guasti)
    : archivio_(std::move(archivio)) {
    int tubo[2];
    if (::pipe2(tubo, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    std::vector<std::string> argomenti = {(cartellaBinari() / "kvt-collector").string(),
                                          "--listen",
                                          "127.0.0.1:0",
                                          "--store",
                                          archivio_.string(),
                                          "--dtd",
                                          (cartellaBinari() / "kvt" / "dtd").string()};
    for (const std::string& guasto : guasti) {
        argomenti.push_back("--fault");
        argomenti.push_back(guasto);
    }
    std::vector<char*> argv;
    for (std::string& argomento : argomenti) {
        argv.push_back(argomento.data());
    }
    argv.push_back(nullptr);

    processo_ = ::fork();
    if (processo_ < 0) {
        throw std::runtime_error("fork");
    }
    if (processo_ == 0) {
        ::dup2(tubo[1], STDOUT_FILENO);
        const int nulla = ::open("/dev/null", O_WRONLY);
        ::dup2(nulla, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(tubo[1]);

    // The first line of its output is the port.
    std::string riga;
    const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (riga.find('\n') == std::string::npos) {
        const auto resto = std::chrono::duration_cast<std::chrono::milliseconds>(
            limite - std::chrono::steady_clock::now());
        pollfd attesa{tubo[0], POLLIN, 0};
        if (resto.count() <= 0 || ::poll(&attesa, 1, static_cast<int>(resto.count())) <= 0) {
            break;
        }
        char buffer[64];
        const ssize_t letti = ::read(tubo[0], buffer, sizeof buffer);
        if (letti <= 0) {
            break;
        }
        riga.append(buffer, static_cast<std::size_t>(letti));
    }
    ::close(tubo[0]);
    try {
        porta_ = std::stoi(riga);
    } catch (...) {
        ferma();
        throw std::runtime_error("kvt-collector non parte: '" + riga + "'");
    }
}

Collettore::~Collettore() {
    ferma();
}

void Collettore::ferma() {
    if (processo_ <= 0) {
        return;
    }
    ::kill(processo_, SIGTERM);
    int stato = 0;
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(processo_, &stato, WNOHANG) == processo_) {
            processo_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(processo_, SIGKILL);
    ::waitpid(processo_, &stato, 0);
    processo_ = -1;
}

int portaChiusa() {
    const int presa = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in indirizzo{};
    indirizzo.sin_family = AF_INET;
    indirizzo.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    indirizzo.sin_port = 0;
    socklen_t lunghezza = sizeof indirizzo;
    if (presa < 0 ||
        ::bind(presa, reinterpret_cast<sockaddr*>(&indirizzo), sizeof indirizzo) != 0 ||
        ::getsockname(presa, reinterpret_cast<sockaddr*>(&indirizzo), &lunghezza) != 0) {
        throw std::runtime_error("porta");
    }
    const int porta = ntohs(indirizzo.sin_port);
    ::close(presa);
    return porta;
}

}  // namespace kvt::test
