#pragma once

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/fake_clock.h"
#include "tests/support/scripted_peer.h"
#include "tool/command_context.h"
#include "tool/command_line.h"
#include "tool/link/service_connection.h"
#include "tool/tool_entry.h"
#include "tool/tool_options.h"

using Strings = std::vector<std::string>;

// Joins lines, each ended by a line feed.
inline std::string Lines(const Strings& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// Runs kovra in process against a UPS service that answers from a table on
// an ephemeral loopback port. The login is accepted unless a test says
// otherwise; a request without an answer gets "ERR 99".
class ToolTestBase : public ::testing::Test {
 protected:
  static constexpr size_t kMaxRequests = 1000;

  void SetUp() override {
    Answer("USR NAME manager", "OK");
    Answer("USR PASS quiet gate", "OK");
    peer_.SetHandler([this](const std::string& request) {
      std::string key = request.substr(0, request.find('\r'));
      std::lock_guard<std::mutex> lock(mutex_);
      // A command that never stops asking fails instead of hanging.
      if (requests_.size() >= kMaxRequests) return PeerReply::Close();
      requests_.push_back(key);
      auto it = answers_.find(key);
      return PeerReply::Text(it == answers_.end() ? "ERR 99\r" : it->second);
    });
    ASSERT_TRUE(peer_.Start());
  }

  // `request` and `reply` without their CR.
  void Answer(const std::string& request, const std::string& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[request] = reply + "\r";
  }
  void Fail(const std::string& request, int32_t code) {
    Answer(request, "ERR " + std::to_string(code));
  }
  // Requests received since the last Clear, without the login.
  Strings requests() {
    Strings commands;
    for (const std::string& request : all_requests()) {
      if (request.rfind("USR ", 0) != 0) commands.push_back(request);
    }
    return commands;
  }
  Strings all_requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  // Forgets the output and the requests, for tests that make several runs.
  void Clear() {
    out_.str("");
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
  }
  std::string output() const { return out_.str(); }

  // A whole run of kovra with `args` on a connection of its own, closed at
  // the end as the program's would be. Returns the exit status.
  int Run(const Strings& args) {
    Strings all = {"kovra"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> argv;
    for (const std::string& arg : all) argv.push_back(arg.c_str());
    ServiceConnection connection;
    connection.SetTimeouts(3000, 3000);
    ToolTarget target{&connection, "127.0.0.1", peer_.port(), &out_, &clock_};
    return RunTool(static_cast<int>(argv.size()), argv.data(), target);
  }
  // The output of a run that is expected to succeed.
  std::string RunOk(const Strings& args) {
    EXPECT_EQ(0, Run(args));
    return output();
  }

  // Parses `args`, connects and logs in, for tests that call a command
  // directly on connection_ with options_.
  CommandContext Prepare(const Strings& args) {
    Strings all = {"kovra"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> argv;
    for (const std::string& arg : all) argv.push_back(arg.c_str());
    EXPECT_TRUE(ParseCommandLine(static_cast<int>(argv.size()), argv.data(),
                                 &options_, out_));
    connection_.SetTimeouts(3000, 3000);
    EXPECT_TRUE(connection_.Connect("127.0.0.1", peer_.port()));
    EXPECT_EQ(0, connection_.Login());
    return CommandContext{&options_, &connection_, &out_, &clock_, 0};
  }

  std::mutex mutex_;
  std::map<std::string, std::string> answers_;
  Strings requests_;
  ServiceConnection connection_;
  ToolOptions options_;
  std::ostringstream out_;
  FakeClock clock_;
  // Last, so that its thread stops before the table it reads goes away.
  ScriptedPeer peer_;
};
