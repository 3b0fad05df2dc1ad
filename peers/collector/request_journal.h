#pragma once
// The collector's journal of requests: one line per upload request that
// reached the service whole, so a test can tell afterwards what the service
// received, whether it was valid, and how often each patient came.
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include "collector/request_check.h"

namespace kvt::collector {

class RequestJournal {
  public:
    // No file: the journal records nothing. Raises std::runtime_error when
    // the file cannot be opened for appending.
    explicit RequestJournal(const std::filesystem::path& file);
    ~RequestJournal();
    RequestJournal(const RequestJournal&) = delete;
    RequestJournal& operator=(const RequestJournal&) = delete;

    // Appends, TAB-separated: receipt, pseudonym, request code, patient
    // code ("-" for an empty one), request bytes, whether it was stored, and
    // the fault injected ("-" when none).
    void record(std::string_view receipt, const Verdict& verdict, std::size_t bytes, bool stored,
                std::string_view fault);

    // One line as written, without its line break.
    static std::string line(std::string_view receipt, const Verdict& verdict, std::size_t bytes,
                            bool stored, std::string_view fault);

  private:
    int fd_ = -1;
    std::mutex mutex_;
};

}  // namespace kvt::collector
