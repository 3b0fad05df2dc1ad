#pragma once
// The collection service's checks of one upload request: well-formed,
// valid against RichiestaCaricamento.dtd, version "KVT 1.1", operation
// "UPLO", one patient, a pseudonym of 40 upper-case hexadecimal digits.
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace kvt::collector {

// The verdict on one request: the codes and descriptions that go into the
// answer, empty when the request (or the patient) is accepted.
struct Verdict {
    std::string requestCode;
    std::string requestText;
    bool patientChecked = false;  // the request got as far as its patient
    std::string patientCode;
    std::string patientText;
    std::string pseudonym;  // only a well-formed one; empty otherwise

    bool accepted() const { return requestCode.empty() && patientCode.empty(); }
};

// The answer codes. Request-level codes refuse the whole request (the
// program reads them from /vekRisposta/vekCodiceErrore); patient-level codes
// refuse its one patient (/vekRisposta/vekPazienti/vekPaziente/vekCodiceErrore).
namespace code {
inline constexpr std::string_view kNotWellFormed = "101";
inline constexpr std::string_view kNotValid = "102";
inline constexpr std::string_view kWrongVersion = "103";
inline constexpr std::string_view kWrongOperation = "104";
inline constexpr std::string_view kPatientCount = "105";
inline constexpr std::string_view kDeclarations = "106";
inline constexpr std::string_view kRequestRefused = "190";
inline constexpr std::string_view kNotStored = "199";
inline constexpr std::string_view kPseudonymMissing = "201";
inline constexpr std::string_view kPseudonymInvalid = "202";
inline constexpr std::string_view kPatientRefused = "290";
}  // namespace code

inline constexpr std::string_view kRequestVersion = "KVT 1.1";
inline constexpr std::string_view kRequestOperation = "UPLO";
inline constexpr std::string_view kRequestDtdName = "RichiestaCaricamento.dtd";

bool isPseudonym(std::string_view text);

class RequestChecker {
  public:
    // Loads the document type once, from the local file only; raises
    // std::runtime_error when it cannot be read.
    explicit RequestChecker(const std::filesystem::path& dtdFile);
    ~RequestChecker();
    RequestChecker(const RequestChecker&) = delete;
    RequestChecker& operator=(const RequestChecker&) = delete;

    Verdict check(std::string_view request) const;

  private:
    struct Dtd;
    std::unique_ptr<Dtd> dtd_;
    mutable std::mutex validation_;
};

}  // namespace kvt::collector
