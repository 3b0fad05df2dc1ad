#pragma once
// How libcurl's errors sort into the connector's transfer failures (the POSIX
// transport).
#include <curl/curl.h>

#include "lklib/lk_result.h"

namespace kvt::lk {

TransferFailure failureOf(CURLcode code);

// The result of a transfer that libcurl ended with this error.
inline int resultForTransferError(CURLcode code, const TransferFacts& facts) {
    return code == CURLE_OK ? int(kOk) : resultForTransferFailure(failureOf(code), facts);
}

}  // namespace kvt::lk
