// Number texts: thousands groups, plain figures and rounded percentages.
#include <cstdint>

#include "test_support.h"

namespace {
std::string T(int64_t v) { return S(FormatThousands(v)); }
std::string P(int64_t part, int64_t whole) { return S(FormatPercent(part, whole)); }
}  // namespace

TEST_F(Isolated, FormatThousandsGroupsEveryThreeDigits) {
  ThousandsSeparator = ',';
  EXPECT_EQ(T(0), "0");
  EXPECT_EQ(T(7), "7");
  EXPECT_EQ(T(999), "999");
  EXPECT_EQ(T(1000), "1,000");
  EXPECT_EQ(T(12288), "12,288");
  EXPECT_EQ(T(100000), "100,000");
  EXPECT_EQ(T(1234567), "1,234,567");
  EXPECT_EQ(T(999999999999999), "999,999,999,999,999");
  EXPECT_EQ(T(-1), "-1");
  EXPECT_EQ(T(-1000), "-1,000");
  EXPECT_EQ(T(-999999), "-999,999");
}

TEST_F(Isolated, FormatThousandsKeepsEveryDigitOfLargeValues) {
  // A petabyte share or a large drive's capacity needs more than 20 characters; no digit may
  // be lost and no sign dropped.
  ThousandsSeparator = ',';
  EXPECT_EQ(T(1000000000000000), "1,000,000,000,000,000");
  EXPECT_EQ(T(INT64_MAX), "9,223,372,036,854,775,807");
  EXPECT_EQ(T(INT64_MIN), "-9,223,372,036,854,775,808");
  EXPECT_EQ(T(-1000000000000000), "-1,000,000,000,000,000");
}

TEST_F(Isolated, FormatThousandsUsesTheLocaleSeparator) {
  ThousandsSeparator = '.';
  EXPECT_EQ(T(1234567), "1.234.567");
  ThousandsSeparator = ' ';
  EXPECT_EQ(T(2147155968), "2 147 155 968");
}

TEST(FormatPlain, SignedDecimalWithoutSeparators) {
  EXPECT_EQ(S(FormatPlain(0)), "0");
  EXPECT_EQ(S(FormatPlain(1234567)), "1234567");
  EXPECT_EQ(S(FormatPlain(-42)), "-42");
  EXPECT_EQ(S(FormatPlain(INT64_MAX)), "9223372036854775807");
  EXPECT_EQ(S(FormatPlain(INT64_MIN)), "-9223372036854775808");
}

TEST(FormatPercent, ZeroWholeGivesTwoCharacters) {
  EXPECT_EQ(P(0, 0), "0%");
  EXPECT_EQ(P(5, 0), "0%");
}

TEST(FormatPercent, RightJustifiedInThreeCharacters) {
  EXPECT_EQ(P(0, 4096), "  0%");
  EXPECT_EQ(P(6144, 12288), " 50%");
  EXPECT_EQ(P(12345, 1236992), "  1%");
  EXPECT_EQ(P(40000, 503808), "  8%");
  EXPECT_EQ(P(60489, 2957312), "  2%");
  EXPECT_EQ(P(1073741824, 2147155968), " 50%");
  EXPECT_EQ(P(4032, 4096), " 98%");
}

TEST(FormatPercent, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(P(1, 200), "  0%");   // 0.5
  EXPECT_EQ(P(3, 200), "  2%");   // 1.5
  EXPECT_EQ(P(5, 200), "  2%");   // 2.5
  EXPECT_EQ(P(7, 200), "  4%");   // 3.5
  EXPECT_EQ(P(25, 200), " 12%");  // 12.5
  EXPECT_EQ(P(1, 199), "  1%");   // just over a half
}

TEST(FormatPercent, ShareOfAHundredOrMoreIsAHundred) {
  EXPECT_EQ(P(199, 200), "100%");  // 99.5 rounds to 100
  EXPECT_EQ(P(4096, 4096), "100%");
  EXPECT_EQ(P(9000, 4096), "100%");
  EXPECT_EQ(P(INT64_MAX, 1), "100%");
}

TEST(FormatPercent, LargeFiguresStayExactEnough) {
  // Drive figures of terabytes: the product part * 100 must not overflow.
  EXPECT_EQ(P(INT64_MAX / 4, INT64_MAX), " 25%");
  EXPECT_EQ(P(248810012672LL, 270553174016LL), " 92%");
}
