// The connection's transport on Windows: WinHTTP, used synchronously, with a
// session of its own for every exchange so that no network connection is
// ever reused (a request is never sent twice).
//
// With CaFile set, the server's chain must end at one of the bundle's
// certificates: WinHTTP is told to let an unknown root through, and the
// check of the chain and of the host name is made here, when WinHTTP is
// about to send the request, which is then cancelled, so that nothing goes
// to a server that failed it.
#include <windows.h>

#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/win32.h"
#include "lklib/lk_connection.h"
#include "lklib/lk_result.h"

namespace kvt::lk {
namespace {

// An internet handle closed when it goes out of scope.
class InternetHandle {
  public:
    explicit InternetHandle(HINTERNET handle = nullptr) : handle_(handle) {}
    ~InternetHandle() { reset(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset() {
        if (handle_) {
            ::WinHttpCloseHandle(handle_);
            handle_ = nullptr;
        }
    }
    // The handle was closed elsewhere (to cancel a request from its callback).
    void forget() { handle_ = nullptr; }

  private:
    HINTERNET handle_;
};

// A certificate store closed when it goes out of scope.
class CertStore {
  public:
    CertStore() = default;
    ~CertStore() {
        if (store_) {
            ::CertCloseStore(store_, 0);
        }
    }
    CertStore(const CertStore&) = delete;
    CertStore& operator=(const CertStore&) = delete;
    HCERTSTORE get() const { return store_; }
    void reset(HCERTSTORE store) {
        if (store_) {
            ::CertCloseStore(store_, 0);
        }
        store_ = store;
    }

  private:
    HCERTSTORE store_ = nullptr;
};

struct ErrorName {
    DWORD code;
    const char* name;
    TransferFailure failure;
};

// WinHTTP's errors as the connector sorts them; what is not listed is a
// generic network failure.
constexpr ErrorName kErrors[] = {
    {ERROR_WINHTTP_INVALID_URL, "URL non valido", TransferFailure::BadUrl},
    {ERROR_WINHTTP_UNRECOGNIZED_SCHEME, "schema non riconosciuto", TransferFailure::BadUrl},
    {ERROR_WINHTTP_NAME_NOT_RESOLVED, "nome non risolto", TransferFailure::HostNotFound},
    {ERROR_WINHTTP_CANNOT_CONNECT, "connessione rifiutata o irraggiungibile",
     TransferFailure::ConnectFailed},
    {ERROR_WINHTTP_TIMEOUT, "tempo scaduto", TransferFailure::TimedOut},
    {ERROR_WINHTTP_SECURE_FAILURE, "verifica TLS fallita", TransferFailure::Tls},
    {ERROR_WINHTTP_SECURE_CHANNEL_ERROR, "canale TLS non stabilito", TransferFailure::Tls},
    {ERROR_WINHTTP_SECURE_INVALID_CA, "autorita' di certificazione sconosciuta",
     TransferFailure::Tls},
    {ERROR_WINHTTP_SECURE_CERT_CN_INVALID, "nome del certificato errato", TransferFailure::Tls},
    {ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, "certificato scaduto", TransferFailure::Tls},
    {ERROR_WINHTTP_SECURE_INVALID_CERT, "certificato non valido", TransferFailure::Tls},
    {ERROR_WINHTTP_SECURE_CERT_REVOKED, "certificato revocato", TransferFailure::Tls},
    {ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE, "uso del certificato errato", TransferFailure::Tls},
    {ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED, "certificato client richiesto", TransferFailure::Tls},
    {ERROR_WINHTTP_CONNECTION_ERROR, "connessione interrotta", TransferFailure::Dropped},
    {ERROR_WINHTTP_INVALID_SERVER_RESPONSE, "risposta non valida o assente",
     TransferFailure::Dropped},
    // Wine's WinHTTP passes some socket errors through as they are.
    {WSAETIMEDOUT, "tempo scaduto (socket)", TransferFailure::TimedOut},
    {WSAECONNREFUSED, "connessione rifiutata (socket)", TransferFailure::ConnectFailed},
    {WSAECONNRESET, "connessione interrotta (socket)", TransferFailure::Dropped},
    {WSAECONNABORTED, "connessione interrotta (socket)", TransferFailure::Dropped},
    {ERROR_NOT_ENOUGH_MEMORY, "memoria esaurita", TransferFailure::OutOfMemory},
    {ERROR_OUTOFMEMORY, "memoria esaurita", TransferFailure::OutOfMemory},
};

const ErrorName* errorName(DWORD code) {
    for (const ErrorName& entry : kErrors) {
        if (entry.code == code) {
            return &entry;
        }
    }
    return nullptr;
}

bool isTimeOut(DWORD code) {
    const ErrorName* entry = errorName(code);
    return entry && entry->failure == TransferFailure::TimedOut;
}

std::string reasonFor(DWORD code) {
    const ErrorName* entry = errorName(code);
    return "WinHTTP " + std::to_string(code) + " " + (entry ? entry->name : "errore di rete");
}

// The certificates of a PEM bundle in a memory store; null when the file
// cannot be read or holds no certificate, which verifies nothing.
HCERTSTORE loadBundle(const std::string& path) {
    std::ifstream in(std::filesystem::path(win32::wide(path)), std::ios::binary);
    if (!in) {
        return nullptr;
    }
    std::ostringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (!store) {
        return nullptr;
    }
    constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
    constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
    int added = 0;
    for (std::size_t at = text.find(kBegin); at != std::string::npos;
         at = text.find(kBegin, at + kBegin.size())) {
        const std::size_t end = text.find(kEnd, at);
        if (end == std::string::npos) {
            break;
        }
        const std::string block = text.substr(at, end + kEnd.size() - at);
        DWORD size = 0;
        if (!::CryptStringToBinaryA(block.c_str(), DWORD(block.size()), CRYPT_STRING_BASE64HEADER,
                                    nullptr, &size, nullptr, nullptr)) {
            continue;
        }
        std::vector<BYTE> der(size);
        if (::CryptStringToBinaryA(block.c_str(), DWORD(block.size()), CRYPT_STRING_BASE64HEADER,
                                   der.data(), &size, nullptr, nullptr) &&
            ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                               CERT_STORE_ADD_USE_EXISTING, nullptr)) {
            ++added;
        }
    }
    if (added == 0) {
        ::CertCloseStore(store, 0);
        return nullptr;
    }
    return store;
}

// The server's certificate checked against the bundle: a chain without
// errors but an unknown root, ending at one of the bundle's certificates,
// and valid for the host name. Empty when it passes, else why not.
std::string verifyAgainstBundle(PCCERT_CONTEXT server, HCERTSTORE bundle,
                                const std::wstring& host) {
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!::CertGetCertificateChain(nullptr, server, nullptr, bundle, &para, 0, nullptr, &chain)) {
        return "catena del certificato non costruita";
    }
    std::string reason;
    const DWORD errors = chain->TrustStatus.dwErrorStatus & ~DWORD(CERT_TRUST_IS_UNTRUSTED_ROOT);
    if (errors != 0) {
        reason = "catena del certificato non valida (stato " + std::to_string(errors) + ")";
    } else if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) {
        reason = "catena del certificato vuota";
    } else {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
        PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
        PCCERT_CONTEXT found = ::CertFindCertificateInStore(bundle, X509_ASN_ENCODING, 0,
                                                            CERT_FIND_EXISTING, root, nullptr);
        if (!found) {
            reason = "certificato non emesso da un'autorita' di CaFile";
        } else {
            ::CertFreeCertificateContext(found);
            SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
            ssl.cbSize = sizeof ssl;
            ssl.dwAuthType = AUTHTYPE_SERVER;
            // The root's trust is what was just checked against the bundle.
            ssl.fdwChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
            ssl.pwszServerName = const_cast<wchar_t*>(host.c_str());
            CERT_CHAIN_POLICY_PARA policy{};
            policy.cbSize = sizeof policy;
            policy.pvExtraPolicyPara = &ssl;
            CERT_CHAIN_POLICY_STATUS status{};
            status.cbSize = sizeof status;
            if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy,
                                                    &status)) {
                reason = "verifica del certificato non eseguita";
            } else if (status.dwError != 0) {
                reason = "certificato non valido per " + win32::narrow(host) + " (errore " +
                         std::to_string(status.dwError) + ")";
            }
        }
    }
    ::CertFreeCertificateChain(chain);
    return reason;
}

