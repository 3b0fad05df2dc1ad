#include "lklib/lk_connection.h"

#include <algorithm>
#include <cctype>
#include <cstring>

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
    : settings_(std::move(settings)), service_(std::move(service)) {}

Connection::~Connection() = default;

Connection::Outcome Connection::open() {
    if (!isValidServiceName(service_)) {
        return {kInvalidService, 0, "nome servizio non accettato", 0, 0};
    }
    const std::string base = normalisedBaseUrl(settings_.url);
    if (base.empty()) {
        return {kBadParameters, 0, "Url mancante o non valido", 0, 0};
    }
    serviceUrl_ = base + "/services/" + service_;
    std::string ignored;
    return exchange(serviceUrl_, nullptr, settings_.requestTimeoutMs, ignored);
}

Connection::Outcome Connection::query(std::string_view request, int timeoutSeconds,
                                      std::string& answer) {
    answer.clear();
    const long timeoutMs =
        timeoutSeconds > 0 ? long(timeoutSeconds) * 1000L : settings_.requestTimeoutMs;
    std::string body;
    Outcome outcome = exchange(serviceUrl_ + "/requests", &request, timeoutMs, body);
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
