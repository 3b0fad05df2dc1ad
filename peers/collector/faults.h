#pragma once
// Faults the collection service can be told to inject, so that tests and
// demonstrations see every way a sending can go wrong. Each fault applies to
// every request, to the n-th one, or to a share of them.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvt::collector {

enum class FaultKind {
    RefusePatient,  // answer with a patient-level code; nothing stored
    RefuseRequest,  // answer with a request-level code; nothing stored
    Delay,          // answer after VALUE milliseconds
    Drop,           // close the connection instead of answering
    Malformed,      // answer XML that is not well-formed
    NoCodes,        // answer without the vekCodiceErrore elements
    Status,         // answer the query with HTTP status VALUE
    ConnectStatus,  // answer the connection check (GET) with HTTP status VALUE
    GetOnly,        // take only the connection check: the query's connection is
                    // closed before anything is read or stored
    Stall,          // send half the answer, then nothing for VALUE milliseconds
    Oversize,       // answer more than the connector's 16 MiB limit
    ForgeLog,       // refuse the patient with a description holding a line break
                    // and a terminal escape, as character references
};

struct FaultSelection {
    enum class Mode { Every, Nth, Share };
    Mode mode = Mode::Every;
    std::uint64_t nth = 0;  // 1-based
    unsigned percent = 0;   // 1..100

    // Whether the k-th request (1-based) is hit. A share is spread evenly and
    // deterministically: 50% hits the 2nd, 4th, 6th ... request.
    bool hits(std::uint64_t k) const;
};

struct Fault {
    FaultKind kind;
    long value = 0;
    FaultSelection when;
    std::string option;  // as given on the command line

    // Whether the fault watches the connection checks rather than the queries.
    bool onConnect() const { return kind == FaultKind::ConnectStatus; }
};

// "KIND[=VALUE][@WHEN]": WHEN is N (the n-th request) or P% (that share).
// Raises std::invalid_argument with an Italian reason.
Fault parseFault(std::string_view option);

// The faults in command-line order; each counts the requests it watches
// (queries, or connection checks), and the first that hits a request wins.
class FaultPlan {
  public:
    void add(Fault fault);
    std::optional<Fault> nextQuery();
    std::optional<Fault> nextConnect();
    bool empty() const { return entries_.empty(); }

  private:
    std::optional<Fault> next(bool connect);
    struct Entry {
        Fault fault;
        std::uint64_t seen = 0;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
};

// The usage text of the --fault option.
std::string_view faultUsage();

}  // namespace kvt::collector
