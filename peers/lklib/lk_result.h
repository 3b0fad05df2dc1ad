#pragma once
// The connector's result codes and how the outcomes of an HTTP exchange map
// onto them.
#include <curl/curl.h>

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

// What is known of a transfer that libcurl ended with an error.
struct TransferFacts {
    bool requestSent = false;     // the request went out: a time-out is a late answer
    bool stalled = false;         // our progress watch gave the transfer up
    bool answerTooLarge = false;  // our answer cap cut the transfer off
    long proxyConnectStatus = 0;  // the proxy's answer to a tunnel request
};

int resultForTransferError(CURLcode code, const TransferFacts& facts);

}  // namespace kvt::lk
