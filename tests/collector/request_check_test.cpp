#include "collector/request_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "collector/upload_fixtures.h"

namespace kvt::collector {
namespace {

using kvt::testing::goodUpload;
using kvt::testing::replacedOnce;
using ::testing::AnyOf;
using ::testing::HasSubstr;

class RequestCheckTest : public ::testing::Test {
  protected:
    RequestChecker checker{std::filesystem::path(KVT_TEST_REQUEST_DTD_DIR) / kRequestDtdName};
};

TEST_F(RequestCheckTest, GoodUploadIsAcceptedWithItsPseudonym) {
    const Verdict verdict = checker.check(goodUpload());
    EXPECT_TRUE(verdict.accepted()) << verdict.requestText << verdict.patientText;
    EXPECT_TRUE(verdict.patientChecked);
    EXPECT_EQ(verdict.pseudonym, kvt::testing::kGoodPseudonym);
}

TEST_F(RequestCheckTest, InvalidAgainstTheDocumentTypeIsRefusedAsARequest) {
    const Verdict outOfOrder = checker.check(kvt::testing::uploadOutOfOrder());
    EXPECT_EQ(outOfOrder.requestCode, code::kNotValid);
    EXPECT_THAT(outOfOrder.requestText, HasSubstr("RichiestaCaricamento.dtd"));
    EXPECT_THAT(outOfOrder.requestText, HasSubstr("vekRichiesta"));
    EXPECT_FALSE(outOfOrder.patientChecked);

    const Verdict missing = checker.check(kvt::testing::uploadMissingRequired());
    EXPECT_EQ(missing.requestCode, code::kNotValid);
    EXPECT_THAT(missing.requestText, HasSubstr("trxIdentificazione"));

    const Verdict undeclared =
        checker.check(replacedOnce(goodUpload(), "</vekPazienti>", "</vekPazienti><vekExtra/>"));
    EXPECT_EQ(undeclared.requestCode, code::kNotValid);

    const Verdict otherRoot = checker.check("<?xml version=\"1.0\"?><vekRisposta/>");
    EXPECT_EQ(otherRoot.requestCode, code::kNotValid);
    EXPECT_THAT(otherRoot.requestText, HasSubstr("vekRisposta"));
}

TEST_F(RequestCheckTest, VersionOperationAndPatientCountAreChecked) {
    const Verdict version = checker.check(kvt::testing::uploadWrongVersion());
    EXPECT_EQ(version.requestCode, code::kWrongVersion);
    EXPECT_THAT(version.requestText, HasSubstr("KVT 1.0"));

    const Verdict operation = checker.check(replacedOnce(goodUpload(), ">UPLO<", ">DELE<"));
    EXPECT_EQ(operation.requestCode, code::kWrongOperation);

    const std::string upload = goodUpload();
    const std::size_t begin = upload.find("<vekPaziente>");
    const std::size_t end = upload.find("</vekPaziente>") + std::string("</vekPaziente>").size();
    const std::string patient = upload.substr(begin, end - begin);
    const Verdict two = checker.check(replacedOnce(upload, patient, patient + patient));
    // The document type may already allow only one patient.
    EXPECT_THAT(two.requestCode,
                AnyOf(std::string(code::kPatientCount), std::string(code::kNotValid)));
}

TEST_F(RequestCheckTest, PseudonymIsCheckedAtThePatientLevel) {
    const Verdict lower = checker.check(kvt::testing::uploadLowerCasePseudonym());
    EXPECT_TRUE(lower.requestCode.empty());
    EXPECT_TRUE(lower.patientChecked);
    EXPECT_EQ(lower.patientCode, code::kPseudonymInvalid);
    EXPECT_TRUE(lower.pseudonym.empty());

    const Verdict shortOne =
        checker.check(kvt::testing::uploadWithPseudonym("8C4E2D9A7B1F3E5D6C0A9B8E7D6C5B4A3F2E1D0"));
    EXPECT_EQ(shortOne.patientCode, code::kPseudonymInvalid);

    const Verdict fiscalCode = checker.check(kvt::testing::uploadWithPseudonym("RSSMRA80A01H501U"));
    EXPECT_EQ(fiscalCode.patientCode, code::kPseudonymInvalid);
    EXPECT_TRUE(fiscalCode.pseudonym.empty());

    const Verdict missing = checker.check(kvt::testing::uploadWithPseudonym(""));
    EXPECT_EQ(missing.patientCode, code::kPseudonymMissing);
}

TEST_F(RequestCheckTest, NotWellFormedNamesTheLine) {
    const Verdict broken = checker.check("<?xml version=\"1.0\"?>\n<vekRichiesta>\n<a></b>");
    EXPECT_EQ(broken.requestCode, code::kNotWellFormed);
    EXPECT_THAT(broken.requestText, HasSubstr("riga 3"));
    EXPECT_EQ(checker.check("solo testo").requestCode, code::kNotWellFormed);
    EXPECT_EQ(checker.check(std::string("<a>\0</a>", 8)).requestCode, code::kNotWellFormed);
}

TEST_F(RequestCheckTest, NothingIsFetchedOrExpanded) {
    // The document type is always the local one, whatever the request names.
    const Verdict remote =
        checker.check(replacedOnce(goodUpload(), "SYSTEM \"RichiestaCaricamento.dtd\"",
                                   "SYSTEM \"http://127.0.0.1:1/x.dtd\""));
    EXPECT_TRUE(remote.accepted()) << remote.requestText;

    const std::string laughs =
        "<?xml version=\"1.0\"?><!DOCTYPE vekRichiesta [<!ENTITY a \"aaaaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
        "<vekRichiesta>&c;</vekRichiesta>";
    EXPECT_EQ(checker.check(laughs).requestCode, code::kDeclarations);

    const std::string external =
        "<?xml version=\"1.0\"?><!DOCTYPE vekRichiesta SYSTEM \"x.dtd\" [<!ENTITY e SYSTEM "
        "\"file:///etc/passwd\">]><vekRichiesta>&e;</vekRichiesta>";
    EXPECT_EQ(checker.check(external).requestCode, code::kDeclarations);

    const Verdict undeclared = checker.check(replacedOnce(
        goodUpload(), "<trxCodFiscaleMedico/>", "<trxCodFiscaleMedico>&x;</trxCodFiscaleMedico>"));
    EXPECT_FALSE(undeclared.accepted());
    EXPECT_FALSE(undeclared.requestCode.empty());
}

TEST_F(RequestCheckTest, ChecksFromSeveralThreadsAgree) {
    const std::string good = goodUpload();
    const std::string bad = kvt::testing::uploadMissingRequired();
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                if (!checker.check(good).accepted() || checker.check(bad).requestCode != "102") {
                    ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, 0);
}

// The sample uploads kept with the document type: the full records are
// accepted, a changes-only record has no pseudonym, each invalid sample is
// refused as a request.
TEST_F(RequestCheckTest, DocumentTypeSamplesGetTheirVerdicts) {
    const std::filesystem::path samples = KVT_TEST_DTD_SAMPLES;
    if (!std::filesystem::is_directory(samples)) {
        GTEST_SKIP() << "no samples in " << samples;
    }
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(samples)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".xml") {
            continue;
        }
        const Verdict verdict = checker.check(kvt::testing::readFile(entry.path()));
        if (name.starts_with("invalid_")) {
            EXPECT_THAT(verdict.requestCode,
                        AnyOf(std::string(code::kNotValid), std::string(code::kPatientCount)))
                << name;
        } else if (name.starts_with("mode1")) {
            EXPECT_TRUE(verdict.requestCode.empty()) << name << ": " << verdict.requestText;
            EXPECT_EQ(verdict.patientCode, code::kPseudonymMissing) << name;
        } else {
            EXPECT_TRUE(verdict.accepted()) << name << ": " << verdict.requestText;
            EXPECT_TRUE(isPseudonym(verdict.pseudonym)) << name;
        }
        ++checked;
    }
    EXPECT_GT(checked, 10);
}

TEST(RequestCheckerTest, MissingDocumentTypeIsAnError) {
    EXPECT_THROW(RequestChecker("/nonexistent/RichiestaCaricamento.dtd"), std::runtime_error);
}

TEST(PseudonymTest, FortyUpperCaseHexadecimalDigits) {
    EXPECT_TRUE(isPseudonym("0123456789ABCDEF0123456789ABCDEF01234567"));
    EXPECT_FALSE(isPseudonym("0123456789abcdef0123456789abcdef01234567"));
    EXPECT_FALSE(isPseudonym("0123456789ABCDEF0123456789ABCDEF0123456"));
    EXPECT_FALSE(isPseudonym("0123456789ABCDEF0123456789ABCDEF012345678"));
    EXPECT_FALSE(isPseudonym("0123456789ABCDEG0123456789ABCDEF01234567"));
    EXPECT_FALSE(isPseudonym(""));
}

}  // namespace
}  // namespace kvt::collector
