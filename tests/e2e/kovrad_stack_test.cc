// kovrad between the real programs: upssim plays a P99 unit on a
// pseudo-terminal, kovrad runs the real upsagent against it, and the kovra
// binary asks kovrad. Every wait is bounded, with room to spare: these tests
// share the machine with others, also in sanitizer builds.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/file_text.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"

namespace {

// A utility failure normally shows within about 4 s: the agent reads the
// unit every 3 s and kovrad reads the agent every second. The test allows
// far more so that a loaded machine does not fail it, and prints the time it
// measured.
constexpr int32_t kUtilityFailureVisibleMs = 20000;

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
    ASSERT_TRUE(sim_.Start({UPSSIM_PATH, "--link", dir_.Join("ttyS0"), "--log",
                            dir_.Join("wire.log")},
                           dir_.Join("upssim.err")));
    ASSERT_TRUE(Eventually(
        [&] { return access(dir_.Join("ttyS0").c_str(), F_OK) == 0; }, 10000,
        20))
        << ReadFile(dir_.Join("upssim.err"));

    setenv("UPSAGENT_SERIAL_PATTERN", dir_.Join("ttyS%d").c_str(), 1);
    BeforeKovrad();
    // No configuration file: an installed one must not reach this kovrad.
    std::vector<std::string> argv = {
        KOVRAD_PATH,
        "--config",
        "/dev/null",
        "--state-dir",
        StateDir(),
        "--agent",
        UPSAGENT_PATH,
        "--shutdown-command",
        "touch '" + dir_.Join("shutdown-ran") + "'"};
    for (const std::string& arg : ExtraArgs()) argv.push_back(arg);
    ASSERT_TRUE(kovrad_.Start(argv, dir_.Join("kovrad.err")));
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

  // What a fixture for one setup changes: kovrad's further options, its
  // state folder, and what is prepared before it starts.
  virtual std::vector<std::string> ExtraArgs() { return {}; }
  virtual std::string StateDir() { return dir_.Join("state"); }
  virtual void BeforeKovrad() {}

  bool ShutdownRan() {
    return access(dir_.Join("shutdown-ran").c_str(), F_OK) == 0;
  }

  // Writes an executable file.
  void WriteScript(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    out.close();
    ASSERT_EQ(0, chmod(path.c_str(), 0755)) << path;
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

// A save hook that hides its output and sleeps, a notify command, and a
// short budget for the hooks.
class KovradSlowHookTest : public KovradStackTest {
 protected:
  std::vector<std::string> ExtraArgs() override {
    return {"--save-hooks",
            dir_.Join("hooks"),
            "--save-hooks-budget",
            "3",
            "--notify-command",
            "echo \"$KOVRA_EVENT $KOVRA_EVENT_TEXT\" >> '" +
                dir_.Join("notified") + "'"};
  }
  void BeforeKovrad() override {
    ASSERT_EQ(0, mkdir(dir_.Join("hooks").c_str(), 0755));
    WriteScript(dir_.Join("hooks/10-stubborn"),
                "#!/bin/sh\nexec >/dev/null 2>&1 </dev/null\nsleep 300\n");
  }
};

TEST_F(KovradSlowHookTest,
       HookThatHidesItsOutputAndSleepsDoesNotDelayShutdown) {
  ASSERT_EQ("OK",
            client_.Transact("PTC powerfail.shutdown.happen.max count=1"));
  ASSERT_EQ("OK", client_.Transact("PTC powerfail.shutdown.happen.delay=1"));
  ASSERT_EQ("OK", client_.Transact("POL service.auto save=1"));
  Sim("utility fail");
  ASSERT_TRUE(LogShowsWithin("system shutdown begins", 30000)) << Diagnostics();
  auto begun = std::chrono::steady_clock::now();
  // The budget is 3 s; SIGKILL would follow 2 s after SIGTERM.
  ASSERT_TRUE(Eventually([&] { return ShutdownRan(); }, 15000, 50))
      << Diagnostics();
  long long took_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - begun)
                          .count();
  std::printf("shutdown command %lld ms after the shutdown began\n", took_ms);
  EXPECT_LT(took_ms, 10000) << Diagnostics();
  EXPECT_TRUE(Contains(ReadFile(dir_.Join("kovrad.err")),
                       "10-stubborn took too long and was stopped"))
      << Diagnostics();
  // The notify command heard of the power failure.
  EXPECT_TRUE(Eventually(
      [&] {
        return Contains(ReadFile(dir_.Join("notified")),
                        "4 UPS power failure.");
      },
      10000, 50))
      << ReadFile(dir_.Join("notified")) << Diagnostics();
  // SIGTERM does not wait on anything the hooks left.
  auto stop = std::chrono::steady_clock::now();
  kovrad_.Signal(SIGTERM);
  int status = 0;
  EXPECT_TRUE(kovrad_.Wait(10000, &status));
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - stop)
                .count(),
            8000);
}

// A state path kovrad cannot use: it lies under a regular file, which
// stops root as well as anyone else.
class KovradUnusableStateTest : public KovradStackTest {
 protected:
  std::string StateDir() override { return dir_.Join("blocker/state"); }
  void BeforeKovrad() override {
    std::ofstream(dir_.Join("blocker")) << "not a folder\n";
  }
};

