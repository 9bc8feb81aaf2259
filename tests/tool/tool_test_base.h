#pragma once

#include <gtest/gtest.h>

#include <iterator>
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

// "kovra" followed by `args`, as a main function receives them.
class Argv {
 public:
  explicit Argv(const Strings& args) : args_(args) {
    pointers_.push_back("kovra");
    for (const std::string& arg : args_) pointers_.push_back(arg.c_str());
  }
  int count() const { return static_cast<int>(pointers_.size()); }
  const char* const* data() const { return pointers_.data(); }

 private:
  Strings args_;
  std::vector<const char*> pointers_;
};

// Runs kovra in process against a UPS service that answers from a table on
// an ephemeral loopback port. The login is accepted unless a test says
// otherwise; a request without an answer gets "ERR 99".
class ToolTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    AnswerAll(Strings{"USR NAME manager", "OK", "USR PASS quiet gate", "OK"});
    peer_.SetHandler([this](const std::string& request) {
      std::lock_guard<std::mutex> lock(mutex_);
      // A command that never stops asking fails instead of hanging.
      if (++answered_ > 1000) return PeerReply{{}, 0, true};
      auto it = answers_.find(request.substr(0, request.size() - 1));
      return PeerReply{{it == answers_.end() ? "ERR 99\r" : it->second}};
    });
    ASSERT_TRUE(peer_.Start());
  }

  // `request` and `reply` without their CR.
  void Answer(const std::string& request, const std::string& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[request] = reply + "\r";
  }
  // Answers given as request, reply, request, reply, ...
  template <typename List>
  void AnswerAll(const List& answers) {
    for (size_t i = 0; i + 1 < std::size(answers); i += 2) {
      Answer(answers[i], answers[i + 1]);
    }
  }
  void Fail(const std::string& request, int32_t code) {
    Answer(request, "ERR " + std::to_string(code));
  }
  // Requests received since the last Clear, without their CR; requests()
  // leaves out the login.
  Strings all_requests() {
    Strings all = peer_.requests();
    Strings since(all.begin() + static_cast<ptrdiff_t>(cleared_), all.end());
    for (std::string& request : since) request.pop_back();
    return since;
  }
  Strings requests() {
    Strings commands;
    for (const std::string& request : all_requests()) {
      if (request.rfind("USR ", 0) != 0) commands.push_back(request);
    }
    return commands;
  }
  // Forgets the output and the requests, for tests that make several runs.
  void Clear() {
    out_.str("");
    cleared_ = peer_.requests().size();
  }
  std::string output() const { return out_.str(); }

  // A whole run of kovra with `args` on a connection of its own. Returns the
  // exit status.
  int Run(const Strings& args) {
    Argv argv(args);
    ServiceConnection connection;
    connection.SetTimeouts(3000, 3000);
    ToolTarget target{&connection, "127.0.0.1", peer_.port(), &out_, &clock_};
    return RunTool(argv.count(), argv.data(), target);
  }
  // The output of a run that is expected to succeed.
  std::string RunOk(const Strings& args) {
    EXPECT_EQ(0, Run(args));
    return output();
  }

  // Parses `args`, connects and logs in, for tests that call a command
  // directly on connection_ with options_.
  CommandContext Prepare(const Strings& args) {
    Argv argv(args);
    EXPECT_TRUE(ParseCommandLine(argv.count(), argv.data(), &options_, out_));
    connection_.SetTimeouts(3000, 3000);
    EXPECT_TRUE(connection_.Connect("127.0.0.1", peer_.port()));
    EXPECT_EQ(0, connection_.Login());
    return CommandContext{&options_, &connection_, &out_, &clock_, 0};
  }

  std::mutex mutex_;
  std::map<std::string, std::string> answers_;
  int32_t answered_ = 0;
  size_t cleared_ = 0;
  ServiceConnection connection_;
  ToolOptions options_;
  std::ostringstream out_;
  FakeClock clock_;
  // Last, so that its thread stops before the table it reads goes away.
  ScriptedPeer peer_;
};
