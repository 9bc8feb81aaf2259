#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/fake_clock.h"
#include "tests/tool/fake_service.h"
#include "tool/command_context.h"
#include "tool/command_line.h"
#include "tool/link/service_connection.h"
#include "tool/tool_entry.h"
#include "tool/tool_options.h"

// Runs kovra's commands in process against a FakeService and keeps what
// they print.
class ToolTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.Start());
    // Short waits: a reply that never comes fails the test quickly.
    connection_.SetTimeouts(3000, 3000);
  }

  // Forgets the output so far, for tests that make several runs.
  void ClearOutput() { out_.str(""); }

  // A whole run of kovra with `args` (the program name is added) on a
  // connection of its own, closed at the end as the program's would be, so
  // that one test can make several runs. Returns the exit status.
  int Run(const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"kovra"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    ServiceConnection connection;
    connection.SetTimeouts(3000, 3000);
    ToolTarget target;
    target.connection = &connection;
    target.host = "127.0.0.1";
    target.port = service_.port();
    target.out = &out_;
    target.clock = &clock_;
    return RunTool(static_cast<int>(argv.size()), argv.data(), target);
  }

  // Parses `args`, connects and logs in, for tests that call a command
  // directly.
  CommandContext Prepare(const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"kovra"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::ostringstream parse_messages;
    EXPECT_TRUE(ParseCommandLine(static_cast<int>(argv.size()), argv.data(),
                                 &options_, parse_messages))
        << parse_messages.str();
    EXPECT_TRUE(connection_.Connect("127.0.0.1", service_.port()));
    EXPECT_EQ(0, connection_.Login());
    CommandContext context;
    context.options = &options_;
    context.connection = &connection_;
    context.out = &out_;
    context.clock = &clock_;
    return context;
  }

  std::string output() const { return out_.str(); }

  FakeService service_;
  // The connection of Prepare.
  ServiceConnection connection_;
  ToolOptions options_;
  std::ostringstream out_;
  FakeClock clock_;
};

// Joins lines, each ended by a line feed.
inline std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}
