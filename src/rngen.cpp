#include "rngen.h"

#include <cmath>

namespace {

const int M = 397;
const uint32_t UPPER_MASK = 0x80000000u;
const uint32_t LOWER_MASK = 0x7fffffffu;
const uint32_t MATRIX_A = 0x9908b0dfu;
const uint32_t DEFAULT_SEED = 4357;

uint32_t temper(uint32_t Y)
{
  Y ^= Y >> 11;
  Y ^= (Y << 7) & 0x9d2c5680u;
  Y ^= (Y << 15) & 0xefc60000u;
  Y ^= Y >> 18;
  return Y;
}

}  // namespace

rngen::rngen() : mti(N + 1) {}

void rngen::seed(unsigned long S)
{
  uint32_t Word = static_cast<uint32_t>(S);
  if (Word == 0) Word = 1;
  mt[0] = Word;
  for (int i = 1; i < N; ++i) mt[i] = mt[i - 1] * 69069u;
  mti = N;
}

void rngen::regenerate()
{
  static const uint32_t mag01[2] = {0x0u, MATRIX_A};
  int kk = 0;
  for (; kk < N - M; ++kk) {
    uint32_t Y = (mt[kk] & UPPER_MASK) | (mt[kk + 1] & LOWER_MASK);
    mt[kk] = mt[kk + M] ^ (Y >> 1) ^ mag01[Y & 0x1u];
  }
  for (; kk < N - 1; ++kk) {
    uint32_t Y = (mt[kk] & UPPER_MASK) | (mt[kk + 1] & LOWER_MASK);
    mt[kk] = mt[kk + (M - N)] ^ (Y >> 1) ^ mag01[Y & 0x1u];
  }
  uint32_t Y = (mt[N - 1] & UPPER_MASK) | (mt[0] & LOWER_MASK);
  mt[N - 1] = mt[M - 1] ^ (Y >> 1) ^ mag01[Y & 0x1u];
  mti = 0;
}

void rngen::operator>>(double& D)
{
  if (mti >= N) {
    if (mti == N + 1) seed(DEFAULT_SEED);
    regenerate();
  }
  uint32_t Y = temper(mt[mti++]);
  D = static_cast<double>(Y) / 4294967295.0;
}

double rngen::get()
{
  double D;
  *this >> D;
  return D;
}

int rngen::get_index(int Size)
{
  int Index = static_cast<int>(Size * get());
  if (Index >= Size) Index = 0;
  return Index;
}

double rngen::gauss(double Variance, double Bias)
{
  double X, Y, R;
  do {
    X = 2.0 * get() - 1.0;
    Y = 2.0 * get() - 1.0;
    R = X * X + Y * Y;
  } while (R == 0.0 || R > 1.0);
  double Z = std::sqrt(-2.0 * std::log(R) / R);
  return X * Z * Variance + Bias;
}
