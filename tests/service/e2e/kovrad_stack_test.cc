// kovrad between the real programs: upssim plays a P99 unit on a
// pseudo-terminal, kovrad runs the real upsagent against it, and the kovra
// binary asks kovrad. Every wait is bounded, with room to spare: these tests
// share the machine with others, also in sanitizer builds.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/service/service_client.h"
#include "tests/support/temp_dir.h"

namespace {

// A utility failure normally shows within about 4 s: the agent reads the
// unit every 3 s and kovrad reads the agent every second. The test allows
// far more so that a loaded machine does not fail it, and prints the time it
// measured.
constexpr int32_t kUtilityFailureVisibleMs = 20000;

pid_t StartProgram(const std::vector<std::string>& args, int stdin_fd,
                   int stdout_fd, const std::string& stderr_path) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  if (stdin_fd >= 0) dup2(stdin_fd, 0);
  if (stdout_fd >= 0) dup2(stdout_fd, 1);
  int err = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (err >= 0) dup2(err, 2);
  std::vector<char*> argv;
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

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
    int control[2];
    ASSERT_EQ(0, pipe2(control, O_CLOEXEC));
    int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);  // sim's answers
    sim_ = StartProgram({UPSSIM_PATH, "--link", dir_.Join("ttyS0"), "--log",
                         dir_.Join("wire.log")},
                        control[0], quiet, dir_.Join("upssim.err"));
    close(quiet);
    close(control[0]);
    sim_control_ = control[1];
    ASSERT_TRUE(Eventually(
        [&] { return access(dir_.Join("ttyS0").c_str(), F_OK) == 0; }, 10000,
        20))
        << ReadFile(dir_.Join("upssim.err"));

    setenv("UPSAGENT_SERIAL_PATTERN", dir_.Join("ttyS%d").c_str(), 1);
    kovrad_ = StartProgram({KOVRAD_PATH, "--state-dir", dir_.Join("state"),
                            "--agent", UPSAGENT_PATH, "--shutdown-command",
                            "touch '" + dir_.Join("shutdown-ran") + "'"},
                           -1, -1, dir_.Join("kovrad.err"));
    ASSERT_GT(kovrad_, 0);
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

  void TearDown() override {
    for (pid_t pid : {kovrad_, sim_}) {
      if (pid <= 0) continue;
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    if (sim_control_ >= 0) close(sim_control_);
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

  void Sim(const std::string& line) {
    std::string text = line + "\n";
    ASSERT_EQ(static_cast<ssize_t>(text.size()),
              write(sim_control_, text.data(), text.size()));
  }

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
  pid_t sim_ = -1;
  pid_t kovrad_ = -1;
  int sim_control_ = -1;
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
