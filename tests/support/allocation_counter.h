#pragma once

// Counts every allocation of the program by replacing the global operator
// new and delete, and can make non-throwing allocations fail. Include this
// header in exactly one source file of a test or benchmark program (it defines
// the replacements), then compare AllocationCount() before and after the code
// under measurement.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace allocation_counter_detail {
inline int64_t count = 0;
// How many more non-throwing allocations succeed; -1 for no limit.
inline int64_t nothrow_left = -1;
}  // namespace allocation_counter_detail

inline int64_t AllocationCount() { return allocation_counter_detail::count; }

// From now on, the first `succeeding` non-throwing allocations (new
// (std::nothrow)) succeed and every later one returns null, until
// AllowAllAllocations. Throwing allocations are never failed.
inline void FailNothrowAllocationsAfter(int64_t succeeding) {
  allocation_counter_detail::nothrow_left = succeeding;
}
inline void AllowAllAllocations() {
  allocation_counter_detail::nothrow_left = -1;
}

// The replacements are kept out of line so that the compiler does not pair
// malloc with a sized delete that it can see through.
#define KOVRA_NOINLINE __attribute__((noinline))
KOVRA_NOINLINE void* operator new(size_t size) {
  ++allocation_counter_detail::count;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
KOVRA_NOINLINE void* operator new[](size_t size) { return operator new(size); }
KOVRA_NOINLINE void* operator new(size_t size, const std::nothrow_t&) noexcept {
  ++allocation_counter_detail::count;
  int64_t& left = allocation_counter_detail::nothrow_left;
  if (left == 0) return nullptr;
  if (left > 0) --left;
  return std::malloc(size == 0 ? 1 : size);
}
KOVRA_NOINLINE void* operator new[](size_t size,
                                    const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
KOVRA_NOINLINE void operator delete(void* p) noexcept { std::free(p); }
KOVRA_NOINLINE void operator delete[](void* p) noexcept { std::free(p); }
KOVRA_NOINLINE void operator delete(void* p, size_t) noexcept { std::free(p); }
KOVRA_NOINLINE void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}
#undef KOVRA_NOINLINE
