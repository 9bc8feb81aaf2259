// kovrad's NUT listener against the real NUT clients (upsc, upsrw, upscmd,
// upsmon from nut-client, and python3-nut), with upssim playing the unit and
// the real upsagent between them. A client that is not installed skips its
// test with a message. Every wait is bounded, with room for a loaded
// machine.

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/file_text.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"

namespace {

bool Installed(const char* path) { return access(path, X_OK) == 0; }

// Runs a shell command, bounded by timeout(1); its standard output, and its
// exit status in *status.
std::string RunShell(const std::string& command, int* status = nullptr) {
  std::string bounded = "timeout 30 " + command;
  FILE* out = popen(bounded.c_str(), "r");
  std::string text;
  char chunk[4096];
  size_t got;
  while (out != nullptr && (got = fread(chunk, 1, sizeof(chunk), out)) > 0) {
    text.append(chunk, got);
  }
  int result = out != nullptr ? pclose(out) : -1;
  if (status != nullptr) {
    *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  }
  return text;
}

// The number after "label: " in upsc's listing, or -1.
double ValueOf(const std::string& listing, const std::string& name) {
  size_t at = listing.find("\n" + name + ": ");
  if (at == std::string::npos &&
      listing.compare(0, name.size() + 2, name + ": ") == 0) {
    at = 0;
  } else if (at != std::string::npos) {
    ++at;
  } else {
    return -1;
  }
  return std::strtod(listing.c_str() + at + name.size() + 2, nullptr);
}

class NutClientsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.Start({UPSSIM_PATH, "--link", dir_.Join("ttyS0"), "--log",
                            dir_.Join("wire.log")},
                           dir_.Join("upssim.err")));
    ASSERT_TRUE(Eventually(
        [&] { return access(dir_.Join("ttyS0").c_str(), F_OK) == 0; }, 10000,
        20))
        << ReadFile(dir_.Join("upssim.err"));
    setenv("UPSAGENT_SERIAL_PATTERN", dir_.Join("ttyS%d").c_str(), 1);
    ASSERT_TRUE(kovrad_.Start(
        {KOVRAD_PATH, "--config", "/dev/null", "--state-dir",
         dir_.Join("state"), "--agent", UPSAGENT_PATH, "--nut-listen",
         "127.0.0.1:0", "--nut-user",
         "admin:adminpw:primary,set,instcmds", "--nut-user", "mon:monpw:",
         "--shutdown-command", "touch '" + dir_.Join("shutdown-ran") + "'"},
        dir_.Join("kovrad.err")));
    // kovrad names the port it was given.
    ASSERT_TRUE(Eventually(
        [&] {
          std::string log = ReadFile(dir_.Join("kovrad.err"));
          const std::string label = "NUT listener on 127.0.0.1:";
          size_t at = log.find(label);
          if (at == std::string::npos) return false;
          nut_port_ = static_cast<int>(
              std::strtol(log.c_str() + at + label.size(), nullptr, 10));
          return nut_port_ > 0;
        },
        10000, 20))
        << Diagnostics();
    target_ = "ups@127.0.0.1:" + std::to_string(nut_port_);
    ASSERT_TRUE(Eventually(
        [&] { return client_.Connect(8855) && client_.Login(); }, 30000, 50))
        << Diagnostics();
    // Ready once the unit is detected and its properties are cached.
    ASSERT_TRUE(Eventually(
        [&] {
          return nut_.Connect(static_cast<uint16_t>(nut_port_)) &&
                 Contains(nut_.Transact("GET VAR ups device.model"),
                          "VAR ups device.model");
        },
        60000, 200))
        << Diagnostics();
  }

  void TearDown() override {
    int status = 0;
    kovrad_.Signal(SIGTERM);
    kovrad_.Wait(15000, &status);
  }

  std::string Upsc(const std::string& variable = "") {
    return RunShell("upsc " + target_ +
                    (variable.empty() ? "" : " " + variable) + " 2>/dev/null");
  }

  std::string Kovra(const std::string& args) {
    return RunShell("'" KOVRA_PATH "' " + args + " 2>/dev/null");
  }

  bool UpscShows(const std::string& variable, const std::string& text,
                 int32_t millis) {
    return Eventually([&] { return Contains(Upsc(variable), text); }, millis,
                      100);
  }

  std::string Diagnostics() {
    return "\nkovrad:\n" + ReadFile(dir_.Join("kovrad.err")) + "\nupssim:\n" +
           ReadFile(dir_.Join("upssim.err"));
  }

  TempDir dir_;
  ServiceClient client_;
  ServiceClient nut_{'\n'};
  ChildProcess sim_;
  ChildProcess kovrad_;
  int nut_port_ = 0;
  std::string target_;
};

