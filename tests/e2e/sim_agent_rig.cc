#include "tests/e2e/sim_agent_rig.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

int64_t NowMillis() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

bool SimAgentRig::StartSim(const std::vector<std::string>& extra_args,
                           std::string* error) {
  if (folder_.path().empty()) {
    *error = "no temporary folder";
    return false;
  }
  std::string link = folder_.File("ttyS0");
  std::vector<std::string> args = {UPSSIM_PATH, "--link", link, "--log",
                                   folder_.File("wire.log")};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  if (!sim_.Start(args, {}, folder_.File("upssim.err"))) {
    *error = "cannot start " UPSSIM_PATH;
    return false;
  }
  int64_t deadline = NowMillis() + kSimTimeoutMs;
  struct stat info {};
  while (lstat(link.c_str(), &info) != 0) {
    int status = 0;
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
  std::vector<std::string> argv = {UPSAGENT_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> environment = {"UPSAGENT_SERIAL_PATTERN=" +
                                          folder_.File("ttyS%d")};
  if (!agent_.Start(argv, environment, folder_.File("upsagent.err"))) {
    *error = "cannot start " UPSAGENT_PATH;
    return false;
  }
  return true;
}

std::string SimAgentRig::Agent(const std::string& command) {
  std::string reply;
  if (!agent_.WriteLine(command)) return reply;
  if (!agent_.ReadLine(kReplyTimeoutMs, &reply)) reply.clear();
  return reply;
}

bool SimAgentRig::AgentUntil(
    const std::string& command,
    const std::function<bool(const std::string&)>& accept, int timeout_ms,
    std::string* last, int poll_ms) {
  int64_t deadline = NowMillis() + timeout_ms;
  while (true) {
    *last = Agent(command);
    if (accept(*last)) return true;
    if (NowMillis() + poll_ms > deadline) return false;
    usleep(static_cast<useconds_t>(poll_ms) * 1000);
  }
}

std::string SimAgentRig::Sim(const std::string& line) {
  std::string answer;
  if (!sim_.WriteLine(line)) return answer;
  std::string reply;
  while (sim_.ReadLine(kSimTimeoutMs, &reply)) {
    if (!answer.empty()) answer += "\n";
    answer += reply;
    if (reply == "ok" || reply.compare(0, 7, "error: ") == 0) break;
  }
  return answer;
}

std::string SimAgentRig::WireLogText() const {
  return ReadFile(folder_.File("wire.log"));
}

bool SimAgentRig::WireLogHas(const std::string& text, int timeout_ms) const {
  int64_t deadline = NowMillis() + timeout_ms;
  while (WireLogText().find(text) == std::string::npos) {
    if (NowMillis() > deadline) return false;
    usleep(50000);
  }
  return true;
}

std::string SimAgentRig::Diagnostics() const {
  return "\n--- upssim stderr ---\n" + ReadFile(folder_.File("upssim.err")) +
         "\n--- upsagent stderr ---\n" +
         ReadFile(folder_.File("upsagent.err")) + "\n--- wire log ---\n" +
         WireLogText();
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
