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

int resultForTransferFailure(TransferFailure failure, const TransferFacts& facts) {
    if (facts.answerTooLarge) {
        return kResources;
    }
    if (facts.stalled) {
        return kTimeout;
    }
    if (facts.proxyConnectStatus == 407) {
        return kLogin;
    }
    switch (failure) {
        case TransferFailure::BadUrl:
            return kBadParameters;
        case TransferFailure::HostNotFound:
            return kLookup;
        case TransferFailure::ConnectFailed:
            return kConnectFailed;
        case TransferFailure::TimedOut:
            // Before the request went out the service was not reachable in
            // time; afterwards its answer is late.
            return facts.requestSent ? kTimeout : kConnectFailed;
        case TransferFailure::Tls:
            return kCrypt;
        case TransferFailure::Dropped:
            return kDropped;
        case TransferFailure::AnswerTooLarge:
            return kResources;
        case TransferFailure::OutOfMemory:
            return kLocalMemory;
        case TransferFailure::Other:
            break;
    }
    return kNetwork;
}

}  // namespace kvt::lk
