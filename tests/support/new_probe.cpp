#include "new_probe.h"

#include <cstdlib>
#include <new>

long new_probe_calls = 0;
bool new_probe_fail = false;

// The replacements pair malloc with free on purpose; GCC, seeing both
// inlined, takes the pair for a new/free mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t Size)
{
  ++new_probe_calls;
  if (!new_probe_fail)
    if (void* P = std::malloc(Size ? Size : 1)) return P;
  throw std::bad_alloc();
}
void operator delete(void* P) noexcept { std::free(P); }
void operator delete(void* P, std::size_t) noexcept { std::free(P); }
#pragma GCC diagnostic pop
