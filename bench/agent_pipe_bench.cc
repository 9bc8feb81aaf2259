// How fast the agent answers a burst of command lines on its pipe while no
// unit is connected (a NullProtocol answers every line). The whole agent
// loop runs over real pipes: a writer thread sends the burst at once, a
// reader thread takes the replies. Target: at least 50,000 lines per second.
//
// Run: build/<dir>/bench/agent_pipe_bench

#include <unistd.h>

#include <string>
#include <thread>

#include "agent/device.h"
#include "agent/media/linux_factory.h"
#include "agent/protocol/protocol_factory.h"
#include "benchmark/benchmark.h"
#include "common/time/system_clock.h"

namespace {

// A mix of status reads, property reads, unknown and malformed commands.
const char* const kCommands[] = {"S0\n", "S12\n", "R23\n", "R0 0\n",
                                 "W0\n", "X5\n",  "C3\n",  "R24\n"};

std::string MakeBurst(int64_t lines) {
  std::string burst;
  for (int64_t i = 0; i < lines; ++i) burst += kCommands[i % 8];
  return burst;
}

void WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote <= 0) break;
    done += static_cast<size_t>(wrote);
  }
}

int64_t CountLines(int fd) {
  int64_t lines = 0;
  char buffer[65536];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof(buffer));
    if (got <= 0) return lines;
    for (ssize_t i = 0; i < got; ++i) lines += buffer[i] == '\n';
  }
}

void BM_AgentAnswersCommandBurst(benchmark::State& state) {
  const int64_t lines = state.range(0);
  const std::string burst = MakeBurst(lines);
  int64_t answered = 0;
  for (auto _ : state) {
    int commands[2];
    int replies[2];
    if (pipe(commands) != 0 || pipe(replies) != 0) {
      state.SkipWithError("pipe failed");
      return;
    }
    std::thread writer([&] {
      WriteAll(commands[1], burst);
      close(commands[1]);
    });
    int64_t counted = 0;
    std::thread reader([&] {
      counted = CountLines(replies[0]);
      close(replies[0]);
    });
    {
      LinuxFactory platform;
      ProtocolFactory protocols(&platform, SystemClock::Instance());
      Device device(&platform, 0, 0);
      // The device's pipe owns and closes both descriptors.
      device.RunWith(commands[0], replies[1], &protocols);
    }
    writer.join();
    reader.join();
    answered += counted;
    if (counted != lines) state.SkipWithError("a line went unanswered");
  }
  state.counters["lines_per_second"] = benchmark::Counter(
      static_cast<double>(answered), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AgentAnswersCommandBurst)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