TEST_F(KovradUnusableStateTest, StatusIsServedAndWritesAreRefused) {
  std::string status = Kovra("status");
  EXPECT_TRUE(Contains(status, "utility state : normal")) << status;
  EXPECT_EQ("ERR 23", client_.Transact("POL service.buzzer on=0"));
  EXPECT_EQ("ERR 23", client_.Transact("LOG KEY 0"));
  EXPECT_TRUE(
      Contains(ReadFile(dir_.Join("kovrad.err")), "database unavailable"))
      << Diagnostics();
  // The settings in memory still drive the power policy: the defaults
  // come from the program (shutdown on), and a low battery on battery
  // begins at once.
  ASSERT_EQ("1", client_.Transact("PTC powerfail.shutdown.happen.max count"));
  Sim("utility fail");
  Sim("battery low");
  EXPECT_TRUE(Eventually([&] { return ShutdownRan(); }, 60000, 100))
      << Diagnostics();
}

// Another program holds the database's write lock the whole time.
class KovradLockedDatabaseTest : public KovradStackTest {
 protected:
  void BeforeKovrad() override {
    // A first run stores the settings the second one loads.
    ASSERT_EQ(0, mkdir(dir_.Join("state").c_str(), 0750));
    {
      ChildProcess first;
      ASSERT_TRUE(
          first.Start({KOVRAD_PATH, "--config", "/dev/null", "--nut-listen",
                       "off", "--state-dir", dir_.Join("state"), "--agent",
                       "/bin/false", "--listen", "127.0.0.1:0"},
                      dir_.Join("first.err")));
      ASSERT_TRUE(Eventually(
          [&] {
            return Contains(ReadFile(dir_.Join("first.err")), "listening");
          },
          10000, 20));
      first.Signal(SIGTERM);
      int status = 0;
      ASSERT_TRUE(first.Wait(10000, &status));
    }
    ASSERT_EQ(SQLITE_OK,
              sqlite3_open(dir_.Join("state/kovrad.db").c_str(), &lock_));
    sqlite3_busy_timeout(lock_, 5000);
    const char* kSetup =
        "INSERT OR REPLACE INTO parameters(space, key, value) VALUES"
        " ('PTC', 'powerfail.shutdown.happen.max count', 1),"
        " ('PTC', 'powerfail.shutdown.happen.delay', 2),"
        " ('POL', 'service.shutdown delay', 60);"
        "BEGIN IMMEDIATE;"
        "INSERT OR REPLACE INTO parameters(space, key, value) VALUES"
        " ('POL', 'service.buzzer on', 1);";
    char* error = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(lock_, kSetup, nullptr, nullptr, &error))
        << (error != nullptr ? error : "");
  }
  void TearDown() override {
    KovradStackTest::TearDown();
    if (lock_ != nullptr) sqlite3_close(lock_);
  }
  sqlite3* lock_ = nullptr;
};

TEST_F(KovradLockedDatabaseTest, StatusNeverWaitsAndThePowerPolicyStillActs) {
  for (int i = 0; i < 5; ++i) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ("1", client_.Transact("DEV STATUS_CONNECT"));
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count(),
              1000);
  }
  EXPECT_EQ("2", client_.Transact("PTC powerfail.shutdown.happen.delay"));
  std::string status = Kovra("status");
  EXPECT_TRUE(Contains(status, "utility state : normal")) << status;
  Sim("utility fail");
  EXPECT_TRUE(Eventually([&] { return ShutdownRan(); }, 30000, 100))
      << Diagnostics();
  EXPECT_TRUE(Contains(Kovra("status -utility_state"), "utility state : fail"));
  // The events written meanwhile waited, and reach the file once the lock
  // is gone.
  ASSERT_EQ(SQLITE_OK,
            sqlite3_exec(lock_, "ROLLBACK;", nullptr, nullptr, nullptr));
  EXPECT_TRUE(Eventually(
      [&] { return Contains(Kovra("log -event"), "UPS power failure."); },
      30000, 500))
      << Diagnostics();
}

// Connections that never log in, beyond the client bound.
TEST_F(KovradStackTest, TwoHundredIdleConnectionsDoNotLockOutAClient) {
  std::vector<int> idle;
  for (int i = 0; i < 200; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    struct sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(8855);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) ==
        0) {
      idle.push_back(fd);
    } else {
      close(fd);
    }
  }
  EXPECT_GE(idle.size(), 100u);
  auto start = std::chrono::steady_clock::now();
  std::string status = Kovra("status");
  long long took_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
  std::printf("kovra status beside 200 idle connections: %lld ms\n", took_ms);
  EXPECT_TRUE(Contains(status, "utility state : normal")) << status;
  EXPECT_LT(took_ms, 2000);
  for (int fd : idle) close(fd);
}

TEST_F(KovradStackTest, CheckShutdownPrintsTheStepsAndTouchesNothing) {
  ASSERT_EQ("OK",
            client_.Transact("PTC powerfail.shutdown.happen.max count=1"));
  ASSERT_EQ("OK", client_.Transact("PTC powerfail.shutdown.happen.delay=45"));
  std::string command = "timeout 30 '" KOVRAD_PATH
                        "' --config /dev/null --check-shutdown "
                        "--state-dir '" +
                        dir_.Join("state") +
                        "' --shutdown-command 'touch /nonexistent/x' 2>&1";
  FILE* out = popen(command.c_str(), "r");
  ASSERT_NE(nullptr, out);
  std::string text;
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof(chunk), out)) > 0)
    text.append(chunk, got);
  EXPECT_EQ(0, pclose(out));
  EXPECT_TRUE(Contains(text, "shutdown on power failure is on")) << text;
  EXPECT_TRUE(Contains(text, "after 45 s on battery")) << text;
  EXPECT_TRUE(Contains(text, "the shutdown command runs: touch /nonexistent/x"))
      << text;
  // The running service and its unit were left alone.
  EXPECT_EQ("1", client_.Transact("DEV STATUS_CONNECT"));
  EXPECT_FALSE(Contains(ReadFile(dir_.Join("wire.log")), " request S"));
}

}  // namespace
