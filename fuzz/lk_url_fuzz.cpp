// The connector's URL and proxy checks and the scrubbing of its log texts.
// The input is "url NUL proxy NUL user NUL password NUL text" (without four
// NULs: the whole input is the url, with fixed other parts).
// - Plain http:// that the connector lets through goes, as libcurl reads the
//   URL and the proxy, only to this machine; a host taken as loopback is one.
// - A text quoting a proxy URL with credentials, as libcurl's reasons do,
//   never keeps the password once scrubbed with the settings' secrets; and
//   without them, a plain quoted URL loses exactly its user information.
#include <arpa/inet.h>
#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "lklib/lk_connection.h"
#include "lklib/lk_log.h"
#include "lklib/lk_settings.h"

namespace {

// The host libcurl would go to for this URL or proxy, read as libcurl reads them.
std::optional<std::string> curlHost(const std::string& url) {
    CURLU* handle = curl_url();
    std::optional<std::string> host;
    if (handle && curl_url_set(handle, CURLUPART_URL, url.c_str(),
                               CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
        char* part = nullptr;
        if (curl_url_get(handle, CURLUPART_HOST, &part, 0) == CURLUE_OK && part) {
            host = part;
            curl_free(part);
        }
    }
    curl_url_cleanup(handle);
    return host;
}

// This machine, told by the C library's address parser.
bool reallyLoopback(const std::string& host) {
    std::string lower(host);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (lower == "localhost") {
        return true;
    }
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        in6_addr address{};
        const std::string inner = host.substr(1, host.size() - 2);
        return inet_pton(AF_INET6, inner.c_str(), &address) == 1 &&
               std::memcmp(&address, &in6addr_loopback, sizeof address) == 0;
    }
    in_addr address{};
    return inet_pton(AF_INET, host.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

bool startsWithHttp(std::string_view url) {
    return url.size() >= 7 && (url[0] | 0x20) == 'h' && (url[1] | 0x20) == 't' &&
           (url[2] | 0x20) == 't' && (url[3] | 0x20) == 'p' && url.substr(4, 3) == "://";
}

bool isBreakOrAt(char c) {
    return c == '@' || std::isspace(static_cast<unsigned char>(c)) ||
           std::string_view("'\"`<>()").find(c) != std::string_view::npos;
}

bool hasNone(std::string_view text, std::string_view characters) {
    return text.find_first_of(characters) == std::string_view::npos;
}

void checkPlainHttp(std::string_view url, std::string_view proxy) {
    const std::string_view host = kvt::lk::urlHost(url);
    if (kvt::lk::isLoopbackHost(host)) {
        KVT_FUZZ_CHECK(reallyLoopback(std::string(host)));
    }
    const std::string base = kvt::lk::normalisedBaseUrl(url);
    if (base.empty() || !startsWithHttp(base) || !kvt::lk::plainHttpRefusal(base, proxy).empty()) {
        return;
    }
    // Let through: libcurl's reading of what it is given names this machine.
    if (const auto curl = curlHost(base + "/services/KVT")) {
        KVT_FUZZ_CHECK(reallyLoopback(*curl));
    }
    if (!proxy.empty()) {
        if (const auto curl = curlHost(std::string(proxy))) {
            KVT_FUZZ_CHECK(reallyLoopback(*curl));
        }
    }
}

void checkScrubbing(std::string_view host, std::string_view user, std::string_view password,
                    std::string_view text) {
    // The password is the part of the user information after its first ':'.
    if (password.empty() || !hasNone(user, ":@/?#") || !hasNone(password, "@/?#") ||
        !hasNone(host, "@/?#")) {
        return;
    }
    const std::string proxy =
        "http://" + std::string(user) + ":" + std::string(password) + "@" + std::string(host);
    kvt::lk::Settings settings;
    settings.proxy = proxy;
    const std::string quoted = std::string(text) + "'" + proxy + "'" + std::string(text);
    const std::string scrubbed = kvt::lk::withoutSecrets(quoted, kvt::lk::secretsOf(settings));
    KVT_FUZZ_CHECK(scrubbed.find(password) == std::string::npos);

    // Without the secrets: a URL standing as a word of its own loses its
    // user information and nothing else.
    const bool plainWord = std::none_of(user.begin(), user.end(), isBreakOrAt) &&
                           std::none_of(password.begin(), password.end(), isBreakOrAt) &&
                           std::none_of(host.begin(), host.end(), isBreakOrAt);
    if (plainWord) {
        KVT_FUZZ_CHECK(kvt::lk::withoutSecrets(std::string(text) + " " + proxy) ==
                       kvt::lk::withoutSecrets(text) + " http://" + std::string(host));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view parts[4];
    std::string_view rest = input;
    std::size_t found = 0;
    for (std::size_t end; found < 4 && (end = rest.find('\0')) != std::string_view::npos; ++found) {
        parts[found] = rest.substr(0, end);
        rest.remove_prefix(end + 1);
    }
    std::string_view text = rest;
    if (found < 4) {
        parts[0] = input.substr(0, input.find('\0'));
        parts[1] = "";
        parts[2] = "ufficio";
        parts[3] = "s3greto";
        text = "Unsupported proxy syntax in";
    }
    const auto [url, proxy, user, password] = parts;
    checkPlainHttp(url, proxy);
    checkScrubbing(proxy, user, password, text);
    return 0;
}
