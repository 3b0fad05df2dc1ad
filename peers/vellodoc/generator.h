#pragma once
// vellodoc-sim's practice generator: a realistic synthetic general practice,
// the same for the same options and seed.
#include <cstdint>
#include <filesystem>
#include <string>

namespace kvt::vellodoc {

inline constexpr const char* kDefaultDoctorCode = "MMG001";
inline constexpr const char* kDefaultUser = "demo";
inline constexpr const char* kDefaultPassword = "demo";
// The last day of a generated history unless another is asked for: a fixed
// day, so that a seed always gives the same practice.
inline constexpr const char* kDefaultUntil = "2026-06-30";

struct GeneratorOptions {
    int patients = 0;
    int years = 0;
    std::uint64_t seed = 0;
    std::string doctorCode = kDefaultDoctorCode;
    std::string user = kDefaultUser;
    std::string password = kDefaultPassword;
    std::string until = kDefaultUntil;  // YYYY-MM-DD
};

struct GenerationSummary {
    int patients = 0;
    int doctorPatients = 0;   // of the doctor, in convention: what "carica" selects
    int awkwardPatients = 0;  // no fiscal code, missing data, no visits, odd texts...
    int changeDocuments = 0;
    std::uint64_t visits = 0;
    std::uint64_t datasetRows = 0;
};

// Writes the practice to a new file at `path` (through a temporary file
// renamed into place). Raises kvt::Error for bad options or when the file
// cannot be written.
GenerationSummary generatePractice(const GeneratorOptions& options,
                                   const std::filesystem::path& path);

// True when the file is a practice written by the generator (which it may
// therefore replace).
bool isGeneratedPractice(const std::filesystem::path& path);

}  // namespace kvt::vellodoc
