// The MT19937 Mersenne Twister with the first published (linear) seeding,
// drawing reals in the closed interval [0, 1].
#pragma once

#include <cstdint>

class rngen {
 public:
  rngen();  // never seeded: the first draw seeds with 4357

  // Seeds with S as an unsigned 32-bit value; 0 counts as 1.
  void seed(unsigned long S);

  // One tempered word divided by 4294967295.0: exactly 0.0 and 1.0 occur.
  void operator>>(double& D);
  double get();
  // An index in [0, Size) from one draw; a draw of 1.0, and Size <= 0, give 0.
  int get_index(int Size);
  // Marsaglia's polar method: a normal deviate scaled by Variance (which acts
  // as the standard deviation) and shifted by Bias.
  double gauss(double Variance, double Bias);

 private:
  static const int N = 624;
  uint32_t mt[N];
  int mti;  // next word to hand out; N: regenerate first; N + 1: never seeded

  void regenerate();
};
