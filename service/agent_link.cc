#include "service/agent_link.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "common/service_wire.h"
#include "service/diagnostics.h"
#include "service/i_agent_process.h"

namespace {

constexpr size_t kMaxAgentLine = 64 * 1024;

AgentReply NoContactReply() {
  AgentReply reply;
  reply.kind = AgentReply::Kind::kError;
  reply.code = service_wire::kErrNoContact;
  return reply;
}

}  // namespace

AgentLink::AgentLink(const AgentLinkConfig& config, IAgentProcess* agent,
                     MediaSelection media)
    : config_(config),
      agent_(agent),
      media_(std::move(media)),
      backoff_ms_(config.restart_backoff_min_ms) {}

int AgentLink::ReplyFd() const { return running_ ? agent_->ReplyFd() : -1; }

void AgentLink::Start(int64_t now) {
  int32_t type = 0;
  int32_t index = 0;
  if (media_) media_(&type, &index);
  std::string error;
  in_.clear();
  if (on_reset_) on_reset_();
  if (!agent_->Start(type, index, &error)) {
    Diag("cannot start the agent: %s; next try in %lld ms", error.c_str(),
         static_cast<long long>(backoff_ms_));
    restart_at_ms_ = now + backoff_ms_;
    backoff_ms_ = std::min(backoff_ms_ * 2, config_.restart_backoff_max_ms);
    return;
  }
  running_ = true;
  started_ms_ = now;
  ++starts_;
  awaiting_first_reply_ = true;
  Diag("agent started with media type %d, index %d", type, index);
}

void AgentLink::Break(int64_t now, const std::string& reason) {
  std::string how = agent_->Kill();
  running_ = false;
  in_.clear();
  restart_at_ms_ = now + backoff_ms_;
  Diag("agent %s (%s); restarting in %lld ms", reason.c_str(), how.c_str(),
       static_cast<long long>(backoff_ms_));
  backoff_ms_ = std::min(backoff_ms_ * 2, config_.restart_backoff_max_ms);
  if (on_reset_) on_reset_();

  // Everything that waited for the agent learns that it is not in contact.
  std::vector<Command> failed;
  if (in_flight_) failed.push_back(std::move(*in_flight_));
  in_flight_.reset();
  for (Command& command : queue_) failed.push_back(std::move(command));
  queue_.clear();
  for (Command& command : failed) {
    if (command.done) command.done(NoContactReply());
  }
}

void AgentLink::Enqueue(const std::string& line, Done done) {
  if (!running_) {
    if (done) done(NoContactReply());
    return;
  }
  queue_.push_back({line, std::move(done)});
}

void AgentLink::Tick(int64_t now) {
  if (!running_ && now >= restart_at_ms_) Start(now);
  if (running_ && in_flight_ && now - in_flight_sent_ms_ >= ReplyBound()) {
    Break(now, "gave no reply to " + in_flight_->line);
  }
  if (running_ && now - started_ms_ >= config_.stable_ms) {
    backoff_ms_ = config_.restart_backoff_min_ms;
  }
  SendQueued(now);
}

void AgentLink::SendQueued(int64_t now) {
  if (!running_ || in_flight_ || queue_.empty()) return;
  in_flight_.emplace(std::move(queue_.front()));
  queue_.pop_front();
  std::string text = in_flight_->line + "\n";
  ssize_t written = write(agent_->CommandFd(), text.data(), text.size());
  if (written != static_cast<ssize_t>(text.size())) {
    Break(now, std::string("does not take commands: ") +
                   (written < 0 ? std::strerror(errno) : "short write"));
    return;
  }
  in_flight_sent_ms_ = now;
}

int64_t AgentLink::NextDeadline(int64_t far) const {
  int64_t next = far;
  if (!running_) next = std::min(next, restart_at_ms_);
  if (in_flight_) next = std::min(next, in_flight_sent_ms_ + ReplyBound());
  return next;
}

int64_t AgentLink::ReplyBound() const {
  return awaiting_first_reply_
             ? std::max(config_.detect_timeout_ms, config_.reply_timeout_ms)
             : config_.reply_timeout_ms;
}

void AgentLink::OnReadable(int64_t now) {
  char buffer[4096];
  while (running_) {
    ssize_t got = read(agent_->ReplyFd(), buffer, sizeof(buffer));
    if (got > 0) {
      in_.append(buffer, static_cast<size_t>(got));
      size_t newline;
      while (running_ && (newline = in_.find('\n')) != std::string::npos) {
        std::string line = in_.substr(0, newline);
        in_.erase(0, newline + 1);
        HandleLine(now, line);
      }
      if (!running_) return;
      if (in_.size() > kMaxAgentLine) {
        Break(now, "wrote an endless line");
        return;
      }
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    Break(now, got == 0 ? "closed its output" : std::strerror(errno));
    return;
  }
}

void AgentLink::HandleLine(int64_t now, const std::string& line) {
  if (!in_flight_) {
    Break(now, "wrote a line nobody asked for");
    return;
  }
  AgentReply reply = ParseAgentReply(in_flight_->line, line);
  if (reply.kind == AgentReply::Kind::kMismatch) {
    Break(now, "answered \"" + line.substr(0, 80) + "\" to \"" +
                   in_flight_->line + "\"");
    return;
  }
  awaiting_first_reply_ = false;
  // The command is done before its callback runs, which may queue more.
  Command done = std::move(*in_flight_);
  in_flight_.reset();
  if (done.done) done.done(reply);
}

void AgentLink::Stop(int32_t grace_ms) {
  agent_->Stop(grace_ms);
  running_ = false;
  queue_.clear();
  in_flight_.reset();
}