// The user and password of a proxy URL ("http://user:pw@host:3128"),
// percent-decoded, and the proxy as WinHTTP names it ("host:3128").
struct ProxyParts {
    std::wstring server;
    std::wstring user;
    std::wstring password;
};

std::string percentDecoded(std::string_view text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            decoded += char(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

// "user:password" in base64, for a Basic Proxy-Authorization header.
std::wstring basicCredentials(const ProxyParts& parts) {
    std::string pair = win32::narrow(parts.user) + ":" + win32::narrow(parts.password);
    DWORD size = 0;
    const auto* bytes = reinterpret_cast<const BYTE*>(pair.data());
    constexpr DWORD kFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    std::wstring encoded;
    if (::CryptBinaryToStringW(bytes, DWORD(pair.size()), kFlags, nullptr, &size) && size > 0) {
        encoded.resize(size);
        if (!::CryptBinaryToStringW(bytes, DWORD(pair.size()), kFlags, encoded.data(), &size)) {
            size = 0;
        }
        encoded.resize(size);
    }
    std::fill(pair.begin(), pair.end(), '\0');
    return encoded;
}

bool parseProxy(std::string_view url, ProxyParts& parts) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        return false;
    }
    std::string_view rest = url.substr(scheme + 3);
    if (const std::size_t slash = rest.find('/'); slash != std::string_view::npos) {
        rest = rest.substr(0, slash);
    }
    if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
        const std::string_view userInfo = rest.substr(0, at);
        const std::size_t colon = userInfo.find(':');
        parts.user = win32::wide(percentDecoded(userInfo.substr(0, colon)));
        if (colon != std::string_view::npos) {
            parts.password = win32::wide(percentDecoded(userInfo.substr(colon + 1)));
        }
        rest = rest.substr(at + 1);
    }
    parts.server = win32::wide(rest);
    // Only a forwarding HTTP proxy is what WinHTTP speaks to.
    const std::string_view kind = url.substr(0, scheme);
    return !rest.empty() && (kind == "http" || kind == "HTTP");
}

