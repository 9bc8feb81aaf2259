// kovrad's HTTP endpoint between the real programs: upssim plays a P99 unit
// on a pseudo-terminal, kovrad (with --http-listen) runs the real upsagent
// against it, and the endpoint is read over loopback by the tools that will
// read it in use: promtool, Python's json and headless Chromium. A test
// whose tool is not installed is skipped with the reason. Every wait is
// bounded, with room to spare.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/file_text.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"

namespace {

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
}

bool HaveProgram(const std::string& name) {
  std::string command = "command -v " + name + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// Runs a shell command and returns its standard output; *status gets its
// exit status (-1 when it did not end normally).
std::string RunShell(const std::string& command, int* status) {
  FILE* out = popen(command.c_str(), "r");
  std::string text;
  if (out == nullptr) {
    *status = -1;
    return text;
  }
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof(chunk), out)) > 0)
    text.append(chunk, got);
  int raw = pclose(out);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return text;
}

// One HTTP/1.0 GET on loopback; the body, or "" on any failure (the whole
// exchange is bounded by 5 s).
std::string HttpGet(uint16_t port, const std::string& path) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return "";
  struct sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string response;
  if (connect(fd, reinterpret_cast<struct sockaddr*>(&address),
              sizeof(address)) == 0) {
    std::string request =
        "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
      struct pollfd polled = {fd, POLLIN, 0};
      char chunk[4096];
      for (int rounds = 0; rounds < 1000 && poll(&polled, 1, 5000) == 1;
           ++rounds) {
        ssize_t got = recv(fd, chunk, sizeof(chunk), 0);
        if (got <= 0) break;
        response.append(chunk, static_cast<size_t>(got));
      }
    }
  }
  close(fd);
  size_t body = response.find("\r\n\r\n");
  if (response.compare(0, 12, "HTTP/1.1 200") != 0 ||
      body == std::string::npos) {
    return "";
  }
  return response.substr(body + 4);
}

class KovradHttpTest : public ::testing::Test {
 protected:
  // Starts the simulator, then kovrad with the endpoint on a free loopback
  // port, and waits until kovrad has detected the unit.
  void SetUp() override {
    ASSERT_TRUE(sim_.Start({UPSSIM_PATH, "--link", dir_.Join("ttyS0")},
                           dir_.Join("upssim.err")));
    ASSERT_TRUE(Eventually(
        [&] { return access(dir_.Join("ttyS0").c_str(), F_OK) == 0; }, 10000,
        20))
        << ReadFile(dir_.Join("upssim.err"));

    setenv("UPSAGENT_SERIAL_PATTERN", dir_.Join("ttyS%d").c_str(), 1);
    ASSERT_TRUE(kovrad_.Start(
        {KOVRAD_PATH, "--config", "/dev/null", "--nut-listen", "off",
         "--state-dir", dir_.Join("state"), "--agent", UPSAGENT_PATH,
         "--http-listen", "127.0.0.1:0"},
        dir_.Join("kovrad.err")));
    // kovrad names its HTTP port once both listeners are open, so the client
    // below reaches this kovrad, not one of another test run.
    const std::string kServing = "serving HTTP on 127.0.0.1:";
    std::string log;
    ASSERT_TRUE(Eventually(
        [&] {
          log = ReadFile(dir_.Join("kovrad.err"));
          return Contains(log, kServing);
        },
        30000, 50))
        << Diagnostics();
    port_ = static_cast<uint16_t>(std::strtol(
        log.c_str() + log.find(kServing) + kServing.size(), nullptr, 10));
    ASSERT_TRUE(client_.Connect(8855) && client_.Login()) << Diagnostics();
    ASSERT_NE(0, port_);
    ASSERT_TRUE(Eventually(
        [&] {
          return Contains(HttpGet(port_, "/metrics"),
                          "\nkovra_ups_connected 1\n");
        },
        60000, 200))
        << Diagnostics();
  }

  void TearDown() override {
    int status = 0;
    kovrad_.Signal(SIGTERM);
    EXPECT_TRUE(kovrad_.Wait(15000, &status));
  }

  void Sim(const std::string& line) { ASSERT_TRUE(sim_.WriteLine(line)); }

  std::string Kovra(const std::string& args) {
    int status = 0;
    return RunShell("timeout 30 '" KOVRA_PATH "' " + args + " 2>/dev/null",
                    &status);
  }

  std::string Diagnostics() {
    return "\nkovrad:\n" + ReadFile(dir_.Join("kovrad.err")) + "\nupssim:\n" +
           ReadFile(dir_.Join("upssim.err"));
  }

  TempDir dir_;
  ServiceClient client_;
  ChildProcess sim_;
  ChildProcess kovrad_;  // ends first, before the simulator
  uint16_t port_ = 0;
};

