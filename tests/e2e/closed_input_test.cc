// upsagent started with its standard input closed, beside a simulated unit
// on the first serial port: it must end at once with status 0 and never
// open the port (a port opened as descriptor 0 would be read as the pipe).
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/e2e/sim_agent_rig.h"

namespace {

// Whether the wire log holds anything but the simulator's control lines.
bool HasLineBytes(const std::string& log) {
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(start, end - start);
    if (!line.empty() && line.find(" control ") == std::string::npos) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

TEST(ClosedInputTest, AgentWithStdinClosedExitsAtOnceAndTouchesNoPort) {
  SimAgentRig rig;
  std::string error;
  ASSERT_TRUE(rig.StartSim({"--protocol", "text"}, &error)) << error;
  ASSERT_TRUE(rig.StartAgentWithInputClosed({"2", "1"}, &error)) << error;
  int status = -1;
  ASSERT_TRUE(rig.WaitAgent(5000, &status)) << rig.Diagnostics();
  EXPECT_EQ(0, status);
  // Bytes the agent wrote would reach the log within the simulator's next
  // read; give it a moment, then look.
  usleep(500000);
  EXPECT_FALSE(HasLineBytes(rig.WireLog())) << rig.Diagnostics();
}

}  // namespace
