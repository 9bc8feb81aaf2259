// DecodeStatus runs every poll period and must not allocate once the unit is
// identified and its settings are cached. This program counts every
// allocation by replacing the global operator new.

#include <cstdint>

#include "agent/protocol/p99_protocol.h"
#include "agent/protocol/p99_proxy.h"
#include "gtest/gtest.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_p99_unit.h"
#include "tests/support/scripted_media.h"

namespace {

TEST(P99DecodeAllocationTest, DecodeStatusAllocatesNothingAfterTheFirstPoll) {
  FakeClock clock;
  FakeP99Unit unit;
  ScriptedMedia media;
  unit.AttachTo(&media);
  P99Protocol protocol(&media, &clock);
  const int64_t at_start = AllocationCount();
  ASSERT_EQ(protocol.Poll(), 0);
  // The first poll fills the cells, so the counter is seen working.
  ASSERT_GT(AllocationCount(), at_start);

  const uint8_t frames[][7] = {{123, 0, 10, 197, 136, 178, 0x00},
                               {140, 0, 40, 174, 160, 219, 0x84},
                               {60, 0, 88, 151, 250, 246, 0xC3},
                               {0, 255, 255, 255, 255, 255, 0xFF}};
  const int64_t before = AllocationCount();
  for (int round = 0; round < 10; ++round) {
    for (const auto& frame : frames) {
      ASSERT_EQ(protocol.proxy()->DecodeStatus(frame), 0);
    }
  }
  EXPECT_EQ(AllocationCount() - before, 0);
}

}  // namespace