TEST_F(KovradHttpTest, MetricsPassPromtoolAndFollowAUtilityFailure) {
  std::string metrics = HttpGet(port_, "/metrics");
  EXPECT_TRUE(Contains(metrics, "\nkovra_ups_on_battery 0\n")) << metrics;
  EXPECT_TRUE(Contains(metrics, "\nkovra_ups_input_voltage_volts ")) << metrics;
  EXPECT_TRUE(Contains(metrics, "\nkovra_agent_restarts_total 0\n")) << metrics;
  EXPECT_TRUE(Contains(
      metrics, "kovra_events_total{code=\"4\",event=\"power_failure\"} 0"))
      << metrics;

  Sim("utility fail");
  ASSERT_TRUE(Eventually(
      [&] {
        metrics = HttpGet(port_, "/metrics");
        return Contains(metrics, "\nkovra_ups_on_battery 1\n") &&
               Contains(metrics,
                        "kovra_events_total{code=\"4\","
                        "event=\"power_failure\"} 1");
      },
      30000, 200))
      << metrics << Diagnostics();

  if (!HaveProgram("promtool")) {
    GTEST_SKIP() << "promtool (Debian's prometheus) is not installed";
  }
  WriteFile(dir_.Join("metrics.txt"), metrics);
  int status = 0;
  std::string report = RunShell(
      "promtool check metrics < '" + dir_.Join("metrics.txt") + "' 2>&1",
      &status);
  EXPECT_EQ(0, status) << report;
  EXPECT_EQ("", report) << metrics;
}

TEST_F(KovradHttpTest, StatusJsonParsesWithTheSimulatorsValues) {
  if (!HaveProgram("python3")) GTEST_SKIP() << "python3 is not installed";
  // The unit's properties are asked once contact is confirmed.
  std::string json;
  ASSERT_TRUE(Eventually(
      [&] {
        json = HttpGet(port_, "/api/status");
        return Contains(json, "\"model\":\"");
      },
      20000, 200))
      << json;
  std::string information = Kovra("information");
  const std::string kModel = "UPS model : ";
  size_t at = information.find(kModel);
  ASSERT_NE(std::string::npos, at) << information;
  std::string model = information.substr(at + kModel.size());
  model = model.substr(0, model.find('\n'));
  while (!model.empty() && model.back() == ' ') model.pop_back();

  WriteFile(dir_.Join("status.json"), json);
  WriteFile(dir_.Join("model.txt"), model);
  // Prints one line per failed check, nothing when all pass.
  WriteFile(dir_.Join("check.py"), R"(import json, sys
d = json.load(open(sys.argv[1]))
model = open(sys.argv[2]).read()
v = d["values"]
checks = [
    ("connected", d["connected"] is True),
    ("on_battery", d["on_battery"] is False),
    ("battery_low", d["battery_low"] is False),
    ("input voltage", 90 <= v["input_voltage_volts"] <= 260),
    ("output voltage", 90 <= v["output_voltage_volts"] <= 260),
    ("capacity", 1 <= v["battery_capacity_percent"] <= 100),
    ("load", 0 <= v["load_percent"] <= 150),
    ("frequency", 45 <= v["output_frequency_hertz"] <= 65),
    ("model", d["model"].strip() == model.strip()),
    ("ratings", any(x is not None for x in d["ratings"].values())),
    ("age", 0 <= d["snapshot"]["age_seconds"] < 15),
    ("started counted", d["event_counts"]["service_started"] == 1),
]
for name, ok in checks:
    if not ok:
        print("wrong " + name)
)");
  int status = 0;
  std::string report = RunShell("python3 '" + dir_.Join("check.py") + "' '" +
                                    dir_.Join("status.json") + "' '" +
                                    dir_.Join("model.txt") + "' 2>&1",
                                &status);
  EXPECT_EQ(0, status) << report << json;
  EXPECT_EQ("", report) << json;
}

// The page's charts draw the status records: they are written every second
// here, and the page is checked once a few are in, during a utility failure
// so that the state and the event list have something to show.
TEST_F(KovradHttpTest, PageInChromiumShowsTheStateAndChartsTheRecords) {
  if (!HaveProgram("python3")) GTEST_SKIP() << "python3 is not installed";
  if (!HaveProgram("chromium")) {
    GTEST_SKIP() << "chromium (Debian's package) is not installed";
  }
  ASSERT_EQ("OK", client_.Transact("POL service.record rate=1"));
  Sim("utility fail");
  ASSERT_TRUE(Eventually(
      [&] {
        std::string records = HttpGet(port_, "/api/records?limit=100");
        size_t count = 0;
        for (size_t at = records.find("\"time\""); at != std::string::npos;
             at = records.find("\"time\"", at + 1)) {
          ++count;
        }
        return count >= 8 && Contains(HttpGet(port_, "/metrics"),
                                      "\nkovra_ups_on_battery 1\n");
      },
      60000, 500))
      << Diagnostics();
  mkdir(E2E_OUTPUT_DIR, 0755);
  std::string screenshot = std::string(E2E_OUTPUT_DIR) + "/status-page.png";
  int status = 0;
  std::string report = RunShell(
      "timeout 240 python3 '" HTTP_PAGE_CHECK "' --url http://127.0.0.1:" +
          std::to_string(port_) +
          "/ --expect-state battery --min-points 8 --screenshot '" +
          screenshot + "' 2>&1",
      &status);
  if (status == 77) GTEST_SKIP() << report;
  EXPECT_EQ(0, status) << report << Diagnostics();
  std::printf("%sscreenshot: %s\n", report.c_str(), screenshot.c_str());
}

}  // namespace
