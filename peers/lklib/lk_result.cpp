#include "lklib/lk_result.h"

namespace kvt::lk {

int resultForStatus(long httpStatus) {
    switch (httpStatus) {
        case 200:
            return kOk;
        case 400:
            return kInvalid;
        case 401:
        case 407:
            return kLogin;
        case 403:
            return kNotAuthenticated;
        case 404:
            return kInvalidService;
        case 408:
            return kTimeout;
        case 413:
            return kResources;
        case 503:
            return kNoService;
        default:
            break;
    }
    if (httpStatus >= 400 && httpStatus < 500) {
        return kInvalid;
    }
    // Other 5xx, and what this protocol never answers (1xx, other 2xx, a
    // redirection, which is never followed).
    return kUnknown;
}

int resultForTransferError(CURLcode code, const TransferFacts& facts) {
    if (facts.answerTooLarge) {
        return kResources;
    }
    if (facts.stalled) {
        return kTimeout;
    }
    if (facts.proxyConnectStatus == 407) {
        return kLogin;
    }
    switch (code) {
        case CURLE_OK:
            return kOk;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return kBadParameters;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kLookup;
        case CURLE_COULDNT_CONNECT:
            return kConnectFailed;
        case CURLE_OPERATION_TIMEDOUT:
            // Before the request went out the service was not reachable in
            // time; afterwards its answer is late.
            return facts.requestSent ? kTimeout : kConnectFailed;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_USE_SSL_FAILED:
            return kCrypt;
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
            return kDropped;
        case CURLE_FILESIZE_EXCEEDED:
            return kResources;
        case CURLE_OUT_OF_MEMORY:
            return kLocalMemory;
        default:
            return kNetwork;
    }
}

}  // namespace kvt::lk
