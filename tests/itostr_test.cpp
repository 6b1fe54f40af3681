#include "itostr.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

TEST(ItostrTest, PrintfFormsOfIntegersAndSixDecimals)
{
  EXPECT_EQ(itostr(-7), "-7");
  EXPECT_EQ(itostr(0), "0");
  EXPECT_EQ(itostr(INT_MIN), "-2147483648");
  EXPECT_EQ(ftostr(3.14159), "3.141590");
  EXPECT_EQ(ftostr(-2.5), "-2.500000");
  EXPECT_EQ(ftostr(0.0000016), "0.000002");  // rounded, not truncated
  EXPECT_EQ(ftostr(2.9999999), "3.000000");
  // A "%f" text longer than any small buffer comes out whole.
  std::string Huge = ftostr(1e300);
  EXPECT_EQ(Huge.size(), 301u + 7u);
  EXPECT_EQ(Huge.substr(0, 3), "100");
  EXPECT_EQ(Huge.substr(Huge.size() - 7), ".000000");
}

TEST(ItostrTest, FixedDecimalsTruncateWholeAndFractionApart)
{
  EXPECT_EQ(ftostr(2.999, 2), "2.99");
  EXPECT_EQ(ftostr(12.345, 2), "12.34");
  EXPECT_EQ(ftostr(1.5, 3), "1.500");
  EXPECT_EQ(ftostr(0.07, 2), "0.07");
  EXPECT_EQ(ftostr(-0.05, 1), "-0.0");
  EXPECT_EQ(ftostr(-1.25, 2), "-1.25");
  EXPECT_EQ(ftostr(-0.0, 2), "0.00");
  EXPECT_EQ(ftostr(5.5, 0), "5");
  EXPECT_EQ(ftostr(-5.5, 0), "-5");
  EXPECT_EQ(ftostr(-0.7, 0), "0");
  EXPECT_EQ(ftostr(0.5, 9), "0.500000000");
  EXPECT_EQ(ftostr(-2147483647.9, 0), "-2147483647");
}

TEST(ItostrTest, OutOfRangeDecimalsAndMagnitudesStayDefined)
{
  EXPECT_EQ(ftostr(1.5, -3), "1");
  EXPECT_EQ(ftostr(1.5, INT_MIN), "1");
  EXPECT_EQ(ftostr(1.5, 12), "1.500000000");
  EXPECT_EQ(ftostr(1.5, INT_MAX), "1.500000000");

  // Beyond an int's range the text is still a number with the decimals asked.
  const double Inf = std::numeric_limits<double>::infinity();
  for (double D : {1e30, -1e30, Inf, -Inf, std::nan("")}) {
    std::string Text = ftostr(D, 2);
    ASSERT_GE(Text.size(), 4u) << D;
    EXPECT_EQ(Text[Text.size() - 3], '.') << D;
    EXPECT_FALSE(ftostr(D, 0).empty()) << D;
  }
  EXPECT_EQ(ftostr(3e9, 1), "3000000000.0");
}

TEST(ItostrTest, FiguresFollowTheMagnitude)
{
  EXPECT_EQ(ftostr_figs(1.5, 2), "1.500");
  EXPECT_EQ(ftostr_figs(15, 2), "15.00");
  EXPECT_EQ(ftostr_figs(150, 2), "150.0");
  EXPECT_EQ(ftostr_figs(1500, 2), "1500");
  EXPECT_EQ(ftostr_figs(9.99, 2), "9.990");
  EXPECT_EQ(ftostr_figs(0.5, 2), "0.500");
  EXPECT_EQ(ftostr_figs(0.05, 2), "0.0500");
  EXPECT_EQ(ftostr_figs(0, 2), "0");
  EXPECT_EQ(ftostr_figs(-3.7, 2), "-3");
  EXPECT_EQ(ftostr_figs(std::nan(""), 2), "0");

  // Outside the supported range: at most nine decimals, no overflow.
  EXPECT_EQ(ftostr_figs(1e-12, 2), "0.000000000");
  EXPECT_EQ(ftostr_figs(0.5, INT_MAX), "0.500000000");
  EXPECT_EQ(ftostr_figs(1.5, INT_MIN), "1");
  EXPECT_FALSE(ftostr_figs(std::numeric_limits<double>::infinity(), 2).empty());
  EXPECT_EQ(ftostr_figs(std::numeric_limits<double>::denorm_min(), 2), "0.000000000");
}

TEST(ItostrTest, UnitizedStringsPickTheRowByStrictLimits)
{
  EXPECT_EQ(get_unitized_string(1500, "B"), "1.500 KB");
  EXPECT_EQ(get_unitized_string(999999, "B"), "999.9 KB");
  EXPECT_EQ(get_unitized_string(1234567, "B"), "1.234 MB");
  EXPECT_EQ(get_unitized_string(2.5e12, "B"), "2 TB");
  EXPECT_EQ(get_unitized_string(1000, ""), "1.000 K");
  EXPECT_EQ(get_unitized_string(999, "m"), "999.0 m");
  EXPECT_EQ(get_unitized_string(42, "px"), "42.00 px");
  EXPECT_EQ(get_unitized_string(0.5, "s"), "0.500 s");
  EXPECT_EQ(get_unitized_string(3.5e9, "Hz"), "3.500 GHz");
  EXPECT_EQ(get_unitized_string(-5, "B"), "-5 B");

  EXPECT_EQ(get_unitized_string(std::nan(""), "B"), "0 TB");
  std::string Huge = get_unitized_string(1e300, "B");
  EXPECT_EQ(Huge.substr(Huge.size() - 3), " TB");
}
