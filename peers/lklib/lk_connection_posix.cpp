// The connection's transport on POSIX: libcurl, one easy handle per
// connection, which never reuses a network connection.
#include <curl/curl.h>

#include <chrono>
#include <mutex>

#include "lklib/lk_connection.h"
#include "lklib/lk_result_curl.h"

namespace kvt::lk {
namespace {

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

class Connection::Transport {
  public:
    explicit Transport(const Settings& settings) : settings_(settings) {}
    ~Transport() {
        if (curl_) {
            curl_easy_cleanup(curl_);
        }
        curl_slist_free_all(getHeaders_);
        curl_slist_free_all(postHeaders_);
    }
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // Empty when ready, else why not.
    Outcome start() {
        initialiseCurlOnce();
        curl_ = curl_easy_init();
        if (!curl_) {
            return {kLocalMemory, 0, "libcurl non inizializzata", 0, 0};
        }
        setCommonOptions();
        if (!getHeaders_ || !postHeaders_) {
            return {kLocalMemory, 0, "memoria esaurita", 0, 0};
        }
        return {};
    }

    Outcome exchange(const std::string& url, const std::string_view* body, long timeoutMs,
                     std::string& answer) {
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        if (body) {
            curl_easy_setopt(curl_, CURLOPT_POST, 1L);
            curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body->data());
            curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body->size()));
            curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, postHeaders_);
        } else {
            curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
            curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, getHeaders_);
        }
        Outcome outcome = perform(timeoutMs);
        if (outcome.result == kOk) {
            answer.swap(body_);
        }
        body_.clear();
        return outcome;
    }

  private:
    void setCommonOptions();
    Outcome perform(long timeoutMs);
    static std::size_t onData(char* data, std::size_t size, std::size_t count, void* self);
    static int onProgress(void* self, curl_off_t downTotal, curl_off_t downNow, curl_off_t upTotal,
                          curl_off_t upNow);

    const Settings& settings_;
    CURL* curl_ = nullptr;
    curl_slist* getHeaders_ = nullptr;
    curl_slist* postHeaders_ = nullptr;
    std::string body_;
    bool answerTooLarge_ = false;
    bool stalled_ = false;
    curl_off_t lastDown_ = 0;
    curl_off_t lastUp_ = 0;
    std::chrono::steady_clock::time_point lastMove_;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
};

void Connection::TransportDeleter::operator()(Transport* transport) const {
    delete transport;
}

Connection::Outcome Connection::exchange(const std::string& url, const std::string_view* body,
                                         long timeoutMs, std::string& answer) {
    if (!transport_) {
        auto transport = std::make_unique<Transport>(settings_);
        if (Outcome failed = transport->start(); failed.result != kOk) {
            return failed;
        }
        transport_.reset(transport.release());
    }
    return transport_->exchange(url, body, timeoutMs, answer);
}

void Connection::Transport::setCommonOptions() {
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 0L);
    // Certificates are always verified, peer and host name alike.
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, 2L);
    // CaFile, when set, is the only trust: the bundle replaces the system's
    // file of authorities, and the system's folder of them is left out too.
    // Without it, the system's authorities as libcurl finds them.
    if (!settings_.caFile.empty()) {
        curl_easy_setopt(curl_, CURLOPT_CAINFO, settings_.caFile.c_str());
        curl_easy_setopt(curl_, CURLOPT_CAPATH, nullptr);
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
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &Transport::onData);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &Transport::onProgress);
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

Connection::Outcome Connection::Transport::perform(long timeoutMs) {
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
    curl_off_t sent = 0;
    curl_off_t received = 0;
    curl_easy_getinfo(curl_, CURLINFO_SIZE_UPLOAD_T, &sent);
    curl_easy_getinfo(curl_, CURLINFO_SIZE_DOWNLOAD_T, &received);
    outcome.sent = sent;
    outcome.received = received;
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

std::size_t Connection::Transport::onData(char* data, std::size_t size, std::size_t count,
                                          void* self) {
    auto* connection = static_cast<Transport*>(self);
    const std::size_t bytes = size * count;
    if (connection->body_.size() + bytes > kMaxAnswerBytes) {
        connection->answerTooLarge_ = true;
        connection->body_.clear();
        return 0;  // cut off: libcurl ends the transfer with a write error
    }
    connection->body_.append(data, bytes);
    return bytes;
}

int Connection::Transport::onProgress(void* self, curl_off_t downTotal, curl_off_t downNow,
                                      curl_off_t upTotal, curl_off_t upNow) {
    auto* connection = static_cast<Transport*>(self);
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
