#include "lklib/lk_connection.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "lklib/lk_log.h"
#include "lklib/lk_result.h"

namespace kvt::lk {
namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

// Four parts of one to three digits, without leading zeros (which some
// readers take as octal), each up to 255, the first 127.
bool isDottedLoopback(std::string_view host) {
    int parts = 0;
    for (;;) {
        const std::size_t dot = host.find('.');
        const std::string_view part = host.substr(0, dot);
        if (part.empty() || part.size() > 3 || (part.size() > 1 && part.front() == '0') ||
            !std::all_of(part.begin(), part.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
            return false;
        }
        const int value = std::stoi(std::string(part));
        if (value > 255 || (parts == 0 && value != 127)) {
            return false;
        }
        ++parts;
        if (dot == std::string_view::npos) {
            return parts == 4;
        }
        host.remove_prefix(dot + 1);
    }
}

}  // namespace

bool isValidServiceName(std::string_view service) {
    return !service.empty() && service.size() <= 64 &&
           std::all_of(service.begin(), service.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' ||
                      c == '-';
           });
}

std::string normalisedBaseUrl(std::string_view url) {
    std::size_t schemeEnd = 0;
    if (startsWithNoCase(url, "http://")) {
        schemeEnd = 7;
    } else if (startsWithNoCase(url, "https://")) {
        schemeEnd = 8;
    } else {
        return {};
    }
    while (!url.empty() && url.back() == '/') {
        url.remove_suffix(1);
    }
    if (url.size() <= schemeEnd || url.find_first_of(" \t\r\n") != std::string_view::npos ||
        url.find_first_of("?#") != std::string_view::npos) {
        return {};
    }
    return std::string(url);
}

std::string_view urlHost(std::string_view url) {
    // A scheme is a letter, then letters, digits, '+', '-' or '.': without
    // one, "://" further on is part of the path ("h/ttp://[::1]" is host h).
    const std::size_t scheme = url.find("://");
    const bool hasScheme =
        scheme != std::string_view::npos && scheme > 0 &&
        std::isalpha(static_cast<unsigned char>(url.front())) &&
        std::all_of(url.begin(), url.begin() + std::ptrdiff_t(scheme), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
        });
    std::string_view authority = hasScheme ? url.substr(scheme + 3) : url;
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    if (authority.starts_with('[')) {
        // Only a port may follow the brackets: otherwise the whole is no host.
        const std::size_t close = authority.find(']');
        if (close != std::string_view::npos &&
            (close + 1 == authority.size() || authority[close + 1] == ':')) {
            return authority.substr(0, close + 1);
        }
        return authority;
    }
    return authority.substr(0, authority.find(':'));
}

bool isLoopbackHost(std::string_view host) {
    return (host.size() == 9 && startsWithNoCase(host, "localhost")) || host == "[::1]" ||
           isDottedLoopback(host);
}

std::string plainHttpRefusal(std::string_view url, std::string_view proxy) {
    if (!startsWithNoCase(url, "http://")) {
        return {};
    }
    if (!isLoopbackHost(urlHost(url))) {
        return "Url http:// (non cifrato) ammesso solo verso questo computer (127.0.0.1, "
               "localhost, [::1]): per altri indirizzi serve https://";
    }
    if (!proxy.empty() && !isLoopbackHost(urlHost(proxy))) {
        return "Url http:// (non cifrato) non ammesso attraverso un proxy su un altro computer: "
               "serve https://";
    }
    return {};
}

std::string Connection::Outcome::details() const {
    std::string text;
    if (httpStatus != 0) {
        text = "HTTP " + std::to_string(httpStatus) + ", ";
    }
    text +=
        "inviati " + std::to_string(sent) + " byte, ricevuti " + std::to_string(received) + " byte";
    if (!reason.empty()) {
        text += ", " + reason;
    }
    return text;
}

Connection::Connection(Settings settings, std::string service)
    : settings_(std::move(settings)),
      secrets_(secretsOf(settings_)),
      service_(std::move(service)) {}

Connection::~Connection() = default;

Connection::Outcome Connection::open() {
    if (!isValidServiceName(service_)) {
        return {kInvalidService, 0, "nome servizio non accettato", 0, 0};
    }
    const std::string base = normalisedBaseUrl(settings_.url);
    if (base.empty()) {
        return {kBadParameters, 0, "Url mancante o non valido", 0, 0};
    }
    if (std::string refusal = plainHttpRefusal(base, settings_.proxy); !refusal.empty()) {
        // A setting the connector cannot use, refused before any traffic like
        // a missing or malformed Url: ERR_NORAS. Not ERR_CRYPT, which tells of
        // a handshake or certificate that failed; none was tried here.
        return {kBadParameters, 0, std::move(refusal), 0, 0};
    }
    serviceUrl_ = base + "/services/" + service_;
    std::string ignored;
    return withoutSecrets(exchange(serviceUrl_, nullptr, settings_.requestTimeoutMs, ignored));
}

Connection::Outcome Connection::withoutSecrets(Outcome outcome) const {
    // The transport's reason may quote a URL (libcurl's names a malformed
    // proxy whole, credentials and all).
    outcome.reason = lk::withoutSecrets(outcome.reason, secrets_);
    return outcome;
}

Connection::Outcome Connection::query(std::string_view request, int timeoutSeconds,
                                      std::string& answer) {
    answer.clear();
    const long timeoutMs =
        timeoutSeconds > 0 ? long(timeoutSeconds) * 1000L : settings_.requestTimeoutMs;
    std::string body;
    Outcome outcome =
        withoutSecrets(exchange(serviceUrl_ + "/requests", &request, timeoutMs, body));
    if (outcome.result == kOk) {
        // The program reads the answer as a zero-terminated text: one with a
        // zero byte inside would be read cut short, so it is refused whole.
        if (std::memchr(body.data(), '\0', body.size()) != nullptr) {
            outcome.result = kProtocol;
            outcome.reason = "risposta con byte nullo";
        } else {
            answer.swap(body);
        }
    }
    return outcome;
}

}  // namespace kvt::lk
