#pragma once
// One connection to the collection service over HTTP(S): the connection
// check (GET of the service) and the queries (POST of a request) with the
// settings read when it was opened. Each exchange goes over a network
// connection of its own and is never sent twice. The transport is the
// platform's: libcurl on POSIX, WinHTTP on Windows.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lklib/lk_settings.h"

namespace kvt::lk {

class Connection {
  public:
    // Answers above this size are cut off and refused before anything reads them.
    static constexpr std::size_t kMaxAnswerBytes = std::size_t{16} << 20;

    struct Outcome {
        int result = 0;
        long httpStatus = 0;
        std::string reason;  // the transport's, when the exchange failed
        std::int64_t sent = 0;
        std::int64_t received = 0;
        // For the connector's log: status, sizes and reason, never content.
        std::string details() const;
    };

    Connection(Settings settings, std::string service);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // GET {Url}/services/{service}: 0 when the service answers 200.
    Outcome open();
    // POST {Url}/services/{service}/requests with the request; on 0 the
    // answer holds the body, otherwise it is empty.
    Outcome query(std::string_view request, int timeoutSeconds, std::string& answer);

  private:
    // The platform's part: one exchange with the service. A null body is a
    // GET; the answer's body is kept only for a 200.
    class Transport;
    struct TransportDeleter {
        void operator()(Transport* transport) const;
    };
    Outcome exchange(const std::string& url, const std::string_view* body, long timeoutMs,
                     std::string& answer);

    // The reason of a failed exchange without the settings' secrets.
    Outcome withoutSecrets(Outcome outcome) const;

    Settings settings_;
    std::vector<std::string> secrets_;
    std::string service_;
    std::string serviceUrl_;
    std::unique_ptr<Transport, TransportDeleter> transport_;
};

// A service name the connector accepts: letters, digits, '.', '_' and '-'.
bool isValidServiceName(std::string_view service);
// The base URL, when it is an http:// or https:// URL with a host, without
// its trailing slashes; empty otherwise.
std::string normalisedBaseUrl(std::string_view url);

// The host of a URL, or of "host:port" without a scheme: without user
// information and port; an IPv6 address keeps its brackets.
std::string_view urlHost(std::string_view url);
// This machine itself, as written: 127.0.0.0/8 in plain dotted decimal,
// "localhost" or "[::1]". Any other spelling is taken as another host.
bool isLoopbackHost(std::string_view host);
// Why requests to this base URL, through this proxy (empty: none), may not
// be sent: plain http:// carries the token and the uploads unencrypted, so
// it may only stay on this machine. Empty when they may be sent.
std::string plainHttpRefusal(std::string_view url, std::string_view proxy);

}  // namespace kvt::lk
