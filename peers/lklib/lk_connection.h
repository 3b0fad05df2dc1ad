#pragma once
// One connection to the collection service over HTTP(S): the connection
// check (GET of the service) and the queries (POST of a request) with the
// settings read when it was opened. Each exchange goes over a network
// connection of its own and is never sent twice.
#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "lklib/lk_settings.h"

namespace kvt::lk {

class Connection {
  public:
    // Answers above this size are cut off and refused before anything reads them.
    static constexpr std::size_t kMaxAnswerBytes = std::size_t{16} << 20;

    struct Outcome {
        int result = 0;
        long httpStatus = 0;
        std::string reason;  // libcurl's, when the exchange failed
        curl_off_t sent = 0;
        curl_off_t received = 0;
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
    Outcome perform(long timeoutMs);
    void setCommonOptions();
    static std::size_t onData(char* data, std::size_t size, std::size_t count, void* self);
    static int onProgress(void* self, curl_off_t downTotal, curl_off_t downNow, curl_off_t upTotal,
                          curl_off_t upNow);

    Settings settings_;
    std::string service_;
    std::string serviceUrl_;
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

// A service name the connector accepts: letters, digits, '.', '_' and '-'.
bool isValidServiceName(std::string_view service);
// The base URL, when it is an http:// or https:// URL with a host, without
// its trailing slashes; empty otherwise.
std::string normalisedBaseUrl(std::string_view url);

}  // namespace kvt::lk
