// Numbers to text for keys and messages.
#pragma once

#include <string>

std::string itostr(int X);             // "%d"
std::string ftostr(double D);          // "%f": six decimals, rounded
// Exactly Decimals decimals (clamped to 0..9), truncated, never rounded.
std::string ftostr(double D, int Decimals);
// ftostr(D, n) with n chosen from the magnitude of D to show about Figs + 2
// significant digits.
std::string ftostr_figs(double D, int Figs);
// Value scaled into a magnitude range, then " ", " K", " M", " G" or " T",
// then Units.
std::string get_unitized_string(double Value, const std::string& Units);
