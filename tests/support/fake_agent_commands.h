#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "common/service_wire.h"
#include "service/agent_commands.h"
#include "service/agent_reply.h"

// Agent commands for tests of the pieces above the agent link: records
// every line, keeps the commands waiting for their reply, and lets the test
// answer the oldest with a reply line as the agent writes it ("S0 22000",
// "R24E 9"). While "not running", commands are answered at once with error
// 8, as the real link does.
class FakeAgentCommands final : public AgentCommands {
 public:
  void Enqueue(const std::string& line, Done done) override {
    lines_.push_back(line);
    if (!running_) {
      AgentReply reply;
      reply.kind = AgentReply::Kind::kError;
      reply.code = service_wire::kErrNoContact;
      if (done) done(reply);
      return;
    }
    waiting_.push_back({line, std::move(done)});
  }
  bool running() const override { return running_; }
  void ExpectDetection() override { ++detections_; }

  void set_running(bool running) { running_ = running; }

  // Answers the oldest waiting command with the agent's reply line; false
  // when none waits. A line that does not echo the command answers it as a
  // mismatch.
  bool Reply(const std::string& agent_line) {
    if (waiting_.empty()) return false;
    std::pair<std::string, Done> command = std::move(waiting_.front());
    waiting_.pop_front();
    if (command.second) {
      command.second(ParseAgentReply(command.first, agent_line));
    }
    return true;
  }
  // Answers the oldest waiting command with its echo and the value.
  bool ReplyValue(const std::string& value) {
    if (waiting_.empty()) return false;
    const std::string& line = waiting_.front().first;
    return Reply(line.substr(0, line.find(' ')) + " " + value);
  }

  // The oldest waiting command line, or "" when none waits.
  std::string Next() const {
    return waiting_.empty() ? std::string() : waiting_.front().first;
  }
  size_t waiting() const { return waiting_.size(); }
  // Every line ever queued, oldest first.
  const std::vector<std::string>& lines() const { return lines_; }
  void ClearLines() { lines_.clear(); }
  int32_t detections() const { return detections_; }

 private:
  bool running_ = true;
  std::deque<std::pair<std::string, Done>> waiting_;
  std::vector<std::string> lines_;
  int32_t detections_ = 0;
};
