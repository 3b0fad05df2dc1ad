// PSHLib through its three exports, as the program and any other client see it.
#include "pshlib/pshlib.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "pshlib/loaded_library.h"
#include "pshlib/pshlib_client.h"

namespace {

using ::testing::StartsWith;
using namespace kvt::test;

constexpr const char* kEmptyDigest = "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709";

std::string calc(const char* code) {
    const char* result = PSHCalc(code);
    return result != nullptr ? std::string(result) : std::string("(null)");
}

TEST(PSHCalc, IsTheSha1OfTheNormalisedCode) {
    EXPECT_EQ(calc("RSSMRA80A01H501U"), "8323195B26C1A58BC9E7D632C110BBCB25B33CD0");
    EXPECT_EQ(calc("VRDGPP85T10F205X"), "C7E27E3B214F89E109AB27C8F4C94D8437A1BEC0");
    // "abc" is hashed as "ABC": the published digest of "abc" must not come out.
    EXPECT_EQ(calc("abc"), "3C01BDBB26F358BAB27F267924AA2C9A03FCFDB8");
    EXPECT_NE(calc("abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

// The same bytes give the same pseudonym on every platform.
TEST(PSHCalc, GivesThePseudonymsOfTheSharedVectors) {
    for (const PseudonymVector& vector : kPseudonymVectors) {
        EXPECT_EQ(calc(bytesOfHex(vector.codeHex).c_str()), vector.pseudonym) << vector.codeHex;
    }
}

TEST(PSHCalc, NullEmptyAndBlankTextsGiveTheDigestOfTheEmptyText) {
    EXPECT_EQ(calc(nullptr), kEmptyDigest);
    EXPECT_EQ(calc(""), kEmptyDigest);
    EXPECT_EQ(calc("   "), kEmptyDigest);
    EXPECT_EQ(calc(" \t\r\n\x01\x1F "), kEmptyDigest);
}

TEST(PSHCalc, BlanksControlCharactersAndAsciiCaseDoNotChangeThePseudonym) {
    const std::string plain = calc("RSSMRA80A01H501U");
    EXPECT_EQ(calc("  RSSMRA80A01H501U  "), plain);
    EXPECT_EQ(calc("\t\r\nRSSMRA80A01H501U\r\n"), plain);
    EXPECT_EQ(calc("\x01\x1F RSSMRA80A01H501U\x1F"), plain);
    EXPECT_EQ(calc("rssmra80a01h501u"), plain);
    EXPECT_EQ(calc(" RssMra80a01H501u\n"), plain);
}

TEST(PSHCalc, KeepsEveryOtherByte) {
    // Inner blanks stay.
    EXPECT_EQ(calc("RSS MRA"), "AF31CD04EFD8107692E2846B614D6C04CA0B9708");
    // DEL (127) and bytes above 127 are not blanks, also at the ends.
    EXPECT_EQ(calc("ABC\x7F"), "455B6BDAC512C7746000EE8445F4DDF871BD9C3F");
    EXPECT_EQ(calc("\xA0"
                   "ABC"),
              "2F289A6F9FE4253912A393C554EF9BEE57373D59");
    EXPECT_NE(calc("\xA0"
                   "ABC"),
              calc("ABC"));
}

TEST(PSHCalc, DoesNotUpperCaseAccentedLetters) {
    // Windows-1252: 0xE0 is a grave a, 0xC0 its capital.
    EXPECT_EQ(calc("\xE0"), "C2204EDBFB1B72C9E996A5E6464F6AB0198C494F");
    EXPECT_EQ(calc("\xC0"), "2149AA9E07DDA9BBF502E088D8D0A38E8FB94F2E");
    EXPECT_EQ(calc("n\xC0rd"), "5DAE76B98A33E9DB564142BC23BAFEB949659117");
}

TEST(PSHCalc, AlwaysGivesFortyUpperCaseHexadecimalDigits) {
    std::string everyByte;
    for (int c = 1; c < 256; ++c) {
        everyByte += static_cast<char>(c);
    }
    for (const std::string& code :
         {std::string("X"), std::string(1000, 'z'), everyByte, std::string("\xFF\xFE")}) {
        const std::string pseudonym = calc(code.c_str());
        EXPECT_EQ(pseudonym.size(), 40u) << code.size();
        EXPECT_EQ(pseudonym.find_first_not_of("0123456789ABCDEF"), std::string::npos) << pseudonym;
    }
}

TEST(PSHCalc, OverwritesItsOneResultBuffer) {
    const char* first = PSHCalc("A");
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "6DCD4CE23D88E2EE9568BA546C007C63D9131C1B");
    const char* second = PSHCalc("B");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "AE4F281DF5A5D0FF3CAD6371F76D5C29B6D953EC");
}

TEST(PSHVersion, IsTheBuildsProductVersion) {
    const char* version = PSHVersion();
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version, "1.0.0.2");
    EXPECT_STREQ(PSHVersion(), "1.0.0.2");
}

#if !defined(_WIN32)
// On Windows PSHAbout is a message box.
TEST(PSHAbout, WritesNameVersionAndNoticeToStandardError) {
    ::testing::internal::CaptureStderr();
    PSHAbout();
    const std::string text = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(text, StartsWith("PSH Library V.1.0.0.2\n" + std::string(37, '_') + "\n\n"));
    EXPECT_NE(text.find("2026"), std::string::npos);
    EXPECT_NE(text.find("vd_kvt"), std::string::npos);
}
#endif

// A copy of the library without its version record, made by the build.
TEST(LibraryWithoutVersionRecord, ReportsTheUnknownVersionAndStillHashes) {
    LoadedLibrary library(PSHLIB_NOVERSION_PATH);
    ASSERT_TRUE(library.loaded()) << library.error();
    const auto version = library.entry<PSHVersionFunction>("PSHVersion");
    const auto calculate = library.entry<PSHCalcFunction>("PSHCalc");
    ASSERT_NE(version, nullptr);
    ASSERT_NE(calculate, nullptr);
    EXPECT_STREQ(version(), "1.00");
    EXPECT_STREQ(calculate(" rssmra80a01h501u"), "8323195B26C1A58BC9E7D632C110BBCB25B33CD0");
    // The copy's buffers are its own.
    EXPECT_STREQ(PSHVersion(), "1.0.0.2");
    EXPECT_TRUE(library.unload());
}

}  // namespace
