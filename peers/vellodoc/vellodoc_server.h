#pragma once
// The host stand-in: the automation class "Vellodoc.Server" over the practice
// database named by the registry value "database" of
// HKEY_LOCAL_MACHINE\SOFTWARE\Quintara-Kelvano.
#include <cstdint>
#include <string_view>

namespace kvt::vellodoc {

inline constexpr std::string_view kServerClass = "Vellodoc.Server";

// Puts "Vellodoc.Server" into the automation class table (replacing an
// earlier registration). Front ends and tests call it once before the first
// host session: a registration by static initialiser would be dropped by the
// linker from a static library.
void registerServer();

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

}  // namespace kvt::vellodoc
