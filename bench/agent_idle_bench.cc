// CPU time the real upsagent uses while idle: started with the automatic
// selection and no serial ports (so it looks for a unit once per period),
// left without commands for 10 s, then stopped by closing its input. The
// CPU time of the child is read from wait4(). Target: under 10 ms.
//
// Run: build/<dir>/bench/agent_idle_bench

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "benchmark/benchmark.h"

namespace {

void BM_AgentIdleCpu(benchmark::State& state) {
  const unsigned idle_seconds = static_cast<unsigned>(state.range(0));
  char folder[] = "/tmp/kovra-idle-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  const std::string pattern = std::string(folder) + "/ttyS%d";
  double cpu_millis = 0;
  for (auto _ : state) {
    int input[2];
    if (pipe(input) != 0) {
      state.SkipWithError("pipe failed");
      break;
    }
    pid_t child = fork();
    if (child == 0) {
      dup2(input[0], 0);
      close(input[0]);
      close(input[1]);
      setenv("UPSAGENT_SERIAL_PATTERN", pattern.c_str(), 1);
      execl(UPSAGENT_PATH, UPSAGENT_PATH, "1", "0",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(input[0]);
    sleep(idle_seconds);
    close(input[1]);
    int status = 0;
    struct rusage usage = {};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      state.SkipWithError("the agent did not exit with status 0");
      break;
    }
    cpu_millis =
        usage.ru_utime.tv_sec * 1000.0 + usage.ru_utime.tv_usec / 1000.0 +
        usage.ru_stime.tv_sec * 1000.0 + usage.ru_stime.tv_usec / 1000.0;
  }
  rmdir(folder);
  state.counters["agent_cpu_ms"] = cpu_millis;
}
BENCHMARK(BM_AgentIdleCpu)
    ->Arg(10)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
