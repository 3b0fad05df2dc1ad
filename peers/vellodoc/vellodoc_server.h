#pragma once
// The host stand-in: the automation class "Vellodoc.Server" over the practice
// database named by the registry value "database" of
// HKEY_LOCAL_MACHINE\SOFTWARE\Quintara-Kelvano.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "common/errors.h"

namespace kvt::automation {
class Object;
}

namespace kvt::vellodoc {

inline constexpr std::string_view kServerClass = "Vellodoc.Server";

// Puts "Vellodoc.Server" into the automation class table (replacing an
// earlier registration). Front ends and tests call it once before the first
// host session: a registration by static initialiser would be dropped by the
// linker from a static library.
//
// When the environment variable KVT_STANDIN_STATS names a file, the counters
// below are written to it when the process ends normally (see
// writeCountersFile), so that a benchmark can read what a whole program asked
// of the host without the program knowing about it.
void registerServer();

// A new server object: what the class table makes for "Vellodoc.Server", and
// what a system's own automation hands out (the COM server of the Windows
// build answers through one of these).
std::shared_ptr<automation::Object> createServer();

// The host methods a server object answers, by the names they are called by.
std::vector<std::string_view> methodNames();

inline constexpr const char* kStatsVariable = "KVT_STANDIN_STATS";

// A call the host refused without running it, as a busy host does: at once
// ("occupato") or asking to be called later ("occupato_per").
class CallRefused : public Error {
  public:
    CallRefused(const std::string& text, bool later) : Error(text), later_(later) {}
    bool later() const { return later_; }

  private:
    bool later_;
};

// What the faults of the host's process (Fault::guasto in practice.h) do in
// the form the stand-in is served in. The defaults are those of a host in
// the caller's own process: "dies" raises kvt::HostPerso, "hangs" holds the
// call for the program's own waiting limit (limitiHost().attesa: nothing
// can cancel a call in the same thread) and then raises kvt::HostPerso,
// and refusals are not made (a host in process has no other work to be busy
// with). A server of its own process ends itself instead, and refuses.
struct ProcessFaults {
    std::function<void()> dies;
    std::function<void()> hangs;
    // True: a call hit by "occupato" raises CallRefused without running.
    bool refuses = false;
};
// Replaces the defaults for every server object made afterwards.
void setProcessFaults(ProcessFaults faults);

// When KVT_STANDIN_STATS names a file, arranges for the counters to be
// written there when the process ends normally; registerServer does it.
void writeCountersAtExit();

// What the stand-in has done, over every server object of the process.
struct Counters {
    std::uint64_t calls = 0;              // host calls answered, failed ones too
    std::uint64_t rowsRead = 0;           // practice rows read: patients, dataset rows, SQL rows
    std::int64_t liveDatasets = 0;        // dataset objects created and not yet released
    std::uint64_t datasetsCreated = 0;    // by "new_object"
    std::uint64_t datasetsDestroyed = 0;  // by "destroy_object" (not by closing the session)
};

Counters counters();
// Sets calls, rows and the two totals back to zero; live objects stay counted.
void resetCounters();

// Writes the counters as one line of JSON, e.g.
// {"calls":12,"rowsRead":40,"liveDatasets":0,"datasetsCreated":3,"datasetsDestroyed":3}
// replacing the file; false when it cannot be written.
bool writeCountersFile(const std::filesystem::path& file);

}  // namespace kvt::vellodoc
