#include "sim/sim_loop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <thread>

#include "common/time/system_clock.h"
#include "sim/battery_model.h"
#include "sim/control_commands.h"
#include "sim/p99_unit.h"
#include "sim/pty_link.h"
#include "sim/sim_state.h"
#include "sim/simulator.h"
#include "tests/e2e/temp_folder.h"

namespace {

// Reads from fd until the text ends with `end` or 3 s passed.
std::string ReadUntil(int fd, const std::string& end) {
  std::string text;
  for (int i = 0; i < 30; ++i) {
    if (text.size() >= end.size() &&
        text.compare(text.size() - end.size(), end.size(), end) == 0) {
      break;
    }
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, 100) <= 0) continue;
    char buffer[256];
    ssize_t count = read(fd, buffer, sizeof(buffer));
    if (count <= 0) break;
    text.append(buffer, static_cast<size_t>(count));
  }
  return text;
}

// Runs the loop on a real pseudo-terminal, with pipes for the control input
// and output, on a thread of its own.
class SimLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    std::string error;
    ASSERT_TRUE(link_.Open(folder_.File("ttyS0"), &error)) << error;
    ASSERT_EQ(0, pipe(control_in_));
    ASSERT_EQ(0, pipe(control_out_));
    loop_thread_ = std::thread([this] {
      SimLoop loop(&simulator_, &control_, &link_, SystemClock::Instance(),
                   control_in_[0], control_out_[1]);
      status_ = loop.Run(&stop_);
      finished_ = 1;
    });
  }

  void TearDown() override {
    stop_ = 1;
    if (control_in_[1] >= 0) close(control_in_[1]);
    if (loop_thread_.joinable()) loop_thread_.join();
    close(control_in_[0]);
    close(control_out_[0]);
    close(control_out_[1]);
  }

  void Control(const std::string& line) {
    std::string text = line + "\n";
    ASSERT_EQ(static_cast<ssize_t>(text.size()),
              write(control_in_[1], text.data(), text.size()));
  }

  // Waits up to 3 s for the loop thread to end.
  bool Finished() {
    for (int i = 0; i < 300 && !finished_; ++i) usleep(10000);
    return finished_ != 0;
  }

  TempFolder folder_;
  SimState state_;
  P99Unit unit_{P99UnitConfig(), &state_};
  BatteryModel battery_;
  Simulator simulator_{&state_, &unit_, &battery_, nullptr};
  ControlCommands control_{&state_, &unit_};
  PtyLink link_;
  int control_in_[2] = {-1, -1};
  int control_out_[2] = {-1, -1};
  volatile std::sig_atomic_t stop_ = 0;
  volatile std::sig_atomic_t finished_ = 0;
  int status_ = -1;
  std::thread loop_thread_;
};

TEST_F(SimLoopTest, AnswersTheLineAndTheControlInput) {
  int port = open(folder_.File("ttyS0").c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(port, 0);
  ASSERT_EQ(2, write(port, "B\r", 2));
  EXPECT_EQ("B", ReadUntil(port, "B"));
  close(port);

  Control("set load 42");
  EXPECT_EQ("ok\n", ReadUntil(control_out_[0], "ok\n"));
  Control("status");
  std::string status = ReadUntil(control_out_[0], "ok\n");
  EXPECT_NE(std::string::npos, status.find("load 42.0\n"));
  EXPECT_NE(std::string::npos, status.find("register 0x0F 0x02\n"));
}

TEST_F(SimLoopTest, ControlLinesInPiecesAndCrLf) {
  ASSERT_EQ(5, write(control_in_[1], "batte", 5));
  usleep(50000);
  ASSERT_EQ(10, write(control_in_[1], "ry low\r\nq", 9) + 1);
  EXPECT_EQ("ok\n", ReadUntil(control_out_[0], "ok\n"));
  EXPECT_TRUE(state_.battery_low);
}

TEST_F(SimLoopTest, OverlongControlLineIsOneError) {
  std::string line(SimLoop::kMaxControlLine + 100, 'x');
  Control(line);
  Control("buzzer on");
  std::string answers = ReadUntil(control_out_[0], "ok\n");
  EXPECT_EQ("error: line too long\nok\n", answers);
}

TEST_F(SimLoopTest, QuitEndsTheLoop) {
  Control("quit");
  EXPECT_TRUE(Finished());
  EXPECT_EQ(0, status_);
}

}  // namespace