TEST_F(NutClientsTest, UpscListsTheUnitAndFollowsAFailureAndALowBattery) {
  if (!Installed("/usr/bin/upsc")) GTEST_SKIP() << "upsc (nut-client) absent";
  std::string listing = Upsc();
  EXPECT_TRUE(Contains(listing, "device.type: ups")) << listing;
  EXPECT_TRUE(Contains(listing, "driver.name: upsagent")) << listing;
  EXPECT_TRUE(Contains(listing, "ups.model: ")) << listing;
  EXPECT_TRUE(Contains(listing, "ups.status: OL")) << listing;
  double input = ValueOf(listing, "input.voltage");
  EXPECT_TRUE(input >= 90 && input <= 260) << listing;
  double charge = ValueOf(listing, "battery.charge");
  EXPECT_TRUE(charge >= 1 && charge <= 100) << listing;
  EXPECT_TRUE(Contains(listing, "input.transfer.high: ")) << listing;

  // The same values as kovra shows.
  std::string status = Kovra("status");
  EXPECT_TRUE(Contains(status, "utility state : normal")) << status;

  ASSERT_TRUE(sim_.WriteLine("utility fail"));
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(UpscShows("ups.status", "OB", 20000)) << Diagnostics();
  long long took_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
  std::printf("OB visible in ups.status after %lld ms\n", took_ms);
  RecordProperty("ob_visible_ms", std::to_string(took_ms));

  ASSERT_TRUE(sim_.WriteLine("battery low"));
  EXPECT_TRUE(Eventually(
      [&] {
        std::string value = Upsc("ups.status");
        return Contains(value, "OB") && Contains(value, "LB");
      },
      20000, 100))
      << Upsc("ups.status") << Diagnostics();
}

