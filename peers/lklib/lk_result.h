#pragma once
// The connector's result codes and how the outcomes of an HTTP exchange map
// onto them, whatever library carries the exchange.

namespace kvt::lk {

enum Result : int {
    kOk = 0,
    kBusy = 1,
    kInvalidService = 2,
    kBadParameters = 3,
    kConnectFailed = 6,
    kTimeout = 8,
    kNetwork = 9,
    kProtocol = 10,
    kLogin = 12,
    kNotAuthenticated = 13,
    kNotConnected = 14,
    kInvalid = 16,
    kNoService = 21,
    kResources = 24,
    kLocalMemory = 25,
    kDropped = 27,
    kUnknown = 28,
    kCrypt = 29,
    kLookup = 32,
};

// The result of an answer that arrived with this HTTP status.
int resultForStatus(long httpStatus);

// Why a transfer ended without an answer, in the connector's terms: each
// transport sorts its library's errors into these.
enum class TransferFailure {
    BadUrl,          // the URL or its scheme is not usable
    HostNotFound,    // the service's (or the proxy's) name does not resolve
    ConnectFailed,   // refused or unreachable
    TimedOut,        // a time limit ran out
    Tls,             // handshake, certificate or name verification
    Dropped,         // the connection broke or closed without a whole answer
    AnswerTooLarge,  // the answer's announced size is past the cap
    OutOfMemory,
    Other,
};

// What is known of a transfer that ended with an error.
struct TransferFacts {
    bool requestSent = false;     // the request went out: a time-out is a late answer
    bool stalled = false;         // our progress watch gave the transfer up
    bool answerTooLarge = false;  // our answer cap cut the transfer off
    long proxyConnectStatus = 0;  // the proxy's answer to a tunnel request
};

int resultForTransferFailure(TransferFailure failure, const TransferFacts& facts);

}  // namespace kvt::lk
