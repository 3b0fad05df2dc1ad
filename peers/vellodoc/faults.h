#pragma once
// Faults on demand: rows of standin_guasti that make a host call fail or
// answer a scripted value (see Fault in practice.h and README.md). The rows
// are kept in memory, so that the many small calls of a record (row moves,
// column reads, probes) never touch the database; they are read again at
// the calls that load data anyway.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "peers/vellodoc/sqlite_db.h"

namespace kvt::vellodoc {

struct FaultHit {
    std::optional<std::string> risposta;  // nothing: a null value
    bool fallisce = false;
};

// A fault of the host's process (a row with a `guasto`) that applies to a call.
struct ProcessFaultHit {
    enum class Kind { Dies, Hangs, Refused, RefusedForNow };
    Kind kind;
    std::int64_t parametro = 0;
};

class FaultTable {
  public:
    // Looks for the table in the practice and reads it; without the table no
    // fault ever applies.
    void attach(Database& db);
    void detach();
    // Reads the faults in force again (others may have added some).
    void refresh();

    bool empty() const { return rows_.empty(); }
    // The first fault (in insertion order) that applies to the call, counting
    // it against its `volte`; nothing when none applies.
    std::optional<FaultHit> take(std::string_view metodo, std::string_view key,
                                 std::string_view paziente);
    // The first process fault (in insertion order) that applies to the
    // process's call number `chiamata`; "slow" rows before it are served
    // first, so a slow host can also die. Refusals only when `refuses`.
    std::optional<ProcessFaultHit> takeProcess(std::string_view metodo, std::string_view key,
                                               std::string_view paziente, std::uint64_t chiamata,
                                               bool refuses);

  private:
    struct Row {
        std::int64_t rowid = 0;
        std::string metodo, argomento, paziente;
        std::optional<std::string> risposta;
        bool fallisce = false;
        std::optional<std::int64_t> volte;
        std::string guasto;
        std::int64_t parametro = 0;
        // "occupato_per": when the refusals began, in steady-clock ms.
        std::optional<std::int64_t> dal;
    };

    bool matches(const Row& row, std::string_view metodo, std::string_view key,
                 std::string_view paziente) const;

    Database* db_ = nullptr;
    std::vector<Row> rows_;
};

}  // namespace kvt::vellodoc
