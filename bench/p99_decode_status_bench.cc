// Time and allocations of P99Proxy::DecodeStatus once a unit is identified
// and its settings are cached: the work of every poll period.
//
// Run: build/<dir>/bench/p99_decode_status_bench

#include <cstdint>

#include "agent/protocol/p99_protocol.h"
#include "agent/protocol/p99_proxy.h"
#include "benchmark/benchmark.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_p99_unit.h"
#include "tests/support/scripted_media.h"

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
  const int64_t allocations_before = AllocationCount();
  for (auto _ : state) {
    const int32_t code = proxy->DecodeStatus(frames[decodes & 1]);
    benchmark::DoNotOptimize(code);
    ++decodes;
  }
  const int64_t allocations = AllocationCount() - allocations_before;
  state.counters["allocations"] = static_cast<double>(allocations);
  if (allocations != 0) state.SkipWithError("DecodeStatus allocated");
}
BENCHMARK(BM_DecodeStatus);

}  // namespace

BENCHMARK_MAIN();
