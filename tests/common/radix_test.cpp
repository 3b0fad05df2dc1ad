#include "common/radix.h"

#include <gtest/gtest.h>

#include "common/errors.h"

namespace kvt {
namespace {

class RadixTest : public ::testing::Test {
  protected:
    void SetUp() override { ultimoErrore(); }
};

TEST_F(RadixTest, String2intReadsEveryRadixAndSign) {
    EXPECT_EQ(string2int("ff", 16), 255);
    EXPECT_EQ(string2int("-101", 2), -5);
    EXPECT_EQ(string2int("Z", 36), 35);
    EXPECT_EQ(string2int("z", 36), 35);
    EXPECT_EQ(ultimoErrore(), "");
}

TEST_F(RadixTest, String2intWrapsAroundWithoutError) {
    EXPECT_EQ(string2int("4294967297", 10), 1);
    EXPECT_EQ(string2int("2147483648", 10), INT32_MIN);
    EXPECT_EQ(ultimoErrore(), "");
}

TEST_F(RadixTest, String2intRecordsItsErrors) {
    EXPECT_EQ(string2int("12", 1), 0);
    EXPECT_EQ(ultimoErrore(),
              "Tools.string2int(12, 1): radice conversione non consentita ( deve essere >= 2 e "
              "<= 36 )");
    EXPECT_EQ(string2int("12", 37), 0);
    EXPECT_EQ(ultimoErrore(),
              "Tools.string2int(12, 37): radice conversione non consentita ( deve essere >= 2 e "
              "<= 36 )");
    EXPECT_EQ(string2int("19", 8), 0);
    EXPECT_EQ(ultimoErrore(), "Tools.string2int(19, 8): carattere non consentito");
    EXPECT_EQ(string2int("1 2", 10), 0);
    EXPECT_EQ(ultimoErrore(), "Tools.string2int(1 2, 10): carattere non consentito");
    EXPECT_EQ(string2int("+5", 10), 0);
    EXPECT_EQ(ultimoErrore(), "Tools.string2int(+5, 10): carattere non consentito");
    EXPECT_EQ(ultimoErrore(), "");
}

TEST_F(RadixTest, String2intEmptyAndLoneMinusGiveZeroSilently) {
    EXPECT_EQ(string2int("", 10), 0);
    EXPECT_EQ(string2int("-", 10), 0);
    EXPECT_EQ(ultimoErrore(), "");
}

TEST_F(RadixTest, SuccessDoesNotClearAnOlderError) {
    string2int("x", 10);
    EXPECT_EQ(string2int("7", 10), 7);
    EXPECT_NE(ultimoErrore(), "");
}

TEST_F(RadixTest, String2hexTwoDigitsPerCodeUnit) {
    EXPECT_EQ(string2hex("12"), "3132");
    EXPECT_EQ(string2hex(""), "");
    EXPECT_EQ(string2hex("\xC3\xBF"), "FF");     // U+00FF
    EXPECT_EQ(string2hex("\xC4\x80"), "0");      // U+0100: only the low digit
    EXPECT_EQ(string2hex("\xE2\x82\xAC"), "C");  // U+20AC
}

TEST_F(RadixTest, Str2intBlankIsZeroAndTrailingGarbageRaises) {
    EXPECT_EQ(str2int(""), 0);
    EXPECT_EQ(str2int("   "), 0);
    EXPECT_EQ(str2int(" 7"), 7);
    EXPECT_EQ(str2int("-12"), -12);
    EXPECT_THROW(str2int("7 "), ConversionError);
    EXPECT_THROW(str2int("abc"), ConversionError);
    EXPECT_THROW(str2int("2 "), ConversionError);
    EXPECT_THROW(str2int("2147483648"), ConversionError);
    EXPECT_EQ(str2int("-2147483648"), INT32_MIN);
}

}  // namespace
}  // namespace kvt
