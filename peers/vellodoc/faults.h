#pragma once
// Faults on demand: rows of standin_guasti that make a host call fail or
// answer a scripted value (see Fault in practice.h and README.md).
#include <optional>
#include <string>
#include <string_view>

#include "peers/vellodoc/sqlite_db.h"

namespace kvt::vellodoc {

struct FaultHit {
    std::optional<std::string> risposta;  // nothing: a null value
    bool fallisce = false;
};

class FaultTable {
  public:
    // Looks for the table in the practice; without it no fault ever applies.
    void attach(Database& db);
    void detach() { db_ = nullptr; }

    // The first fault (in insertion order) that applies to the call, counting
    // it against its `volte`; nothing when none applies.
    std::optional<FaultHit> take(std::string_view metodo, std::string_view key,
                                 std::string_view paziente);

  private:
    Database* db_ = nullptr;
};

}  // namespace kvt::vellodoc