// What the status callback sees of one exchange.
struct Watch {
    HCERTSTORE bundle = nullptr;
    std::wstring host;
    bool sending = false;  // connected (and TLS done): the request goes out now
    bool refused = false;  // the server failed the check against the bundle
    std::string refusal;
};

void CALLBACK onStatus(HINTERNET request, DWORD_PTR context, DWORD status, void*, DWORD) {
    auto* watch = reinterpret_cast<Watch*>(context);
    if (!watch || status != WINHTTP_CALLBACK_STATUS_SENDING_REQUEST) {
        return;
    }
    watch->sending = true;
    if (!watch->bundle) {
        return;
    }
    PCCERT_CONTEXT server = nullptr;
    DWORD size = sizeof server;
    if (!::WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &server, &size) ||
        !server) {
        watch->refusal = "certificato del server non disponibile";
    } else {
        watch->refusal = verifyAgainstBundle(server, watch->bundle, watch->host);
        ::CertFreeCertificateContext(server);
    }
    if (!watch->refusal.empty()) {
        watch->refused = true;
        // Closing the request from its callback cancels it before a byte of
        // it is sent. (Wine still sends the headers, not the body: see
        // exchange.)
        ::WinHttpCloseHandle(request);
    }
}

}  // namespace

class Connection::Transport {
  public:
    explicit Transport(const Settings& settings) : settings_(settings) {}

    Outcome exchange(const std::string& url, const std::string_view* body, long timeoutMs,
                     std::string& answer);

  private:
    Outcome failed(DWORD code, const TransferFacts& facts, std::string reason = {}) const {
        const ErrorName* entry = errorName(code);
        Outcome outcome;
        outcome.result =
            resultForTransferFailure(entry ? entry->failure : TransferFailure::Other, facts);
        outcome.reason = reason.empty() ? reasonFor(code) : std::move(reason);
        return outcome;
    }

    const Settings& settings_;
    CertStore bundle_;
    bool bundleLoaded_ = false;
};