TEST_F(NutClientsTest, UpsrwSetsAnAllowedTransferValueAndRefusesAnother) {
  if (!Installed("/usr/bin/upsrw")) GTEST_SKIP() << "upsrw (nut-client) absent";
  std::string current = Upsc("input.transfer.high");
  ASSERT_FALSE(current.empty());
  long now = std::strtol(current.c_str(), nullptr, 10);
  // The allowed values, from the ENUM list.
  ASSERT_TRUE(nut_.SendRaw("LIST ENUM ups input.transfer.high\n"));
  std::vector<long> allowed;
  for (int i = 0; i < 64; ++i) {
    std::string line = nut_.ReadReply();
    if (line.compare(0, 4, "END ") == 0 || line.compare(0, 4, "ERR ") == 0 ||
        line[0] == '<') {
      break;
    }
    size_t quote = line.find('"');
    if (line.compare(0, 5, "ENUM ") == 0 && quote != std::string::npos) {
      allowed.push_back(std::strtol(line.c_str() + quote + 1, nullptr, 10));
    }
  }
  ASSERT_GE(allowed.size(), 2u);
  long wanted = allowed[0] == now ? allowed[1] : allowed[0];

  int status = 0;
  std::string out =
      RunShell("upsrw -s input.transfer.high=" + std::to_string(wanted) +
                   " -u admin -p adminpw " + target_ + " 2>&1",
               &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_TRUE(Eventually(
      [&] {
        return Contains(Kovra("information -input_hi"), std::to_string(wanted));
      },
      20000, 200))
      << Kovra("information") << Diagnostics();
  EXPECT_TRUE(UpscShows("input.transfer.high", std::to_string(wanted), 20000));

  // A value outside the list is refused and nothing changes.
  out = RunShell(
      "upsrw -s input.transfer.high=" + std::to_string(allowed.back() + 100) +
          " -u admin -p adminpw " + target_ + " 2>&1",
      &status);
  EXPECT_NE(0, status) << out;
  EXPECT_TRUE(Contains(out, "INVALID") || Contains(out, "nvalid")) << out;
  EXPECT_TRUE(Contains(Upsc("input.transfer.high"), std::to_string(wanted)));
  // The user without the right is refused too.
  out = RunShell("upsrw -s input.transfer.high=" + std::to_string(wanted) +
                     " -u mon -p monpw " + target_ + " 2>&1",
                 &status);
  EXPECT_NE(0, status) << out;
  // Passwords never reach the log.
  EXPECT_FALSE(Contains(ReadFile(dir_.Join("kovrad.err")), "adminpw"));
  EXPECT_TRUE(Contains(ReadFile(dir_.Join("kovrad.err")),
                       "user admin from 127.0.0.1 sets input.transfer.high"));
}

TEST_F(NutClientsTest, UpscmdStartsABatteryTestThatKovraAndUpscShow) {
  if (!Installed("/usr/bin/upscmd")) {
    GTEST_SKIP() << "upscmd (nut-client) absent";
  }
  std::string commands = RunShell("upscmd -l " + target_ + " 2>&1");
  EXPECT_TRUE(Contains(commands, "test.battery.start.quick")) << commands;
  int status = 0;
  std::string out = RunShell("upscmd -u admin -p adminpw " + target_ +
                                 " test.battery.start.quick 2>&1",
                             &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_TRUE(Eventually(
      [&] {
        // kovra status reads the test state through STATUS_TEST.
        return Contains(Upsc("ups.test.result"), "In progress") &&
               client_.Transact("DEV STATUS_TEST") == "1";
      },
      20000, 200))
      << Upsc("ups.test.result") << Diagnostics();
  std::printf("kovra status during the test:\n%s", Kovra("status").c_str());
  EXPECT_TRUE(UpscShows("ups.test.result", "Done", 60000)) << Diagnostics();
  EXPECT_TRUE(Contains(ReadFile(dir_.Join("kovrad.err")),
                       "runs test.battery.start.quick: done"))
      << Diagnostics();
}

TEST_F(NutClientsTest, PythonNutReadsTheUnit) {
  if (!Installed("/usr/bin/python3") ||
      access("/usr/lib/python3/dist-packages/PyNUT.py", R_OK) != 0) {
    GTEST_SKIP() << "python3-nut absent";
  }
  std::string script =
      "import PyNUT\n"
      "c = PyNUT.PyNUTClient(host='127.0.0.1', port=" +
      std::to_string(nut_port_) +
      ")\n"
      "v = c.GetUPSVars('ups')\n"
      "print(v[b'ups.status'].decode() if isinstance(list(v)[0], bytes) "
      "else v['ups.status'])\n"
      "print(sorted(c.GetUPSList()))\n";
  std::ofstream(dir_.Join("read.py")) << script;
  std::string out =
      RunShell("/usr/bin/python3 '" + dir_.Join("read.py") + "' 2>&1");
  EXPECT_TRUE(Contains(out, "OL")) << out;
  EXPECT_TRUE(Contains(out, "ups")) << out;
}

TEST_F(NutClientsTest, HostileClientsDoNotLockOthersOut) {
  // A 1 MB line, binary junk, requests before login, and many idle
  // connections; a fresh client is still served.
  {
    ServiceClient big('\n');
    ASSERT_TRUE(big.Connect(static_cast<uint16_t>(nut_port_)));
    big.SendRaw(std::string(1 << 20, 'A') + "\n");
    EXPECT_EQ("ERR TOO-LONG", big.ReadReply());
    EXPECT_TRUE(big.WaitClosed());
  }
  {
    ServiceClient junk('\n');
    ASSERT_TRUE(junk.Connect(static_cast<uint16_t>(nut_port_)));
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
      if (i != '\n') bytes += static_cast<char>(i);
    }
    junk.SendRaw(bytes + "\n");
    EXPECT_EQ("ERR INVALID-ARGUMENT", junk.ReadReply());
    EXPECT_EQ("ERR USERNAME-REQUIRED", junk.Transact("FSD ups"));
    EXPECT_EQ("ERR USERNAME-REQUIRED", junk.Transact("SET VAR ups "
                                                     "input.transfer.high 1"));
    EXPECT_EQ("ERR USERNAME-REQUIRED",
              junk.Transact("INSTCMD ups shutdown.stayoff"));
  }
  std::vector<std::unique_ptr<ServiceClient>> idle;
  for (int i = 0; i < 200; ++i) {
    idle.emplace_back(new ServiceClient('\n'));
    idle.back()->Connect(static_cast<uint16_t>(nut_port_));
  }
  ServiceClient fresh('\n');
  EXPECT_TRUE(Eventually(
      [&] {
        return fresh.Connect(static_cast<uint16_t>(nut_port_)) &&
               fresh.Transact("VER", 1000) == "kovrad NUT front end";
      },
      60000, 500))
      << "a client was locked out by idle connections";
}

// upsmon as a secondary in a sandbox folder: its configuration through
// NUT_CONFPATH, a shutdown command that only writes a file, run in the
// foreground. kovrad's power-failure policy starts; the secondary sees FSD
// and runs its command.
class UpsmonSecondaryTest : public NutClientsTest {
 protected:
  bool StartUpsmon() {
    std::string conf = dir_.Join("nut");
    mkdir(conf.c_str(), 0700);
    std::ofstream(conf + "/nut.conf") << "MODE=netclient\n";
    std::ofstream(conf + "/upsmon.conf")
        << "RUN_AS_USER root\n"
        << "MONITOR ups@127.0.0.1:" << nut_port_ << " 1 mon monpw secondary\n"
        << "MINSUPPLIES 1\n"
        << "SHUTDOWNCMD \"touch '" << dir_.Join("secondary-down") << "'\"\n"
        << "POLLFREQ 1\nPOLLFREQALERT 1\nDEADTIME 15\nFINALDELAY 0\n"
        << "POWERDOWNFLAG " << conf << "/killpower\n";
    chmod((conf + "/upsmon.conf").c_str(), 0600);
    setenv("NUT_CONFPATH", conf.c_str(), 1);
    setenv("NUT_STATEPATH", conf.c_str(), 1);
    return upsmon_.Start({"/lib/nut/upsmon", "-D", "-F"},
                         dir_.Join("upsmon.err"));
  }

  void TearDown() override {
    upsmon_.Signal(SIGTERM);
    int status = 0;
    upsmon_.Wait(5000, &status);
    NutClientsTest::TearDown();
  }

  // Starts upsmon, waits for its login and starts the policy's shutdown.
  void StartPowerFailure() {
    ASSERT_TRUE(StartUpsmon());
    ASSERT_TRUE(Eventually(
        [&] { return Contains(nut_.Transact("GET NUMLOGINS ups"), " 1"); },
        20000, 200))
        << ReadFile(dir_.Join("upsmon.err")) << Diagnostics();
    ASSERT_EQ("OK",
              client_.Transact("PTC powerfail.shutdown.happen.max count=1"));
    ASSERT_EQ("OK", client_.Transact("PTC powerfail.shutdown.happen.delay=2"));
    ASSERT_EQ("OK", client_.Transact("POL service.shutdown delay=60"));
    ASSERT_TRUE(sim_.WriteLine("utility fail"));
  }

  ChildProcess upsmon_;
};

TEST_F(UpsmonSecondaryTest, SecondaryRunsItsShutdownWhenThePolicyStarts) {
  if (access("/lib/nut/upsmon", X_OK) != 0) {
    GTEST_SKIP() << "upsmon (nut-client) absent";
  }
  StartPowerFailure();
  EXPECT_TRUE(Eventually(
      [&] { return access(dir_.Join("secondary-down").c_str(), F_OK) == 0; },
      40000, 100))
      << ReadFile(dir_.Join("upsmon.err")) << Diagnostics();
  // The unit gets its orders, and the host's own shutdown runs.
  EXPECT_TRUE(Eventually(
      [&] { return Contains(ReadFile(dir_.Join("wire.log")), " request S"); },
      40000, 100));
  EXPECT_TRUE(Eventually(
      [&] { return access(dir_.Join("shutdown-ran").c_str(), F_OK) == 0; },
      40000, 100))
      << Diagnostics();
}

// The primary sets FSD and tells the UPS only once the secondary has logged
// out (it does after running its shutdown command) or the wait has run out.
// kovrad's standard error is one stream, so the order of its lines is the
// order of the steps.
TEST_F(UpsmonSecondaryTest, UnitIsToldOnlyAfterTheSecondaryLoggedOutOrTheWaitRanOut) {
  if (access("/lib/nut/upsmon", X_OK) != 0) {
    GTEST_SKIP() << "upsmon (nut-client) absent";
  }
  StartPowerFailure();
  ASSERT_TRUE(Eventually(
      [&] { return Contains(ReadFile(dir_.Join("wire.log")), " request S"); },
      60000, 50))
      << Diagnostics();
  const std::string log = ReadFile(dir_.Join("kovrad.err"));
  const size_t waiting = log.find("shutdown step 2: waiting");
  const size_t told = log.find("shutdown step 3: telling the UPS");
  ASSERT_NE(std::string::npos, waiting) << log;
  ASSERT_NE(std::string::npos, told) << log;
  EXPECT_LT(waiting, told) << log;
  const size_t gone = log.find("the other hosts on the UPS logged out");
  const size_t timed_out = log.find("still logged in after");
  ASSERT_TRUE(gone < told || timed_out < told) << log;
  if (gone < told) {
    // The secondary's own end of connection came first.
    const size_t logout = std::min(log.find("ended with its connection"),
                                   log.find(" logged out\n"));
    EXPECT_LT(logout, gone) << log;
  }
}

}  // namespace
