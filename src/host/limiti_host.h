#pragma once
// How long the program waits on its host. A busy host (a modal window open)
// refuses calls that did not run: they are tried again for a while. A host
// that stops answering holds a call: past a longer limit the call is given up
// and the host counts as lost. Both limits can be shortened without a
// rebuild (tests do), through the environment.
#include <chrono>

namespace kvt::automation {

struct LimitiHost {
    // Refused calls are tried again until this long after the first refusal.
    std::chrono::milliseconds rifiuti{60'000};
    // A call still unanswered after this long is cancelled: the host is lost.
    std::chrono::milliseconds attesa{120'000};
};

// Milliseconds, read once per process.
inline constexpr const char* kVariabileRifiuti = "KVT_HOST_RETRY_MS";
inline constexpr const char* kVariabileAttesa = "KVT_HOST_TIMEOUT_MS";

// The defaults above, or the variables' values when they are whole numbers
// above zero.
const LimitiHost& limitiHost();

}  // namespace kvt::automation
