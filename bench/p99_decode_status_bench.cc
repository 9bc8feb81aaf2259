// Time and allocations of P99Proxy::DecodeStatus once a unit is identified
// and its settings are cached: the work of every poll period.
//
// Run: build/<dir>/bench/p99_decode_status_bench

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

#include "agent/protocol/p99_protocol.h"
#include "agent/protocol/p99_proxy.h"
#include "benchmark/benchmark.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_p99_unit.h"
#include "tests/support/scripted_media.h"

namespace {
int64_t g_allocations = 0;
}  // namespace

// Every allocation of the program is counted. The replacements are kept
// out of line so that the compiler does not pair malloc and a sized delete
// it can see through.
#define KOVRA_NOINLINE __attribute__((noinline))
KOVRA_NOINLINE void* operator new(size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
KOVRA_NOINLINE void* operator new[](size_t size) { return operator new(size); }
KOVRA_NOINLINE void* operator new(size_t size, const std::nothrow_t&) noexcept {
  ++g_allocations;
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

namespace {

void BM_DecodeStatus(benchmark::State& state) {
  FakeClock clock;
  FakeP99Unit unit;
  ScriptedMedia media;
  unit.AttachTo(&media);
  P99Protocol protocol(&media, &clock);
  if (protocol.Poll() != 0) {  // identifies, selects the tables, caches
    state.SkipWithError("first poll failed");
    return;
  }
  P99Proxy* proxy = protocol.proxy();
  // Readings that move every filter a little from poll to poll.
  const uint8_t frames[2][7] = {{123, 0, 10, 197, 136, 178, 0x00},
                                {124, 0, 12, 190, 137, 179, 0x00}};
  int64_t decodes = 0;
  const int64_t allocations_before = g_allocations;
  for (auto _ : state) {
    const int32_t code = proxy->DecodeStatus(frames[decodes & 1]);
    benchmark::DoNotOptimize(code);
    ++decodes;
  }
  const int64_t allocations = g_allocations - allocations_before;
  state.counters["allocations"] = static_cast<double>(allocations);
  if (allocations != 0) state.SkipWithError("DecodeStatus allocated");
}
BENCHMARK(BM_DecodeStatus);

}  // namespace

BENCHMARK_MAIN();
