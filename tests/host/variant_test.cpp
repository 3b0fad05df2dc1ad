#include <gtest/gtest.h>

#include "common/errors.h"
#include "common/workstation.h"
#include "host/automation.h"

namespace kvt::automation {
namespace {

class VariantTest : public ::testing::Test {
  protected:
    void TearDown() override { setDecimalSeparatorSource(nullptr); }
};

TEST_F(VariantTest, ToTextGivesEveryKindItsUsualForm) {
    EXPECT_EQ(Variant().toText(), "");
    EXPECT_EQ(Variant::text("").toText(), "");
    EXPECT_EQ(Variant::text("Città \"Sant'Elia\"").toText(), "Città \"Sant'Elia\"");
    EXPECT_EQ(Variant::integer(-42).toText(), "-42");
    EXPECT_EQ(Variant::integer(9000000000).toText(), "9000000000");
    EXPECT_EQ(Variant::boolean(true).toText(), "True");
    EXPECT_EQ(Variant::boolean(false).toText(), "False");
}

TEST_F(VariantTest, NullAndMissingCannotBecomeText) {
    EXPECT_THROW(Variant::null().toText(), Error);
    EXPECT_THROW(Variant::missing().toText(), Error);
}

TEST_F(VariantTest, FloatingUsesFifteenDigitsAndTheWorkstationSeparator) {
    setDecimalSeparatorSource([] { return std::string(","); });
    EXPECT_EQ(Variant::floating(3.5).toText(), "3,5");
    EXPECT_EQ(Variant::floating(0.1 + 0.2).toText(), "0,3");
    EXPECT_EQ(Variant::floating(120).toText(), "120");
    EXPECT_EQ(Variant::floating(-0.0).toText(), "0");
    EXPECT_EQ(Variant::floating(1e20).toText(), "1E+20");
    EXPECT_EQ(Variant::floating(1.5e-7).toText(), "1,5E-07");

    setDecimalSeparatorSource([] { return std::string("."); });
    EXPECT_EQ(Variant::floating(-72.25).toText(), "-72.25");
    // Without a source of its own, the workstation's separator (the locale's).
    setDecimalSeparatorSource(nullptr);
    EXPECT_EQ(Variant::floating(-72.25).toText(), "-72" + workstation::decimalSeparator() + "25");
}

TEST_F(VariantTest, DatesShowTheTimeOnlyWhenThereIsOne) {
    EXPECT_EQ(Variant::date({2024, 3, 7}).toText(), "07/03/2024");
    EXPECT_EQ(Variant::date({2024, 3, 7, 9, 5, 0}).toText(), "07/03/2024 09:05:00");
    // The zero day carries a time of day alone.
    EXPECT_EQ(Variant::date({1899, 12, 30, 14, 30, 15}).toText(), "14:30:15");
    EXPECT_EQ(Variant::date({}).toText(), "00:00:00");
}

TEST_F(VariantTest, ToIntegerAcceptsWholeNumbersOnly) {
    EXPECT_EQ(Variant().toInteger(), 0);
    EXPECT_EQ(Variant::text("1523").toInteger(), 1523);
    EXPECT_EQ(Variant::text(" -7\t").toInteger(), -7);
    EXPECT_EQ(Variant::text("+8").toInteger(), 8);
    EXPECT_EQ(Variant::text("-2147483648").toInteger(), INT32_MIN);
    EXPECT_EQ(Variant::integer(2147483647).toInteger(), INT32_MAX);
    EXPECT_EQ(Variant::floating(2.5).toInteger(), 2);
    EXPECT_EQ(Variant::floating(3.5).toInteger(), 4);
    EXPECT_EQ(Variant::boolean(true).toInteger(), -1);

    for (const char* text : {"", " ", "abc", "12a", "1 2", "-", "3,5", "2147483648"}) {
        EXPECT_THROW(Variant::text(text).toInteger(), Error) << text;
    }
    EXPECT_THROW(Variant::integer(2147483648).toInteger(), Error);
    EXPECT_THROW(Variant::floating(1e12).toInteger(), Error);
    EXPECT_THROW(Variant::null().toInteger(), Error);
    EXPECT_THROW(Variant::missing().toInteger(), Error);
    EXPECT_THROW(Variant::date({2024, 1, 1}).toInteger(), Error);
}

}  // namespace
}  // namespace kvt::automation
