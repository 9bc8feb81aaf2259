#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "service/i_agent_process.h"

// An agent process whose far ends of the two pipes the test holds itself,
// so the agent link can be driven from one thread: the test reads the
// command lines written so far and writes reply lines, or closes the reply
// pipe as an agent that exits. Records starts and kills, and can refuse a
// start.
class PipeAgentProcess final : public IAgentProcess {
 public:
  ~PipeAgentProcess() override { CloseAll(); }

  bool Start(int32_t media_type, int32_t media_index,
             std::string* error) override {
    starts_.emplace_back(media_type, media_index);
    if (fail_starts_ > 0) {
      --fail_starts_;
      *error = "refused by the test";
      return false;
    }
    CloseAll();
    int commands[2];
    int replies[2];
    if (pipe2(commands, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    if (pipe2(replies, O_CLOEXEC | O_NONBLOCK) != 0) {
      close(commands[0]);
      close(commands[1]);
      return false;
    }
    command_read_ = commands[0];
    command_write_ = commands[1];
    reply_read_ = replies[0];
    reply_write_ = replies[1];
    return true;
  }
  int CommandFd() const override { return command_write_; }
  int ReplyFd() const override { return reply_read_; }
  std::string Kill() override {
    ++kills_;
    CloseAll();
    return "killed";
  }
  void Stop(int32_t) override {
    ++stops_;
    CloseAll();
  }

  // The command lines written since the last call.
  std::vector<std::string> TakeCommands() {
    char buffer[4096];
    ssize_t got;
    while (command_read_ >= 0 &&
           (got = read(command_read_, buffer, sizeof(buffer))) > 0) {
      pending_.append(buffer, static_cast<size_t>(got));
    }
    std::vector<std::string> lines;
    size_t newline;
    while ((newline = pending_.find('\n')) != std::string::npos) {
      lines.push_back(pending_.substr(0, newline));
      pending_.erase(0, newline + 1);
    }
    return lines;
  }
  // Writes bytes to the reply pipe as the agent would.
  bool Write(const std::string& bytes) {
    return reply_write_ >= 0 &&
           write(reply_write_, bytes.data(), bytes.size()) ==
               static_cast<ssize_t>(bytes.size());
  }
  bool WriteLine(const std::string& line) { return Write(line + "\n"); }
  // The agent's end of its output: the link reads end of file.
  void CloseReplies() {
    if (reply_write_ >= 0) close(reply_write_);
    reply_write_ = -1;
  }

  void FailNextStarts(int32_t count) { fail_starts_ = count; }
  const std::vector<std::pair<int32_t, int32_t>>& starts() const {
    return starts_;
  }
  int32_t kills() const { return kills_; }
  int32_t stops() const { return stops_; }

 private:
  void CloseAll() {
    for (int* fd :
         {&command_read_, &command_write_, &reply_read_, &reply_write_}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
    pending_.clear();
  }

  int command_read_ = -1;
  int command_write_ = -1;
  int reply_read_ = -1;
  int reply_write_ = -1;
  std::string pending_;
  std::vector<std::pair<int32_t, int32_t>> starts_;
  int32_t fail_starts_ = 0;
  int32_t kills_ = 0;
  int32_t stops_ = 0;
};
