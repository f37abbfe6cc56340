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

TEST(FormatUnits, OneDecimalInTheFirstUnitBelow1024) {
  struct Case {
    int64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0 B"},
      {512, "512 B"},
      {1023, "1023 B"},
      {1024, "1.0 K"},
      {12595, "12.3 K"},  // 12.2998
      {1536, "1.5 K"},
      {1075, "1.0 K"},        // 1.0498: below the half
      {1076, "1.1 K"},        // 1.0508
      {1048524, "1023.9 K"},  // 1023.949 is still below 1023.95
      {1048525, "1.0 M"},     // 1023.95 rounds to 1024.0: the next unit
      {4194304, "4.0 M"},
      {1288490189, "1.2 G"},
      {3738339534848LL, "3.4 T"},
      {5LL << 50, "5.0 P"},
      {INT64_MAX, "8.0 E"},
      {-2048, "-2.0 K"},
  };
  for (const Case& c : cases) EXPECT_EQ(S(FormatUnits(c.bytes)), c.text) << c.bytes;
}

TEST(FormatUnits, HalvesOfATenthGoToTheEvenNeighbour) {
  EXPECT_EQ(S(FormatUnits(1280)), "1.2 K");  // 1.25 exactly: even 1.2
  EXPECT_EQ(S(FormatUnits(1281)), "1.3 K");  // just over the half
  EXPECT_EQ(S(FormatUnits(1792)), "1.8 K");  // 1.75 exactly: even 1.8
}
