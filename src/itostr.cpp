#include "itostr.h"

#include <cmath>
#include <cstdio>

namespace {

const int MAX_DECIMALS = 9;  // 10^9 is the largest power of ten in an int

// Truncation toward zero to an int; values an int cannot hold (and NaN)
// saturate instead of being undefined.
long long truncate_saturated(double D)
{
  if (std::isnan(D)) return 0;
  if (D >= 9.2e18) return 9200000000000000000LL;
  if (D <= -9.2e18) return -9200000000000000000LL;
  return static_cast<long long>(D);
}

std::string lltostr(long long X)
{
  char Buffer[32];
  std::snprintf(Buffer, sizeof Buffer, "%lld", X);
  return Buffer;
}

}  // namespace

std::string itostr(int X)
{
  char Buffer[50];
  std::snprintf(Buffer, sizeof Buffer, "%d", X);
  return Buffer;
}

std::string ftostr(double D)
{
  // "%f" of a very large double is longer than any fixed buffer: size it.
  int Len = std::snprintf(nullptr, 0, "%f", D);
  if (Len < 0) return std::string();
  std::string Text(static_cast<size_t>(Len) + 1, '\0');
  std::snprintf(&Text[0], Text.size(), "%f", D);
  Text.resize(static_cast<size_t>(Len));
  return Text;
}

std::string ftostr(double D, int Decimals)
{
  if (Decimals < 0) Decimals = 0;
  if (Decimals > MAX_DECIMALS) Decimals = MAX_DECIMALS;
  if (Decimals == 0) return lltostr(truncate_saturated(D));

  bool Negative = D < 0;
  double A = Negative ? -D : D;
  long long M = 1;
  for (int i = 0; i < Decimals; ++i) M *= 10;

  std::string Digits = lltostr(truncate_saturated(static_cast<double>(M) * A) % M);
  if (Digits.size() < static_cast<size_t>(Decimals))
    Digits.insert(0, static_cast<size_t>(Decimals) - Digits.size(), '0');
  return (Negative ? "-" : "") + lltostr(truncate_saturated(A)) + "." + Digits;
}

std::string ftostr_figs(double D, int Figs)
{
  long long DeciFigs = 0;  // 0, negatives and NaN have no logarithm: no decimals
  if (D > 0) {
    // Clamped so that an infinite or tiny D cannot overflow the arithmetic.
    double Whole = std::fmax(-1000.0, std::fmin(1000.0, std::log(D) / 2.302585092994046));
    long long WholeFigs = static_cast<long long>(Whole) - 1;
    DeciFigs = static_cast<long long>(Figs) - WholeFigs;
  }
  if (DeciFigs < 0) DeciFigs = 0;
  if (DeciFigs > MAX_DECIMALS) DeciFigs = MAX_DECIMALS;
  return ftostr(D, static_cast<int>(DeciFigs));
}

std::string get_unitized_string(double Value, const std::string& Units)
{
  static const struct {
    double limit;
    double divisor;
    const char* suffix;
  } Rows[] = {
      {1000.0, 1.0, " "},
      {1000000.0, 1000.0, " K"},
      {1000000000.0, 1000000.0, " M"},
      {1000000000000.0, 1000000000.0, " G"},
  };
  for (const auto& Row : Rows)
    if (Value < Row.limit) return ftostr_figs(Value / Row.divisor, 2) + Row.suffix + Units;
  return lltostr(truncate_saturated(Value / 1000000000000.0)) + " T" + Units;
}
