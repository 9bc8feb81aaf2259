// kovrad between the real programs: upssim plays a P99 unit on a
// pseudo-terminal, kovrad runs the real upsagent against it, and the kovra
// binary asks kovrad. Every wait is bounded.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/service/service_client.h"

namespace {

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

// The simulator's answers to control lines are not needed.
int DevNull() {
  static int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  return fd;
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

class KovradStackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int control[2];
    ASSERT_EQ(0, pipe2(control, O_CLOEXEC));
    sim_ = StartProgram(
        {UPSSIM_PATH, "--link", Path("ttyS0"), "--log", Path("wire.log")},
        control[0], DevNull(), Path("upssim.err"));
    close(control[0]);
    sim_control_ = control[1];
    ASSERT_TRUE(Eventually(
        [&] { return access(Path("ttyS0").c_str(), F_OK) == 0; }, 5000))
        << ReadFile(Path("upssim.err"));
  }

  void TearDown() override {
    StopKovrad();
    if (sim_ > 0) {
      kill(sim_, SIGTERM);
      waitpid(sim_, nullptr, 0);
    }
    if (sim_control_ >= 0) close(sim_control_);
  }

  std::string Path(const std::string& name) const {
    return dir_.path() + "/" + name;
  }

  // Starts kovrad on the fixed port and waits until it has detected the
  // unit.
  void StartKovrad() {
    setenv("UPSAGENT_SERIAL_PATTERN", Path("ttyS%d").c_str(), 1);
    std::string hook = "touch '" + Path("shutdown-ran") + "'";
    kovrad_ =
        StartProgram({KOVRAD_PATH, "--state-dir", Path("state"), "--agent",
                      UPSAGENT_PATH, "--shutdown-command", hook},
                     -1, -1, Path("kovrad.err"));
    ASSERT_GT(kovrad_, 0);
    bool detected = Eventually(
        [&] {
          ServiceClient client;
          return client.Connect(8855) && client.Login() &&
                 client.Transact("DEV STATUS_CONNECT") == "1" &&
                 client.Transact("DEV PROP_PORTTYPE") == "2";
        },
        60000);
    ASSERT_TRUE(detected) << Diagnostics();
  }

  void StopKovrad() {
    if (kovrad_ <= 0) return;
    kill(kovrad_, SIGTERM);
    int status = 0;
    waitpid(kovrad_, &status, 0);
    kovrad_ = -1;
  }

  // Runs kovra with the arguments and returns what it printed (bounded to
  // 30 s).
  std::string Kovra(const std::vector<std::string>& args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return "";
    std::vector<std::string> argv = {KOVRA_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_t pid = StartProgram(argv, -1, out[1], Path("kovra.err"));
    close(out[1]);
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
      struct pollfd entry = {out[0], POLLIN, 0};
      if (std::chrono::steady_clock::now() > deadline) break;
      if (poll(&entry, 1, 1000) <= 0) continue;
      char chunk[4096];
      ssize_t got = read(out[0], chunk, sizeof(chunk));
      if (got <= 0) break;
      text.append(chunk, static_cast<size_t>(got));
    }
    close(out[0]);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return text;
  }

  void Sim(const std::string& line) {
    std::string text = line + "\n";
    ASSERT_EQ(static_cast<ssize_t>(text.size()),
              write(sim_control_, text.data(), text.size()));
  }

  // Sets a PTC or POL value straight through the service.
  void Set(const std::string& request) {
    ServiceClient client;
    ASSERT_TRUE(client.Connect(8855));
    ASSERT_TRUE(client.Login());
    ASSERT_EQ("OK", client.Transact(request)) << request;
  }

  std::string Diagnostics() {
    return "\nkovrad:\n" + ReadFile(Path("kovrad.err")) + "\nupssim:\n" +
           ReadFile(Path("upssim.err"));
  }

