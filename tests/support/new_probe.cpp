#include "new_probe.h"

#include <cstdlib>
#include <new>

long new_probe_calls = 0;
bool new_probe_fail = false;

namespace {

void* probed_alloc(std::size_t Size) noexcept
{
  ++new_probe_calls;
  return new_probe_fail ? nullptr : std::malloc(Size ? Size : 1);
}

void* probed_new(std::size_t Size)
{
  if (void* P = probed_alloc(Size)) return P;
  throw std::bad_alloc();
}

}  // namespace

// Every form without an alignment is replaced, so that what one form
// allocates another can free; the replacements pair malloc with free on
// purpose, which GCC, seeing both inlined, takes for a new/free mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t Size) { return probed_new(Size); }
void* operator new[](std::size_t Size) { return probed_new(Size); }
void* operator new(std::size_t Size, const std::nothrow_t&) noexcept { return probed_alloc(Size); }
void* operator new[](std::size_t Size, const std::nothrow_t&) noexcept { return probed_alloc(Size); }
void operator delete(void* P) noexcept { std::free(P); }
void operator delete[](void* P) noexcept { std::free(P); }
void operator delete(void* P, std::size_t) noexcept { std::free(P); }
void operator delete[](void* P, std::size_t) noexcept { std::free(P); }
void operator delete(void* P, const std::nothrow_t&) noexcept { std::free(P); }
void operator delete[](void* P, const std::nothrow_t&) noexcept { std::free(P); }
#pragma GCC diagnostic pop
