// kovrad serving `kovra status`: the whole stack of programs (upssim as a
// P99 unit on a pseudo-terminal, kovrad with the real upsagent, and the kovra
// binary) in a temporary folder. Measures the wall time of one complete
// `kovra status` run (process start, login, every status item, exit), on an
// idle agent and while a second client keeps the agent in serial exchanges;
// then kovrad's resident memory and its CPU time over 10 s of idling.
// Targets: median at most 4 ms, resident memory at most 4 MiB, idle CPU
// only for its timers.
//
// kovra always connects to 127.0.0.1:8855, so nothing else may listen there.
// Run: build/<dir>/bench/kovrad_status_bench

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "benchmark/benchmark.h"
#include "tests/support/service_client.h"

extern char** environ;

namespace {

std::string BuildDir() {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length <= 0) return ".";
  std::string path(self, static_cast<size_t>(length));
  path = path.substr(0, path.rfind('/'));  // .../bench
  return path.substr(0, path.rfind('/'));  // the build folder
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& out,
            const std::string& err, int stdin_fd = -1) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdin_fd >= 0) posix_spawn_file_actions_adddup2(&actions, stdin_fd, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0644);
  std::vector<char*> argv;
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) !=
      0) {
    pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// True when something already accepts connections on 127.0.0.1:8855.
bool PortTaken() {
  ServiceClient probe;
  return probe.Connect(8855);
}

// The running programs, started once for every benchmark of the run.
class Stack {
 public:
  ~Stack() { Stop(); }

  bool Start(std::string* error) {
    if (PortTaken()) {
      *error = "port 8855 is taken by another program";
      return false;
    }
    std::string build = BuildDir();
    char folder[] = "/tmp/kovrad-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
      *error = "mkdtemp failed";
      return false;
    }
    dir_ = folder;
    int control[2];
    if (pipe(control) != 0) return false;
    sim_ = Spawn({build + "/sim/upssim", "--link", dir_ + "/ttyS0"},
                 "/dev/null", dir_ + "/upssim.err", control[0]);
    close(control[0]);
    sim_control_ = control[1];
    for (int i = 0; i < 100 && access((dir_ + "/ttyS0").c_str(), F_OK) != 0;
         ++i) {
      usleep(50000);
    }
    setenv("UPSAGENT_SERIAL_PATTERN", (dir_ + "/ttyS%d").c_str(), 1);
    // No configuration file: an installed one must not reach this kovrad.
    kovrad_ = Spawn({build + "/service/kovrad", "--config", "/dev/null",
                     "--state-dir", dir_ + "/state",
                     "--agent", build + "/agent/upsagent"},
                    "/dev/null", dir_ + "/kovrad.err");
    kovra_ = build + "/tool/kovra";
    // Until the unit is detected (at most 60 s).
    ServiceClient client;
    if (Eventually(
            [&] {
              return client.Connect(8855) && client.Login() &&
                     client.Transact("DEV STATUS_CONNECT") == "1" &&
                     client.Transact("DEV PROP_PORTTYPE") == "2";
            },
            60000, 500)) {
      return true;
    }
    *error = "the unit was not detected: " + Slurp(dir_ + "/kovrad.err");
    return false;
  }

  void Stop() {
    if (kovrad_ > 0) {
      kill(kovrad_, SIGTERM);
      waitpid(kovrad_, nullptr, 0);
      kovrad_ = -1;
    }
    if (sim_ > 0) {
      kill(sim_, SIGTERM);
      waitpid(sim_, nullptr, 0);
      sim_ = -1;
    }
    if (sim_control_ >= 0) close(sim_control_);
    sim_control_ = -1;
    if (!dir_.empty()) {
      std::string command = "rm -rf '" + dir_ + "'";
      int ignored = system(command.c_str());
      (void)ignored;
      dir_.clear();
    }
  }

  // Wall time of one `kovra status` run, in seconds; negative on failure.
  double RunStatus() {
    auto start = std::chrono::steady_clock::now();
    pid_t pid = Spawn({kovra_, "status"}, "/dev/null", "/dev/null");
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      return -1;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                         start)
        .count();
  }

  pid_t kovrad() const { return kovrad_; }

 private:
  std::string dir_;
  std::string kovra_;
  pid_t sim_ = -1;
  pid_t kovrad_ = -1;
  int sim_control_ = -1;
};

