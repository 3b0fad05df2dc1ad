#include "lklib/lk_connection.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

#include "lklib/lk_result.h"

namespace kvt::lk {
namespace {

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

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

Connection::~Connection() {
    if (curl_) {
        curl_easy_cleanup(curl_);
    }
    curl_slist_free_all(getHeaders_);
    curl_slist_free_all(postHeaders_);
}

void Connection::setCommonOptions() {
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 0L);
    // Certificates are always verified, peer and host name alike.
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!settings_.caFile.empty()) {
        curl_easy_setopt(curl_, CURLOPT_CAINFO, settings_.caFile.c_str());
    }
    // An empty proxy also keeps libcurl from taking one from the environment:
    // the connector goes only where its own settings say.
    curl_easy_setopt(curl_, CURLOPT_PROXY, settings_.proxy.c_str());
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS, settings_.connectTimeoutMs);
    curl_easy_setopt(curl_, CURLOPT_TCP_KEEPALIVE, 1L);
    // Every exchange has a connection of its own: libcurl would otherwise
    // send a request again, unasked, when a reused connection dies before
    // the answer, and an upload the service already took would go twice
    // while a lost connection went unreported.
    curl_easy_setopt(curl_, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl_, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(kMaxAnswerBytes));
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &Connection::onData);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &Connection::onProgress);
    curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(curl_, CURLOPT_USERAGENT, "LKlib/1.0");

    std::string authorization;
    if (!settings_.token.empty()) {
        authorization = "Authorization: Bearer " + settings_.token;
    }
    for (curl_slist** list : {&getHeaders_, &postHeaders_}) {
        *list = curl_slist_append(*list, "Accept: application/xml");
        if (!authorization.empty()) {
            *list = curl_slist_append(*list, authorization.c_str());
        }
    }
    postHeaders_ = curl_slist_append(postHeaders_, "Content-Type: application/xml");
    std::fill(authorization.begin(), authorization.end(), '\0');
}

Connection::Outcome Connection::open() {
    if (!isValidServiceName(service_)) {
        return {kInvalidService, 0, "nome servizio non accettato", 0, 0};
    }
    const std::string base = normalisedBaseUrl(settings_.url);
    if (base.empty()) {
        return {kBadParameters, 0, "Url mancante o non valido", 0, 0};
    }
    initialiseCurlOnce();
    curl_ = curl_easy_init();
    if (!curl_) {
        return {kLocalMemory, 0, "libcurl non inizializzata", 0, 0};
    }
    setCommonOptions();
    if (!getHeaders_ || !postHeaders_) {
        return {kLocalMemory, 0, "memoria esaurita", 0, 0};
    }
    serviceUrl_ = base + "/services/" + service_;
    curl_easy_setopt(curl_, CURLOPT_URL, serviceUrl_.c_str());
    curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, getHeaders_);
    Outcome outcome = perform(settings_.requestTimeoutMs);
    body_.clear();
    return outcome;
}

Connection::Outcome Connection::query(std::string_view request, int timeoutSeconds,
                                      std::string& answer) {
    answer.clear();
    const std::string url = serviceUrl_ + "/requests";
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_POST, 1L);
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, request.data());
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.size()));
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, postHeaders_);
    const long timeoutMs =
        timeoutSeconds > 0 ? long(timeoutSeconds) * 1000L : settings_.requestTimeoutMs;
    Outcome outcome = perform(timeoutMs);
    if (outcome.result == kOk) {
        // The program reads the answer as a zero-terminated text: one with a
        // zero byte inside would be read cut short, so it is refused whole.
        if (std::memchr(body_.data(), '\0', body_.size()) != nullptr) {
            outcome.result = kProtocol;
            outcome.reason = "risposta con byte nullo";
        } else {
            answer.swap(body_);
        }
    }
    body_.clear();
    return outcome;
}

Connection::Outcome Connection::perform(long timeoutMs) {
    body_.clear();
    answerTooLarge_ = false;
    stalled_ = false;
    lastDown_ = 0;
    lastUp_ = 0;
    lastMove_ = std::chrono::steady_clock::now();
    errorBuffer_[0] = '\0';
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, timeoutMs);

    const CURLcode code = curl_easy_perform(curl_);

    Outcome outcome;
    curl_easy_getinfo(curl_, CURLINFO_SIZE_UPLOAD_T, &outcome.sent);
    curl_easy_getinfo(curl_, CURLINFO_SIZE_DOWNLOAD_T, &outcome.received);
    if (code == CURLE_OK) {
        curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &outcome.httpStatus);
        outcome.result = resultForStatus(outcome.httpStatus);
        if (outcome.result != kOk) {
            body_.clear();
        }
        return outcome;
    }
    TransferFacts facts;
    long requestSize = 0;
    curl_easy_getinfo(curl_, CURLINFO_REQUEST_SIZE, &requestSize);
    facts.requestSent = requestSize > 0;
    facts.stalled = stalled_;
    facts.answerTooLarge = answerTooLarge_;
    curl_easy_getinfo(curl_, CURLINFO_HTTP_CONNECTCODE, &facts.proxyConnectStatus);
    outcome.result = resultForTransferError(code, facts);
    outcome.reason = errorBuffer_[0] != '\0' ? errorBuffer_ : curl_easy_strerror(code);
    if (stalled_) {
        outcome.reason =
            "trasferimento fermo da oltre " + std::to_string(settings_.stallTimeoutMs) + " ms";
    } else if (answerTooLarge_ || code == CURLE_FILESIZE_EXCEEDED) {
        outcome.reason = "risposta oltre " + std::to_string(kMaxAnswerBytes) + " byte";
    }
    body_.clear();
    body_.shrink_to_fit();
    return outcome;
}

std::size_t Connection::onData(char* data, std::size_t size, std::size_t count, void* self) {
    auto* connection = static_cast<Connection*>(self);
    const std::size_t bytes = size * count;
    if (connection->body_.size() + bytes > kMaxAnswerBytes) {
        connection->answerTooLarge_ = true;
        connection->body_.clear();
        return 0;  // cut off: libcurl ends the transfer with a write error
    }
    connection->body_.append(data, bytes);
    return bytes;
}

int Connection::onProgress(void* self, curl_off_t downTotal, curl_off_t downNow, curl_off_t upTotal,
                           curl_off_t upNow) {
    auto* connection = static_cast<Connection*>(self);
    const auto now = std::chrono::steady_clock::now();
    if (downNow != connection->lastDown_ || upNow != connection->lastUp_) {
        connection->lastDown_ = downNow;
        connection->lastUp_ = upNow;
        connection->lastMove_ = now;
        return 0;
    }
    // Waiting for the service to work out its answer is not a stall; a
    // request or an answer stuck halfway is.
    const bool sending = upNow > 0 && upNow < upTotal;
    const bool receiving = downNow > 0 && (downTotal == 0 || downNow < downTotal);
    if ((sending || receiving) &&
        now - connection->lastMove_ >
            std::chrono::milliseconds(connection->settings_.stallTimeoutMs)) {
        connection->stalled_ = true;
        return 1;
    }
    return 0;
}

}  // namespace kvt::lk
