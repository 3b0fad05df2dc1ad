#include "collector/answer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/valid.h>

#include <filesystem>

#include "collector/answer_reading.h"

namespace kvt::collector {
namespace {

using kvt::testing::readAsTheProgramDoes;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const Receipt kReceipt{"KVT-20240501-000042", "2024-05-01T10:22:33"};
constexpr const char* kPseudonym = "8C4E2D9A7B1F3E5D6C0A9B8E7D6C5B4A3F2E1D0C";

Verdict acceptedVerdict() {
    Verdict verdict;
    verdict.patientChecked = true;
    verdict.pseudonym = kPseudonym;
    return verdict;
}

// Whether the answer is valid against one of the installed document types.
void silent(void*, const char*, ...) {}

bool validAgainst(const std::string& answer, const std::string& dtdName) {
    xmlSetGenericErrorFunc(nullptr, silent);
    const auto path = std::filesystem::path(KVT_TEST_ANSWER_DTD_DIR) / dtdName;
    xmlDtdPtr dtd = xmlParseDTD(nullptr, reinterpret_cast<const xmlChar*>(path.c_str()));
    xmlDocPtr doc = xmlReadMemory(answer.data(), static_cast<int>(answer.size()), "a.xml", nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    bool valid = false;
    if (dtd && doc) {
        xmlValidCtxtPtr context = xmlNewValidCtxt();
        context->error = nullptr;
        context->warning = nullptr;
        valid = xmlValidateDtd(context, doc, dtd) == 1;
        xmlFreeValidCtxt(context);
    }
    xmlFreeDoc(doc);
    xmlFreeDtd(dtd);
    return valid;
}

TEST(AnswerTest, AcceptanceHasEmptyCodesAndTheDocumentTypeLine) {
    const std::string answer = answerDocument(acceptedVerdict(), kReceipt);
    EXPECT_THAT(answer, HasSubstr("<!DOCTYPE vekRisposta SYSTEM \"RispostaCaricamento.dtd\">"));
    EXPECT_TRUE(validAgainst(answer, "RispostaCaricamento.dtd"));
    const auto reading = readAsTheProgramDoes(answer);
    EXPECT_TRUE(reading.accepted);
    EXPECT_EQ(reading.code, "");
    EXPECT_THAT(answer, HasSubstr(kPseudonym));
    EXPECT_THAT(answer, HasSubstr(kReceipt.id));
}

TEST(AnswerTest, RequestRefusalIsReadAtTheRequestLevel) {
    Verdict verdict;
    verdict.requestCode = code::kWrongVersion;
    verdict.requestText = "Versione del tracciato non supportata: \"KVT 1.0\" (attesa KVT 1.1)";
    const std::string answer = answerDocument(verdict, kReceipt);
    EXPECT_TRUE(validAgainst(answer, "RispostaCaricamento.dtd"));
    const auto reading = readAsTheProgramDoes(answer);
    EXPECT_FALSE(reading.accepted);
    EXPECT_TRUE(reading.requestLevel);
    EXPECT_EQ(reading.code, "103");
    EXPECT_EQ(reading.description, verdict.requestText);
    EXPECT_THAT(answer, ::testing::Not(HasSubstr("vekPazienti")));
}

TEST(AnswerTest, PatientRefusalIsReadAtThePatientLevel) {
    Verdict verdict;
    verdict.patientChecked = true;
    verdict.patientCode = code::kPseudonymInvalid;
    verdict.patientText = "Pseudonimo dell'assistito non valido";
    const std::string answer = answerDocument(verdict, kReceipt);
    EXPECT_TRUE(validAgainst(answer, "RispostaCaricamento.dtd"));
    const auto reading = readAsTheProgramDoes(answer);
    EXPECT_FALSE(reading.accepted);
    EXPECT_FALSE(reading.requestLevel);
    EXPECT_EQ(reading.code, "202");
    EXPECT_EQ(reading.description, verdict.patientText);
}

TEST(AnswerTest, FaultyAnswersAreRefusedByTheReader) {
    const std::string noCodes = answerWithoutCodes(acceptedVerdict(), kReceipt);
    EXPECT_THAT(noCodes, HasSubstr("SYSTEM \"dtdUnknown.dtd\""));
    EXPECT_TRUE(validAgainst(noCodes, "dtdUnknown.dtd"));
    EXPECT_FALSE(validAgainst(noCodes, "RispostaCaricamento.dtd"));
    const auto noCodesReading = readAsTheProgramDoes(noCodes);
    EXPECT_TRUE(noCodesReading.wellFormed);
    EXPECT_FALSE(noCodesReading.accepted);
    EXPECT_EQ(noCodesReading.code, "empty");

    const auto malformed = readAsTheProgramDoes(malformedAnswer(kReceipt));
    EXPECT_FALSE(malformed.wellFormed);
    EXPECT_FALSE(malformed.accepted);

    const std::string oversize = oversizeAnswer(acceptedVerdict(), kReceipt);
    EXPECT_GT(oversize.size(), std::size_t{16} << 20);
    EXPECT_TRUE(readAsTheProgramDoes(oversize).accepted);
}

TEST(AnswerTest, TextsAreEscaped) {
    Verdict verdict;
    verdict.requestCode = "102";
    verdict.requestText = "a < b & \"c\" > d\x01";
    const std::string answer = answerDocument(verdict, kReceipt);
    EXPECT_THAT(answer, HasSubstr("a &lt; b &amp; &quot;c&quot; &gt; d "));
    EXPECT_EQ(readAsTheProgramDoes(answer).description, "a < b & \"c\" > d ");
    EXPECT_THAT(answer, StartsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"));
}

TEST(AnswerTest, UnknownFormDocumentTypeTakesOtherOrders) {
    const std::string answer =
        "<?xml version=\"1.0\"?><vekRisposta versione=\"2\"><vekMessaggio>servizio "
        "<vekDettaglio>x</vekDettaglio></vekMessaggio><vekPazienti><vekPaziente><vekCodiceErrore/>"
        "</vekPaziente></vekPazienti><vekCodiceErrore>7</vekCodiceErrore></vekRisposta>";
    EXPECT_TRUE(validAgainst(answer, "dtdUnknown.dtd"));
}

}  // namespace
}  // namespace kvt::collector
