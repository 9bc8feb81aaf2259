#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "service/i_agent_process.h"

// An agent that lives in the test process: a thread on the far side of two
// pipes reads command lines and answers them from a script. It records every
// line and every start, can hold a reply back until released, and can exit
// on request.
//
// Without a script entry an "S" command answers 0 and every other command
// answers error 1, as an agent does for what its unit lacks.
class FakeAgent final : public IAgentProcess {
 public:
  // A scripted reply that makes the agent exit without replying.
  static constexpr const char* kExit = "<exit>";

  ~FakeAgent() override { EndThread(); }

  bool Start(int32_t media_type, int32_t media_index, std::string*) override {
    EndThread();
    int commands[2];
    int replies[2];
    if (pipe2(commands, O_CLOEXEC) != 0) return false;
    if (pipe2(replies, O_CLOEXEC) != 0) {
      close(commands[0]);
      close(commands[1]);
      return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    starts_.emplace_back(media_type, media_index);
    changed_.notify_all();
    stopping_ = false;
    command_fd_ = commands[1];
    reply_fd_ = replies[0];
    fcntl(command_fd_, F_SETFL, O_NONBLOCK);
    fcntl(reply_fd_, F_SETFL, O_NONBLOCK);
    thread_ = std::thread(&FakeAgent::Serve, this, commands[0], replies[1]);
    return true;
  }
  int CommandFd() const override { return command_fd_; }
  int ReplyFd() const override { return reply_fd_; }
  std::string Kill() override {
    EndThread();
    return "killed";
  }
  void Stop(int32_t) override { EndThread(); }

  // The whole reply line (without newline) to a command line.
  void SetReply(const std::string& command, const std::string& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[command] = reply;
  }
  // The reply "echo value".
  void SetValue(const std::string& command, const std::string& value) {
    SetReply(command, command.substr(0, command.find(' ')) + " " + value);
  }

  // The next time the command arrives its reply waits for Release().
  void Hold(const std::string& command) {
    std::lock_guard<std::mutex> lock(mutex_);
    holds_.insert(command);
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    holding_ = false;
    changed_.notify_all();
  }

  // Waits up to millis until the command has been received count times in
  // all; true when it has.
  bool WaitForCommand(const std::string& command, int32_t count,
                      int32_t millis) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(millis),
                             [&] { return CountLocked(command) >= count; });
  }
  int32_t CountOf(const std::string& command) {
    std::lock_guard<std::mutex> lock(mutex_);
    return CountLocked(command);
  }

  // Every start as (media type, media index).
  std::vector<std::pair<int32_t, int32_t>> Starts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return starts_;
  }
  bool WaitForStarts(size_t count, int32_t millis) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(millis),
                             [&] { return starts_.size() >= count; });
  }

 private:
  // Answers line by line until the service closes the command pipe, a
  // scripted exit, or a held reply abandoned by EndThread().
  void Serve(int command_fd, int reply_fd) {
    std::string pending;
    char buffer[256];
    for (;;) {
      size_t newline = pending.find('\n');
      if (newline == std::string::npos) {
        ssize_t got = read(command_fd, buffer, sizeof(buffer));
        if (got <= 0) break;
        pending.append(buffer, static_cast<size_t>(got));
        continue;
      }
      std::string reply;
      if (!NextReply(pending.substr(0, newline), &reply)) break;
      pending.erase(0, newline + 1);
      reply += "\n";
      if (write(reply_fd, reply.data(), reply.size()) !=
          static_cast<ssize_t>(reply.size())) {
        break;
      }
    }
    close(command_fd);
    close(reply_fd);
  }

  // Records the line and makes its reply; false when the agent is to end.
  bool NextReply(const std::string& line, std::string* reply) {
    std::unique_lock<std::mutex> lock(mutex_);
    received_.push_back(line);
    changed_.notify_all();
    if (holds_.erase(line) > 0) {
      holding_ = true;
      changed_.wait(lock, [this] { return !holding_ || stopping_; });
      if (stopping_) return false;
    }
    auto found = replies_.find(line);
    std::string echo = line.substr(0, line.find(' '));
    if (found != replies_.end()) {
      *reply = found->second;
    } else {
      *reply = echo + (!echo.empty() && echo[0] == 'S' ? " 0" : "E 1");
    }
    return *reply != kExit;
  }

  int32_t CountLocked(const std::string& command) const {
    int32_t count = 0;
    for (const std::string& line : received_) count += line == command ? 1 : 0;
    return count;
  }

  void EndThread() {
    if (command_fd_ >= 0) close(command_fd_);
    command_fd_ = -1;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    if (reply_fd_ >= 0) close(reply_fd_);
    reply_fd_ = -1;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, std::string> replies_;
  std::set<std::string> holds_;
  bool holding_ = false;
  bool stopping_ = false;
  std::vector<std::string> received_;
  std::vector<std::pair<int32_t, int32_t>> starts_;
  std::thread thread_;
  int command_fd_ = -1;
  int reply_fd_ = -1;
};
