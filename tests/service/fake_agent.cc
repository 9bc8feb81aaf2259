#include "tests/service/fake_agent.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>

FakeAgent::~FakeAgent() { EndThread(); }

bool FakeAgent::Start(int32_t media_type, int32_t media_index,
                      std::string* error) {
  EndThread();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    starts_.emplace_back(media_type, media_index);
    changed_.notify_all();
    if (fail_starts_) {
      *error = "start refused by the test";
      return false;
    }
    stopping_ = false;
  }
  int commands[2];
  int replies[2];
  if (pipe2(commands, O_CLOEXEC) != 0) return false;
  if (pipe2(replies, O_CLOEXEC) != 0) {
    close(commands[0]);
    close(commands[1]);
    return false;
  }
  service_command_fd_ = commands[1];
  service_reply_fd_ = replies[0];
  fcntl(service_command_fd_, F_SETFL, O_NONBLOCK);
  fcntl(service_reply_fd_, F_SETFL, O_NONBLOCK);
  thread_ = std::thread(&FakeAgent::Serve, this, commands[0], replies[1]);
  return true;
}

std::string FakeAgent::Kill() {
  EndThread();
  return "killed";
}

void FakeAgent::Stop(int32_t) { EndThread(); }

void FakeAgent::EndThread() {
  if (service_command_fd_ >= 0) close(service_command_fd_);
  service_command_fd_ = -1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  if (service_reply_fd_ >= 0) close(service_reply_fd_);
  service_reply_fd_ = -1;
}

void FakeAgent::Serve(int command_fd, int reply_fd) {
  std::string pending;
  char buffer[256];
  for (;;) {
    ssize_t got = read(command_fd, buffer, sizeof(buffer));
    if (got <= 0) break;
    pending.append(buffer, static_cast<size_t>(got));
    size_t newline;
    bool crashed = false;
    while ((newline = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, newline);
      pending.erase(0, newline + 1);
      std::string reply;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        received_.push_back(line);
        changed_.notify_all();
        if (crashes_.erase(line) > 0) {
          crashed = true;
          break;
        }
        if (holds_.erase(line) > 0) {
          holding_ = true;
          changed_.wait(lock, [this] { return !holding_ || stopping_; });
          if (stopping_) {
            crashed = true;
            break;
          }
        }
        reply = Answer(line) + "\n";
      }
      if (write(reply_fd, reply.data(), reply.size()) !=
          static_cast<ssize_t>(reply.size())) {
        crashed = true;
        break;
      }
    }
    if (crashed) break;
  }
  close(command_fd);
  close(reply_fd);
}

std::string FakeAgent::Answer(const std::string& command) {
  auto found = replies_.find(command);
  if (found != replies_.end()) return found->second;
  std::string echo = command.substr(0, command.find(' '));
  if (!echo.empty() && echo[0] == 'S') return echo + " 0";
  return echo + "E 1";
}

void FakeAgent::SetReply(const std::string& command, const std::string& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[command] = reply;
}

void FakeAgent::SetValue(const std::string& command, const std::string& value) {
  SetReply(command, command.substr(0, command.find(' ')) + " " + value);
}

void FakeAgent::SetError(const std::string& command, int32_t code) {
  SetReply(command,
           command.substr(0, command.find(' ')) + "E " + std::to_string(code));
}

void FakeAgent::Hold(const std::string& command) {
  std::lock_guard<std::mutex> lock(mutex_);
  holds_.insert(command);
}

void FakeAgent::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  holding_ = false;
  changed_.notify_all();
}

void FakeAgent::CrashOn(const std::string& command) {
  std::lock_guard<std::mutex> lock(mutex_);
  crashes_.insert(command);
}

void FakeAgent::FailStarts(bool fail) {
  std::lock_guard<std::mutex> lock(mutex_);
  fail_starts_ = fail;
}

int32_t FakeAgent::CountOf(const std::string& command) {
  std::lock_guard<std::mutex> lock(mutex_);
  int32_t count = 0;
  for (const std::string& line : received_) count += line == command ? 1 : 0;
  return count;
}

bool FakeAgent::WaitForCommand(const std::string& command, int32_t count,
                               int32_t millis) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(millis), [&] {
    int32_t seen = 0;
    for (const std::string& line : received_) seen += line == command ? 1 : 0;
    return seen >= count;
  });
}

std::vector<std::string> FakeAgent::Received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

std::vector<std::pair<int32_t, int32_t>> FakeAgent::Starts() {
  std::lock_guard<std::mutex> lock(mutex_);
  return starts_;
}

bool FakeAgent::WaitForStarts(size_t count, int32_t millis) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(millis),
                           [&] { return starts_.size() >= count; });
}