Connection::Outcome Connection::Transport::exchange(const std::string& url,
                                                    const std::string_view* body, long timeoutMs,
                                                    std::string& answer) {
    const auto start = std::chrono::steady_clock::now();
    const std::wstring wideUrl = win32::wide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = DWORD(-1);
    parts.dwUrlPathLength = DWORD(-1);
    parts.dwExtraInfoLength = DWORD(-1);
    if (!::WinHttpCrackUrl(wideUrl.c_str(), DWORD(wideUrl.size()), 0, &parts)) {
        return failed(::GetLastError(), {});
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    Watch watch;
    watch.host = host;
    if (secure && !settings_.caFile.empty()) {
        if (!bundleLoaded_) {
            bundle_.reset(loadBundle(settings_.caFile));
            bundleLoaded_ = true;
        }
        if (!bundle_.get()) {
            return {kCrypt, 0, "CaFile senza certificati leggibili", 0, 0};
        }
        watch.bundle = bundle_.get();
    }

    ProxyParts proxy;
    if (!settings_.proxy.empty() && !parseProxy(settings_.proxy, proxy)) {
        return {kBadParameters, 0, "Proxy non valido", 0, 0};
    }
    InternetHandle session(::WinHttpOpen(
        L"LKlib/1.0",
        proxy.server.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
        proxy.server.empty() ? WINHTTP_NO_PROXY_NAME : proxy.server.c_str(),
        WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        return failed(::GetLastError(), {});
    }
    // TLS 1.2 at least, also where the system's default still allows older
    // versions; a system that knows TLS 1.3 may use it.
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!::WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                            sizeof protocols)) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        if (!::WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                                sizeof protocols)) {
            return failed(::GetLastError(), {});
        }
    }
    // Waiting for the name and the connection is ConnectTout; each send and
    // read of a transfer may wait StallTout; the wait for the answer's
    // headers is the query's own time limit (set on the request below).
    const int connectMs = int(settings_.connectTimeoutMs);
    const int stallMs = int(settings_.stallTimeoutMs);
    ::WinHttpSetTimeouts(session.get(), connectMs, connectMs, stallMs, stallMs);
    InternetHandle connection(::WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection) {
        return failed(::GetLastError(), {});
    }
    InternetHandle request(::WinHttpOpenRequest(
        connection.get(), body ? L"POST" : L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
        WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) {
        return failed(::GetLastError(), {});
    }
    DWORD disabled =
        WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_KEEP_ALIVE | WINHTTP_DISABLE_COOKIES;
    ::WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled);
    DWORD responseWait = DWORD(timeoutMs);
    ::WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseWait,
                       sizeof responseWait);
    if (watch.bundle) {
        DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        ::WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    }
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&watch);
    ::WinHttpSetOption(request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
    ::WinHttpSetStatusCallback(request.get(), &onStatus, WINHTTP_CALLBACK_FLAG_SEND_REQUEST, 0);
    std::wstring headers = L"Accept: application/xml\r\n";
    // Through a tunnel the request's own headers reach the service, not the
    // proxy: the proxy's credentials are WinHTTP's, given to the tunnel's
    // CONNECT (before the first sending, and again for a 407 answer).
    const bool tunnelCredentials = !proxy.user.empty() && secure;
    const auto giveTunnelCredentials = [&] {
        return ::WinHttpSetCredentials(request.get(), WINHTTP_AUTH_TARGET_PROXY,
                                       WINHTTP_AUTH_SCHEME_BASIC, proxy.user.c_str(),
                                       proxy.password.c_str(), nullptr) != 0;
    };
    if (tunnelCredentials && !giveTunnelCredentials()) {
        return failed(::GetLastError(), {});
    }
    if (!proxy.user.empty() && !secure) {
        // Plain http: the request goes to the proxy, which takes the header
        // off before forwarding. Given with the request rather than after a
        // 407, so that the request is sent once (and under Wine a request
        // whose credentials were set with WinHttpSetCredentials cannot be
        // written to).
        headers += L"Proxy-Authorization: Basic " + basicCredentials(proxy) + L"\r\n";
    }
    if (body) {
        headers += L"Content-Type: application/xml\r\n";
    }
    if (!settings_.token.empty()) {
        headers += L"Authorization: Bearer " + win32::wide(settings_.token) + L"\r\n";
    }
    // The body is written only once the request's headers went out to a
    // server that passed the checks: Wine does not cancel a request closed
    // from its callback, so there the headers still leave, but never the body.
    const DWORD bodySize = body ? DWORD(body->size()) : 0;
    // Secrets leave memory with the exchange, however it ends.
    struct Wipe {
        std::wstring& headers;
        std::wstring& password;
        ~Wipe() {
            std::fill(headers.begin(), headers.end(), L'\0');
            std::fill(password.begin(), password.end(), L'\0');
        }
    } wipe{headers, proxy.password};
    TransferFacts facts;
    Outcome outcome;
    DWORD status = 0;
    for (int sending = 1;; ++sending) {
        BOOL sent = ::WinHttpSendRequest(request.get(), headers.c_str(), DWORD(headers.size()),
                                         WINHTTP_NO_REQUEST_DATA, 0, bodySize, 0);
        if (watch.refused) {
            request.forget();
            return {kCrypt, 0, watch.refusal, 0, 0};
        }
        for (DWORD written = 0; sent && written < bodySize;) {
            DWORD now = 0;
            sent =
                ::WinHttpWriteData(request.get(), body->data() + written, bodySize - written, &now);
            written += now;
        }
        const DWORD sendError = sent ? 0 : ::GetLastError();

        if (!sent) {
            // A time-out once the request was going out is a transfer stuck halfway.
            facts.stalled = watch.sending && isTimeOut(sendError);
            Outcome stuck = failed(sendError, facts);
            if (facts.stalled) {
                stuck.reason = "trasferimento fermo da oltre " + std::to_string(stallMs) + " ms";
            }
            return stuck;
        }
        facts.requestSent = true;
        outcome.sent = bodySize;
        if (!::WinHttpReceiveResponse(request.get(), nullptr)) {
            const DWORD error = ::GetLastError();
            Outcome late = failed(error, facts);
            late.sent = bodySize;
            return late;
        }
        DWORD size = sizeof status;
        ::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                              WINHTTP_NO_HEADER_INDEX);
        // A proxy that asks before it lets the tunnel through: WinHTTP answers
        // its challenge with the credentials on the second sending.
        if (status != HTTP_STATUS_PROXY_AUTH_REQ || !tunnelCredentials || sending > 1) {
            break;
        }
        if (!giveTunnelCredentials()) {
            return failed(::GetLastError(), facts);
        }
    }
    outcome.httpStatus = long(status);
    outcome.result = resultForStatus(outcome.httpStatus);
    if (outcome.result != kOk) {
        return outcome;
    }
    DWORD announced = 0;
    DWORD size = sizeof announced;
    if (::WinHttpQueryHeaders(
            request.get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
            WINHTTP_HEADER_NAME_BY_INDEX, &announced, &size, WINHTTP_NO_HEADER_INDEX) &&
        announced > kMaxAnswerBytes) {
        facts.answerTooLarge = true;
    }
    std::string received;
    char chunk[16384];
    while (!facts.answerTooLarge) {
        DWORD got = 0;
        if (!::WinHttpReadData(request.get(), chunk, sizeof chunk, &got)) {
            const DWORD error = ::GetLastError();
            facts.stalled = isTimeOut(error);
            Outcome broken = failed(error, facts);
            if (facts.stalled) {
                broken.reason = "trasferimento fermo da oltre " + std::to_string(stallMs) + " ms";
            }
            broken.sent = bodySize;
            broken.received = std::int64_t(received.size());
            broken.httpStatus = outcome.httpStatus;
            return broken;
        }
        if (got == 0) {
            break;
        }
        if (received.size() + got > kMaxAnswerBytes) {
            facts.answerTooLarge = true;
            break;
        }
        received.append(chunk, got);
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(timeoutMs)) {
            Outcome late = failed(ERROR_WINHTTP_TIMEOUT, facts);
            late.sent = bodySize;
            late.httpStatus = outcome.httpStatus;
            return late;
        }
    }
    outcome.received = std::int64_t(received.size());
    if (facts.answerTooLarge) {
        outcome.result = resultForTransferFailure(TransferFailure::AnswerTooLarge, facts);
        outcome.reason = "risposta oltre " + std::to_string(kMaxAnswerBytes) + " byte";
        return outcome;
    }
    answer.swap(received);
    return outcome;
}

void Connection::TransportDeleter::operator()(Transport* transport) const {
    delete transport;
}

Connection::Outcome Connection::exchange(const std::string& url, const std::string_view* body,
                                         long timeoutMs, std::string& answer) {
    if (!transport_) {
        transport_.reset(new Transport(settings_));
    }
    return transport_->exchange(url, body, timeoutMs, answer);
}

}  // namespace kvt::lk
