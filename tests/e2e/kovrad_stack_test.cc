// kovrad between the real programs: upssim plays a P99 unit on a
// pseudo-terminal, kovrad runs the real upsagent against it, and the kovra
// binary asks kovrad. Every wait is bounded, with room to spare: these tests
// share the machine with others, also in sanitizer builds.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"

namespace {

// A utility failure normally shows within about 4 s: the agent reads the
// unit every 3 s and kovrad reads the agent every second. The test allows
// far more so that a loaded machine does not fail it, and prints the time it
// measured.
constexpr int32_t kUtilityFailureVisibleMs = 20000;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The number after a label in kovra's output, -1 when missing.
long NumberAfter(const std::string& text, const std::string& label) {
  size_t at = text.find(label);
  if (at == std::string::npos) return -1;
  return std::strtol(text.c_str() + at + label.size(), nullptr, 10);
}

class KovradStackTest : public ::testing::Test {
 protected:
  // Starts the simulator, then kovrad on the fixed port, and waits until
  // kovrad has detected the unit.
  void SetUp() override {
    // The simulator reads its control lines from its standard input.
    ASSERT_TRUE(sim_.Start({UPSSIM_PATH, "--link", dir_.Join("ttyS0"),
                            "--log", dir_.Join("wire.log")},
                           dir_.Join("upssim.err")));
    ASSERT_TRUE(Eventually(
        [&] { return access(dir_.Join("ttyS0").c_str(), F_OK) == 0; }, 10000,
        20))
        << ReadFile(dir_.Join("upssim.err"));

    setenv("UPSAGENT_SERIAL_PATTERN", dir_.Join("ttyS%d").c_str(), 1);
    // No configuration file: an installed one must not reach this kovrad.
    ASSERT_TRUE(kovrad_.Start({KOVRAD_PATH, "--config", "/dev/null",
                               "--state-dir", dir_.Join("state"),
                               "--agent", UPSAGENT_PATH, "--shutdown-command",
                               "touch '" + dir_.Join("shutdown-ran") + "'"},
                              dir_.Join("kovrad.err")));
    ASSERT_TRUE(Eventually(
        [&] { return client_.Connect(8855) && client_.Login(); }, 30000, 50))
        << Diagnostics();
    ASSERT_TRUE(Eventually(
        [&] {
          return client_.Transact("DEV STATUS_CONNECT") == "1" &&
                 client_.Transact("DEV PROP_PORTTYPE") == "2";
        },
        60000, 100))
        << Diagnostics();
  }

  // kovrad stops its agent on SIGTERM; whatever is still running after the
  // bound is killed when the ChildProcess goes.
  void TearDown() override {
    int status = 0;
    kovrad_.Signal(SIGTERM);
    kovrad_.Wait(15000, &status);
  }

  // Runs kovra with the arguments and returns what it printed; timeout(1)
  // bounds the run to 30 s.
  std::string Kovra(const std::string& args) {
    std::string command = "timeout 30 '" KOVRA_PATH "' " + args + " 2>>'" +
                          dir_.Join("kovra.err") + "'";
    FILE* out = popen(command.c_str(), "r");
    std::string text;
    char chunk[4096];
    size_t got;
    while (out != nullptr && (got = fread(chunk, 1, sizeof(chunk), out)) > 0)
      text.append(chunk, got);
    if (out != nullptr) pclose(out);
    return text;
  }

  void Sim(const std::string& line) { ASSERT_TRUE(sim_.WriteLine(line)); }

  bool LogShowsWithin(const std::string& text, int32_t millis) {
    return Eventually(
        [&] { return Contains(ReadFile(dir_.Join("kovrad.err")), text); },
        millis, 100);
  }

  std::string Diagnostics() {
    return "\nkovrad:\n" + ReadFile(dir_.Join("kovrad.err")) + "\nupssim:\n" +
           ReadFile(dir_.Join("upssim.err"));
  }

  TempDir dir_;
  ServiceClient client_;
  ChildProcess sim_;
  ChildProcess kovrad_;  // ends first, before the simulator
};

TEST_F(KovradStackTest, KovraShowsTheSimulatedUnit) {
  std::string status = Kovra("status");
  EXPECT_TRUE(Contains(status, "utility state : normal")) << status;
  long input = NumberAfter(status, "input voltage : ");
  EXPECT_TRUE(input >= 90 && input <= 260) << status;
  long capacity = NumberAfter(status, "battery capacity : ");
  EXPECT_TRUE(capacity >= 1 && capacity <= 100) << status;
  EXPECT_TRUE(Contains(status, "frequency : ")) << status;

  std::string information = Kovra("information");
  EXPECT_TRUE(Contains(information, "UPS model : ")) << information;
  EXPECT_TRUE(Contains(information, "communication port : ")) << information;
  EXPECT_TRUE(Contains(information, "ttyS0")) << information;

  EXPECT_TRUE(
      Contains(Kovra("configure -buzzer on"), "set buzzer on, success."));
  EXPECT_TRUE(Contains(Kovra("information -buzzer"), "[on],off"));
  EXPECT_TRUE(Contains(Kovra("test"), "diagnosing UPS within 10 seconds."));
}

TEST_F(KovradStackTest, UtilityFailureIsShownLoggedAndItsReturnCancels) {
  ASSERT_EQ("OK",
            client_.Transact("PTC powerfail.shutdown.happen.max count=1"));
  ASSERT_EQ("OK", client_.Transact("PTC powerfail.shutdown.happen.delay=60"));
  Sim("utility fail");
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Eventually(
      [&] { return client_.Transact("DEV STATUS_POWERFAIL") == "1"; },
      kUtilityFailureVisibleMs, 20))
      << Diagnostics();
  long long took_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
  std::printf("utility failure visible after %lld ms\n", took_ms);
  RecordProperty("utility_failure_visible_ms", std::to_string(took_ms));
  EXPECT_TRUE(Contains(Kovra("status -utility_state"), "utility state : fail"));
  EXPECT_TRUE(Eventually(
      [&] { return Contains(Kovra("log -event"), "UPS power failure."); },
      20000, 500))
      << Diagnostics();

  ASSERT_TRUE(LogShowsWithin("on battery:", 20000)) << Diagnostics();
  Sim("utility restore");
  ASSERT_TRUE(LogShowsWithin("shutdown cancelled", 20000)) << Diagnostics();
  EXPECT_NE(0, access(dir_.Join("shutdown-ran").c_str(), F_OK));
  EXPECT_FALSE(Contains(ReadFile(dir_.Join("wire.log")), " request S"));
}

TEST_F(KovradStackTest, PowerFailureShutdownRunsTheCommandAndTellsTheUnit) {
  ASSERT_EQ("OK",
            client_.Transact("PTC powerfail.shutdown.happen.max count=1"));
  ASSERT_EQ("OK", client_.Transact("PTC powerfail.shutdown.happen.delay=2"));
  ASSERT_EQ("OK", client_.Transact("POL service.shutdown delay=60"));
  Sim("utility fail");
  EXPECT_TRUE(Eventually(
      [&] { return access(dir_.Join("shutdown-ran").c_str(), F_OK) == 0; },
      30000, 100))
      << Diagnostics();
  EXPECT_TRUE(Eventually(
      [&] { return Contains(ReadFile(dir_.Join("wire.log")), " request S"); },
      10000, 100))
      << ReadFile(dir_.Join("wire.log")).substr(0, 2000);
}

}  // namespace
