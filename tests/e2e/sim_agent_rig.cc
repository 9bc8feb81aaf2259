#include "tests/e2e/sim_agent_rig.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/time/system_clock.h"

#include "tests/support/file_text.h"

namespace {

constexpr int kSimTimeoutMs = 10000;

int64_t NowMillis() { return SystemClock::Instance()->MonotonicMillis(); }

}  // namespace

bool SimAgentRig::StartSim(const std::vector<std::string>& extra_args,
                           std::string* error) {
  std::string link = folder_.Join("ttyS0");
  std::vector<std::string> args = {UPSSIM_PATH, "--link", link, "--log",
                                   folder_.Join("wire.log")};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  if (folder_.path().empty() || !sim_.Start(args, folder_.Join("upssim.err"))) {
    *error = "cannot start " UPSSIM_PATH;
    return false;
  }
  int64_t deadline = NowMillis() + kSimTimeoutMs;
  struct stat info {};
  int status = 0;
  while (lstat(link.c_str(), &info) != 0) {
    if (NowMillis() > deadline || sim_.Wait(0, &status)) {
      *error = "upssim did not create its link: " + Diagnostics();
      return false;
    }
    usleep(20000);
  }
  return true;
}

bool SimAgentRig::StartAgent(const std::vector<std::string>& args,
                             std::string* error) {
  return LaunchAgent(args, true, error);
}

bool SimAgentRig::StartAgentWithInputClosed(
    const std::vector<std::string>& args, std::string* error) {
  return LaunchAgent(args, false, error);
}

bool SimAgentRig::LaunchAgent(const std::vector<std::string>& args,
                              bool with_input, std::string* error) {
  std::vector<std::string> argv = {UPSAGENT_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  // One rig runs at a time in a test program, so the variable can be set
  // here for the agent to inherit.
  setenv("UPSAGENT_SERIAL_PATTERN", folder_.Join("ttyS%d").c_str(), 1);
  const std::string err = folder_.Join("upsagent.err");
  if (!(with_input ? agent_.Start(argv, err)
                   : agent_.StartWithInputClosed(argv, err))) {
    *error = "cannot start " UPSAGENT_PATH;
    return false;
  }
  return true;
}

std::string SimAgentRig::Agent(const std::string& command) {
  std::string reply;
  if (!agent_.WriteLine(command) || !agent_.ReadLine(kReplyTimeoutMs, &reply)) {
    reply.clear();
  }
  return reply;
}

bool SimAgentRig::AgentUntil(
    const std::string& command,
    const std::function<bool(const std::string&)>& accept, int timeout_ms,
    std::string* last) {
  constexpr int kPollMs = 500;
  int64_t deadline = NowMillis() + timeout_ms;
  while (!accept(*last = Agent(command))) {
    if (NowMillis() + kPollMs > deadline) return false;
    usleep(kPollMs * 1000);
  }
  return true;
}

std::string SimAgentRig::Sim(const std::string& line) {
  std::string answer;
  std::string reply;
  if (!sim_.WriteLine(line)) return answer;
  while (sim_.ReadLine(kSimTimeoutMs, &reply)) {
    answer += (answer.empty() ? "" : "\n") + reply;
    if (reply == "ok" || reply.compare(0, 7, "error: ") == 0) break;
  }
  return answer;
}

bool SimAgentRig::WireLogHas(const std::string& text, int timeout_ms) const {
  int64_t deadline = NowMillis() + timeout_ms;
  while (ReadFile(folder_.Join("wire.log")).find(text) == std::string::npos) {
    if (NowMillis() > deadline) return false;
    usleep(50000);
  }
  return true;
}

std::string SimAgentRig::WireLog() const {
  return ReadFile(folder_.Join("wire.log"));
}

std::string SimAgentRig::Diagnostics() const {
  return "\n--- upssim stderr ---\n" + ReadFile(folder_.Join("upssim.err")) +
         "\n--- upsagent stderr ---\n" +
         ReadFile(folder_.Join("upsagent.err")) + "\n--- wire log ---\n" +
         ReadFile(folder_.Join("wire.log"));
}

bool SimAgentRig::ReplyNumber(const std::string& reply, const std::string& echo,
                              int64_t* value) {
  if (reply.compare(0, echo.size() + 1, echo + " ") != 0) return false;
  const char* start = reply.c_str() + echo.size() + 1;
  char* end = nullptr;
  errno = 0;
  long long parsed = std::strtoll(start, &end, 10);
  if (errno != 0 || end == start || *end != '\0') return false;
  *value = parsed;
  return true;
}
