#include "collector/collector_service.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <thread>
#include <utility>

namespace kvt::collector {
namespace {

constexpr std::string_view kServiceName = "KVT";
constexpr const char* kXmlType = "application/xml; charset=UTF-8";
constexpr const char* kTextType = "text/plain; charset=UTF-8";

// Each request's fault is chosen before its body is read (so that get-only
// can refuse to read it) and used by the handler on the same worker thread.
thread_local std::optional<Fault> currentFault;

std::string readToken(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string token;
    std::getline(in, token);
    while (!token.empty() && (token.back() == '\r' || token.back() == ' ')) {
        token.pop_back();
    }
    if (!in && token.empty()) {
        throw std::runtime_error("token non leggibile da " + file.string());
    }
    if (token.empty()) {
        throw std::runtime_error("token vuoto in " + file.string());
    }
    return token;
}

bool sameText(std::string_view a, std::string_view b) {
    // Compared in full whatever the first difference, so that the time taken
    // tells nothing of the token.
    unsigned char difference = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        difference |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    }
    return difference == 0;
}

std::string peerAddress(const sockaddr_storage& address, int& port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        port = ntohs(in->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* in = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &in->sin6_addr, text, sizeof text);
        port = ntohs(in->sin6_port);
    }
    return text;
}

// Cuts the request's connection off without an answer. cpp-httplib does not
// hand its socket to handlers, so it is found among the process's sockets by
// the two ends of the connection.
void dropConnection(const httplib::Request& request) {
    DIR* folder = opendir("/proc/self/fd");
    if (!folder) {
        return;
    }
    while (const dirent* entry = readdir(folder)) {
        const int fd = std::atoi(entry->d_name);
        struct stat status {};
        if (fd <= 2 || fd == dirfd(folder) || fstat(fd, &status) != 0 ||
            !S_ISSOCK(status.st_mode)) {
            continue;
        }
        sockaddr_storage peer{};
        sockaddr_storage local{};
        socklen_t peerLength = sizeof peer;
        socklen_t localLength = sizeof local;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0) {
            continue;
        }
        int peerPort = -1;
        int localPort = -1;
        const std::string peerText = peerAddress(peer, peerPort);
        peerAddress(local, localPort);
        if (peerPort == request.remote_port && localPort == request.local_port &&
            peerText == request.remote_addr) {
            ::shutdown(fd, SHUT_RDWR);
            break;
        }
    }
    closedir(folder);
}

bool isXmlType(std::string_view type) {
    return type.starts_with("application/xml") || type.starts_with("text/xml");
}

void plainAnswer(httplib::Response& response, int status, const std::string& text) {
    response.status = status;
    response.set_content(text + "\n", kTextType);
}

}  // namespace

std::filesystem::path defaultDtdFolder() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path("kvt/dtd") : executable.parent_path() / "kvt" / "dtd";
}

CollectorService::CollectorService(ServeOptions options)
    : options_(std::move(options)),
      checker_((options_.dtdFolder.empty() ? defaultDtdFolder() : options_.dtdFolder) /
               kRequestDtdName),
      store_(options_.store),
      journal_(options_.journalFile) {
    for (const Fault& fault : options_.faults) {
        faults_.add(fault);
    }
    if (!options_.tokenFile.empty()) {
        token_ = readToken(options_.tokenFile);
    }
    if (options_.certFile.empty()) {
        server_ = std::make_unique<httplib::Server>();
    } else {
        auto secure = std::make_unique<httplib::SSLServer>(options_.certFile.c_str(),
                                                           options_.keyFile.c_str());
        if (!secure->is_valid()) {
            throw std::runtime_error("certificato o chiave non utilizzabili: " +
                                     options_.certFile.string() + ", " + options_.keyFile.string());
        }
        server_ = std::move(secure);
    }
    server_->set_payload_max_length(options_.maxRequestBytes);
    server_->set_keep_alive_timeout(30);
    setUpRoutes();
}

CollectorService::~CollectorService() = default;

void CollectorService::setUpRoutes() {
    server_->set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            currentFault.reset();
            if (!authorised(request)) {
                response.set_header("WWW-Authenticate", "Bearer realm=\"KVT\"");
                plainAnswer(response, 401, "token mancante o non valido");
                return httplib::Server::HandlerResponse::Handled;
            }
            if (request.method == "POST" &&
                request.path == "/services/" + std::string(kServiceName) + "/requests") {
                currentFault = faults_.nextQuery();
                if (currentFault && currentFault->kind == FaultKind::GetOnly) {
                    dropConnection(request);
                    response.status = 503;
                    return httplib::Server::HandlerResponse::Handled;
                }
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
    server_->Get(R"(/services/([^/]+))",
                 [this](const httplib::Request& request, httplib::Response& response) {
                     answerConnect(request, response);
                 });
    server_->Post(R"(/services/([^/]+)/requests)",
                  [this](const httplib::Request& request, httplib::Response& response) {
                      answerQuery(request, response);
                  });
    server_->set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.body.empty()) {
            switch (response.status) {
                case 404:
                    response.set_content("risorsa sconosciuta\n", kTextType);
                    break;
                case 413:
                    response.set_content("richiesta troppo grande\n", kTextType);
                    break;
                default:
                    break;
            }
        }
    });
    if (options_.verbose) {
        server_->set_logger([](const httplib::Request& request, const httplib::Response& response) {
            std::cerr << "kvt-collector: " << request.remote_addr << ' ' << request.method << ' '
                      << request.path << ' ' << response.status << ' ' << request.body.size()
                      << " byte\n";
        });
    }
}