Stack* TheStack(benchmark::State& state) {
  static Stack* stack = nullptr;
  static std::string error;
  if (stack == nullptr && error.empty()) {
    stack = new Stack;
    if (!stack->Start(&error)) {
      delete stack;
      stack = nullptr;
      if (error.empty()) error = "the programs did not start";
    }
    if (stack != nullptr) {
      std::atexit([] {
        delete stack;
        stack = nullptr;
      });
    }
  }
  if (stack == nullptr) state.SkipWithError(error.c_str());
  return stack;
}

void Report(benchmark::State& state, std::vector<double> times) {
  if (times.empty()) return;
  std::sort(times.begin(), times.end());
  state.counters["median_ms"] = times[times.size() / 2] * 1000;
  state.counters["p90_ms"] = times[times.size() * 9 / 10] * 1000;
  state.counters["max_ms"] = times.back() * 1000;
}

void BM_KovraStatus(benchmark::State& state) {
  Stack* stack = TheStack(state);
  if (stack == nullptr) return;
  std::vector<double> times;
  for (auto _ : state) {
    double seconds = stack->RunStatus();
    if (seconds < 0) {
      state.SkipWithError("kovra status failed");
      break;
    }
    state.SetIterationTime(seconds);
    times.push_back(seconds);
  }
  Report(state, times);
}
BENCHMARK(BM_KovraStatus)
    ->Iterations(300)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A second client keeps the agent busy: every cold-start write that changes
// the setting goes to the unit as a serial exchange, one after another.
void BM_KovraStatusWhileAgentBusy(benchmark::State& state) {
  Stack* stack = TheStack(state);
  if (stack == nullptr) return;
  std::atomic<bool> stop{false};
  std::atomic<int> exchanges{0};
  std::thread busy([&] {
    ServiceClient client;
    if (!client.Connect(8855) || !client.Login()) return;
    for (int value = 1; !stop.load(); value ^= 1) {
      if (client.Transact("DEV SET_PROP_COLDSTART " + std::to_string(value),
                          10000) != "OK") {
        break;
      }
      ++exchanges;
    }
  });
  std::vector<double> times;
  for (auto _ : state) {
    double seconds = stack->RunStatus();
    if (seconds < 0) {
      state.SkipWithError("kovra status failed");
      break;
    }
    state.SetIterationTime(seconds);
    times.push_back(seconds);
  }
  stop.store(true);
  busy.join();
  Report(state, times);
  state.counters["agent_exchanges"] = exchanges.load();
}
BENCHMARK(BM_KovraStatusWhileAgentBusy)
    ->Iterations(300)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Resident memory after the runs above, and CPU time over 10 s idle.
void BM_KovradMemoryAndIdleCpu(benchmark::State& state) {
  Stack* stack = TheStack(state);
  if (stack == nullptr) return;
  auto read_cpu_ticks = [&] {
    std::string stat =
        Slurp("/proc/" + std::to_string(stack->kovrad()) + "/stat");
    size_t close_paren = stat.rfind(')');
    std::istringstream fields(stat.substr(close_paren + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14) utime = std::atoll(field.c_str());
      if (i == 15) stime = std::atoll(field.c_str());
    }
    return utime + stime;
  };
  double rss_kib = 0;
  double idle_cpu_ms = 0;
  for (auto _ : state) {
    long long before = read_cpu_ticks();
    sleep(10);
    long long after = read_cpu_ticks();
    idle_cpu_ms = (after - before) * 1000.0 / sysconf(_SC_CLK_TCK);
    std::istringstream status(
        Slurp("/proc/" + std::to_string(stack->kovrad()) + "/status"));
    std::string line;
    while (std::getline(status, line)) {
      if (line.compare(0, 6, "VmRSS:") == 0)
        rss_kib = std::atof(line.c_str() + 6);
    }
  }
  state.counters["rss_kib"] = rss_kib;
  state.counters["idle_cpu_ms_per_10s"] = idle_cpu_ms;
}
BENCHMARK(BM_KovradMemoryAndIdleCpu)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
