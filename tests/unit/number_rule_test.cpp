// Command-line numbers behave as on the board, whose long is 32 bits.
#include <gtest/gtest.h>

#include "cli/cli.h"

namespace {

TEST(NumberRule, BaseZeroReadsHexOctalAndDecimal) {
  EXPECT_EQ(parse_number("0x1000", 0).value, 0x1000u);
  EXPECT_EQ(parse_number("0X1f", 0).value, 0x1Fu);
  EXPECT_EQ(parse_number("010", 0).value, 8u);
  EXPECT_EQ(parse_number("16000", 0).value, 16000u);
  EXPECT_EQ(parse_number("  42", 0).value, 42u);
}

TEST(NumberRule, BaseTenReadsALeadingZeroAsDecimal) {
  EXPECT_EQ(parse_number("010", 10).value, 10u);
}

TEST(NumberRule, ConversionStopsAtTheFirstForeignCharacter) {
  NumberWord number = parse_number("0x12zz", 0);
  EXPECT_EQ(number.value, 0x12u);
  EXPECT_TRUE(number.hasDigits);
  NumberWord word = parse_number("-w", 0);
  EXPECT_EQ(word.value, 0u);
  EXPECT_FALSE(word.hasDigits);
}

TEST(NumberRule, NegativeValuesKeepTheirTwosComplementBits) {
  EXPECT_EQ(parse_number("-5", 0).value, 0xFFFFFFFBu);
  EXPECT_FALSE(parse_number("-5", 0).rangeError);
}

TEST(NumberRule, OutsideSigned32BitsGivesTheNearestLimitAndARangeError) {
  NumberWord twoToThe31 = parse_number("0x80000000", 0);
  EXPECT_EQ(twoToThe31.value, 0x7FFFFFFFu);
  EXPECT_TRUE(twoToThe31.rangeError);

  NumberWord wide = parse_number("0x123456789", 0);
  EXPECT_EQ(wide.value, 0x7FFFFFFFu);
  EXPECT_TRUE(wide.rangeError);

  NumberWord low = parse_number("-2147483649", 0);
  EXPECT_EQ(low.value, 0x80000000u);
  EXPECT_TRUE(low.rangeError);

  NumberWord huge = parse_number("99999999999999999999999", 0);
  EXPECT_EQ(huge.value, 0x7FFFFFFFu);
  EXPECT_TRUE(huge.rangeError);

  NumberWord largest = parse_number("0x7FFFFFFF", 0);
  EXPECT_EQ(largest.value, 0x7FFFFFFFu);
  EXPECT_FALSE(largest.rangeError);
}

}  // namespace
