// The agent's dispatcher serving a contact unit: the command lines the UPS
// service sends, answered by a PcProtocol on scripted modem lines.

#include <algorithm>
#include <string>
#include <vector>

#include "agent/command_dispatcher.h"
#include "agent/media/i_media.h"
#include "agent/protocol/pc_protocol.h"
#include "gtest/gtest.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_platform_factory.h"
#include "tests/support/scripted_media.h"

namespace {

// A contact unit whose lines answer while RTS feeds them (and under break)
// as `fed` and `under_break` say.
TEST(PcProtocolDispatcherTest, ServesFactsAlarmsAndTheShutdownSequence) {
  FakeClock clock;
  ScriptedMedia media;  // outlives the device, as the factory's would
  media.AttachClock(&clock);
  int32_t fed = pin::kDcd | pin::kCts;
  const int32_t under_break = pin::kDcd | pin::kCts;
  media.SetLineModel([&fed, under_break](int32_t driven, int) {
    if (driven & pin::kBreak) return under_break;
    return (driven & pin::kRts) ? fed : 0;
  });
  FakePlatformFactory platform;
  MediaSelection selection{2, 1};
  CommandDispatcher dispatcher(&platform, &selection);
  PcProtocol protocol_object(&media, &clock);
  PcProtocol* protocol = &protocol_object;
  // Dispatches one line and returns the one reply line.
  auto ask = [&](const std::string& line) {
    std::string reply;
    dispatcher.Dispatch(line, false, protocol, &reply);
    EXPECT_EQ(1, std::count(reply.begin(), reply.end(), '\n'))
        << "for line '" << line << "'";
    if (!reply.empty() && reply.back() == '\n') reply.pop_back();
    return reply;
  };

  const char* const exchanges[][2] = {
      {"R12", "R12 Generic UPS"}, {"R22", "R22 1"},   {"R21", "R21 0"},
      {"S12", "S12 1"},           {"S10", "S10 0"},   {"S0", "S0E 1"},
      {"C0 10", "C0E 1"},         {"C2 -1", "C2E 1"},
  };
  for (const auto& exchange : exchanges)
    EXPECT_EQ(ask(exchange[0]), exchange[1]);
  ASSERT_EQ(protocol->Poll(), 0);
  EXPECT_EQ(ask("S7"), "S7 0");
  EXPECT_EQ(ask("S8"), "S8 0");
  // Mains and battery both gone while the unit still answers under break.
  fed = 0;
  ASSERT_EQ(protocol->Poll(), 0);
  EXPECT_EQ(ask("S7"), "S7 1");
  EXPECT_EQ(ask("S8"), "S8 1");

  // Back on mains, the shutdown blocks for its whole line sequence.
  fed = pin::kDcd | pin::kCts;
  ASSERT_EQ(protocol->Poll(), 0);
  EXPECT_EQ(media.driven_pins() & pin::kDtr, 0);
  clock.ClearPauses();
  EXPECT_EQ(ask("C2 30"), "C2");
  EXPECT_EQ(clock.pauses(), (std::vector<int32_t>{5000, 4000, 15000}));
  EXPECT_EQ(media.driven_pins() & pin::kDtr, pin::kDtr);
}

}  // namespace