  TempDir dir_;
  pid_t sim_ = -1;
  pid_t kovrad_ = -1;
  int sim_control_ = -1;
};

// The number after a label in kovra's output, -1 when missing.
long NumberAfter(const std::string& text, const std::string& label) {
  size_t at = text.find(label);
  if (at == std::string::npos) return -1;
  return std::strtol(text.c_str() + at + label.size(), nullptr, 10);
}

TEST_F(KovradStackTest, KovraShowsTheSimulatedUnit) {
  StartKovrad();
  std::string status = Kovra({"status"});
  EXPECT_TRUE(Contains(status, "utility state : normal")) << status;
  long input = NumberAfter(status, "input voltage : ");
  EXPECT_GE(input, 90) << status;
  EXPECT_LE(input, 260) << status;
  long capacity = NumberAfter(status, "battery capacity : ");
  EXPECT_GE(capacity, 1) << status;
  EXPECT_LE(capacity, 100) << status;
  EXPECT_TRUE(Contains(status, "frequency : ")) << status;

  std::string information = Kovra({"information"});
  EXPECT_TRUE(Contains(information, "UPS model : ")) << information;
  EXPECT_TRUE(Contains(information, "communication port : ")) << information;
  EXPECT_TRUE(Contains(information, "ttyS0")) << information;

  EXPECT_TRUE(Contains(Kovra({"configure", "-buzzer", "on"}),
                       "set buzzer on, success."));
  EXPECT_TRUE(Contains(Kovra({"information", "-buzzer"}), "[on],off"));
  EXPECT_TRUE(Contains(Kovra({"test"}), "diagnosing UPS within 10 seconds."));
}

TEST_F(KovradStackTest, UtilityFailureShowsWithinFiveSecondsAndIsLogged) {
  StartKovrad();
  Sim("utility fail");
  auto start = std::chrono::steady_clock::now();
  bool seen = Eventually(
      [&] {
        return Contains(Kovra({"status", "-utility_state"}),
                        "utility state : fail");
      },
      10000);
  auto took = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(seen) << Diagnostics();
  EXPECT_LE(took, std::chrono::seconds(5));
  EXPECT_TRUE(Eventually(
      [&] {
        return Contains(Kovra({"log", "-event"}), "UPS power failure.");
      },
      20000))
      << Diagnostics();
}

TEST_F(KovradStackTest, PowerFailureShutdownRunsTheCommandAndTellsTheUnit) {
  StartKovrad();
  Set("PTC powerfail.shutdown.happen.max count=1");
  Set("PTC powerfail.shutdown.happen.delay=2");
  Set("POL service.shutdown delay=60");
  Sim("utility fail");
  EXPECT_TRUE(Eventually(
      [&] { return access(Path("shutdown-ran").c_str(), F_OK) == 0; }, 30000))
      << Diagnostics();
  EXPECT_TRUE(Eventually(
      [&] { return Contains(ReadFile(Path("wire.log")), " request S"); },
      10000))
      << ReadFile(Path("wire.log")).substr(0, 2000);
}

TEST_F(KovradStackTest, UtilityReturnBeforeTheDelayCancelsTheShutdown) {
  StartKovrad();
  Set("PTC powerfail.shutdown.happen.max count=1");
  Set("PTC powerfail.shutdown.happen.delay=60");
  Sim("utility fail");
  ASSERT_TRUE(Eventually(
      [&] { return Contains(ReadFile(Path("kovrad.err")), "on battery:"); },
      20000))
      << Diagnostics();
  Sim("utility restore");
  ASSERT_TRUE(Eventually(
      [&] {
        return Contains(ReadFile(Path("kovrad.err")), "shutdown cancelled");
      },
      20000))
      << Diagnostics();
  EXPECT_NE(0, access(Path("shutdown-ran").c_str(), F_OK));
  EXPECT_FALSE(Contains(ReadFile(Path("wire.log")), " request S"));
}

}  // namespace