bool CollectorService::authorised(const httplib::Request& request) const {
    if (token_.empty()) {
        return true;
    }
    const std::string header = request.get_header_value("Authorization");
    constexpr std::string_view kBearer = "Bearer ";
    return header.starts_with(kBearer) &&
           sameText(std::string_view(header).substr(kBearer.size()), token_);
}

void CollectorService::answerConnect(const httplib::Request& request, httplib::Response& response) {
    if (request.matches[1].str() != kServiceName) {
        plainAnswer(response, 404, "servizio sconosciuto: " + std::string(request.matches[1]));
        return;
    }
    if (const auto fault = faults_.nextConnect()) {
        plainAnswer(response, static_cast<int>(fault->value), "guasto di prova: " + fault->option);
        return;
    }
    plainAnswer(response, 200, "servizio KVT disponibile");
}

void CollectorService::answerQuery(const httplib::Request& request, httplib::Response& response) {
    const std::optional<Fault> fault = std::exchange(currentFault, std::nullopt);
    if (request.matches[1].str() != kServiceName) {
        plainAnswer(response, 404, "servizio sconosciuto: " + std::string(request.matches[1]));
        return;
    }
    if (request.body.empty()) {
        plainAnswer(response, 400, "richiesta vuota");
        return;
    }
    if (!isXmlType(request.get_header_value("Content-Type"))) {
        plainAnswer(response, 415, "attesa una richiesta application/xml");
        return;
    }
    const FaultKind kind = fault ? fault->kind : FaultKind::Delay;
    if (fault && kind == FaultKind::Status) {
        plainAnswer(response, static_cast<int>(fault->value), "guasto di prova: " + fault->option);
        return;
    }

    Verdict verdict;
    if (fault && kind == FaultKind::RefuseRequest) {
        verdict.requestCode = code::kRequestRefused;
        verdict.requestText = "Richiesta respinta dal servizio di raccolta";
    } else {
        verdict = checker_.check(request.body);
        if (fault && (kind == FaultKind::RefusePatient || kind == FaultKind::ForgeLog) &&
            verdict.requestCode.empty()) {
            verdict.patientCode = code::kPatientRefused;
            verdict.patientText = "Assistito respinto dal servizio di raccolta";
        }
    }
    bool stored = false;
    if (verdict.accepted()) {
        stored = store_.store(verdict.pseudonym, request.body);
        if (!stored) {
            verdict.requestCode = code::kNotStored;
            verdict.requestText = "Errore interno del servizio: tracciato non archiviato";
            std::cerr << "kvt-collector: tracciato non archiviato in " << store_.folder().string()
                      << '\n';
        }
    }
    const Receipt receipt = nextReceipt();
    journal_.record(receipt.id, verdict, request.body.size(), stored,
                    fault ? std::string_view(fault->option) : std::string_view());

    if (!fault) {
        response.set_content(answerDocument(verdict, receipt), kXmlType);
        return;
    }
    switch (kind) {
        case FaultKind::Delay:
            waitOrStop(std::chrono::milliseconds(fault->value));
            response.set_content(answerDocument(verdict, receipt), kXmlType);
            return;
        case FaultKind::Drop:
            dropConnection(request);
            return;
        case FaultKind::Malformed:
            response.set_content(malformedAnswer(receipt), kXmlType);
            return;
        case FaultKind::NoCodes:
            response.set_content(answerWithoutCodes(verdict, receipt), kXmlType);
            return;
        case FaultKind::Oversize:
            response.set_content(oversizeAnswer(verdict, receipt), kXmlType);
            return;
        case FaultKind::ForgeLog:
            response.set_content(forgedLogAnswer(verdict, receipt), kXmlType);
            return;
        case FaultKind::Stall: {
            auto answer = std::make_shared<std::string>(answerDocument(verdict, receipt));
            const auto hold = std::chrono::milliseconds(fault->value);
            response.set_content_provider(
                answer->size(), kXmlType,
                [this, answer, hold](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    if (offset == 0) {
                        return sink.write(answer->data(), answer->size() / 2);
                    }
                    waitOrStop(hold);
                    return false;
                });
            return;
        }
        default:
            response.set_content(answerDocument(verdict, receipt), kXmlType);
            return;
    }
}

Receipt CollectorService::nextReceipt() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char day[16];
    char time[32];
    std::strftime(day, sizeof day, "%Y%m%d", &local);
    std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%S", &local);
    char id[48];
    std::snprintf(id, sizeof id, "KVT-%s-%06llu", day,
                  static_cast<unsigned long long>(receipts_.fetch_add(1) + 1));
    return {id, time};
}

bool CollectorService::waitOrStop(std::chrono::milliseconds duration) {
    std::unique_lock lock(stopMutex_);
    return stopSignal_.wait_for(lock, duration, [this] { return stopping_; });
}

int CollectorService::bind() {
    if (options_.port == 0) {
        const int port = server_->bind_to_any_port(options_.host);
        if (port <= 0) {
            throw std::runtime_error("impossibile ascoltare su " + options_.host);
        }
        return port;
    }
    if (!server_->bind_to_port(options_.host, options_.port)) {
        throw std::runtime_error("impossibile ascoltare su " + options_.host + ":" +
                                 std::to_string(options_.port));
    }
    return options_.port;
}

void CollectorService::run() {
    server_->listen_after_bind();
}

void CollectorService::stop() {
    {
        std::lock_guard lock(stopMutex_);
        stopping_ = true;
    }
    stopSignal_.notify_all();
    server_->stop();
}

}  // namespace kvt::collector
