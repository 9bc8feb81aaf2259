#include "service/service.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/service_wire.h"
#include "common/time/clock.h"
#include "service/diagnostics.h"
#include "service/i_agent_process.h"
#include "service/log_store.h"
#include "service/parameter_store.h"

namespace {

using service_wire::kLoginPassword;
using service_wire::kLoginUser;
constexpr int32_t kMaxLoginFailures = 3;
constexpr size_t kMaxAgentLine = 64 * 1024;

using service_wire::kErrInvalidValue;
using service_wire::kErrLogin;
using service_wire::kErrNoContact;
using service_wire::kErrRequestTooLong;
using service_wire::kErrStoreFailed;
using service_wire::kErrUnknownRequest;

std::string ErrorReply(int32_t code) { return "ERR " + std::to_string(code); }

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// "YYYY/MM/DD HH:MM:SS" in local time. Written with the C library alone:
// the service keeps out of the stream and locale machinery so that little
// of the C++ runtime stays resident.
std::string LocalTimeText() {
  time_t now = time(nullptr);
  struct tm fields;
  char text[32] = "1970/01/01 00:00:00";
  if (localtime_r(&now, &fields) != nullptr) {
    strftime(text, sizeof(text), "%Y/%m/%d %H:%M:%S", &fields);
  }
  return text;
}

AgentReply NoContactReply() {
  AgentReply reply;
  reply.kind = AgentReply::Kind::kError;
  reply.code = kErrNoContact;
  return reply;
}

}  // namespace

Service::Service(const ServiceConfig& config, IAgentProcess* agent,
                 Clock* clock, ParameterStore* params, LogStore* logs)
    : config_(config),
      agent_(agent),
      clock_(clock),
      params_(params),
      logs_(logs),
      backoff_ms_(config.restart_backoff_min_ms),
      detector_(config.thresholds) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    wake_read_ = fds[0];
    wake_write_ = fds[1];
  }
}

Service::~Service() {
  CloseAll();
  if (hook_thread_.joinable()) hook_thread_.join();
  if (wake_read_ >= 0) close(wake_read_);
  if (wake_write_ >= 0) close(wake_write_);
}

bool Service::Listen(std::string* error) {
  std::string host =
      config_.listen_host == "localhost" ? "127.0.0.1" : config_.listen_host;
  struct sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  address.sin_family = AF_INET;
  address.sin_port = htons(config_.listen_port);
  if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    *error = "not an IPv4 address: " + config_.listen_host;
    return false;
  }
  bool loopback = (ntohl(address.sin_addr.s_addr) >> 24) == 127;
  if (!loopback && !config_.allow_remote) {
    // The login is fixed and public, so only local clients are served
    // unless the administrator says otherwise.
    *error = "refusing to listen on " + host +
             ", which is not a loopback address (use --allow-remote)";
    return false;
  }
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket failed: ") + std::strerror(errno);
    return false;
  }
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  if (bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof(address)) !=
          0 ||
      listen(fd, 128) != 0) {
    *error = "cannot listen on " + host + ":" +
             std::to_string(config_.listen_port) + ": " + std::strerror(errno);
    close(fd);
    return false;
  }
  socklen_t length = sizeof(address);
  getsockname(fd, reinterpret_cast<struct sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  listen_fd_ = fd;
  return true;
}

void Service::Stop() {
  stop_.store(true);
  Wake();
}

void Service::Wake() {
  if (wake_write_ >= 0) {
    char byte = 1;
    ssize_t ignored = write(wake_write_, &byte, 1);
    (void)ignored;
  }
}

int Service::Run() {
  // Writes to a client or agent that went away must fail, not kill us.
  signal(SIGPIPE, SIG_IGN);
  int64_t now = clock_->MonotonicMillis();
  snapshot_.taken_ms = now;
  next_poll_ms_ = now;
  next_record_ms_ =
      now + static_cast<int64_t>(params_->Value(kKeyRecordRate)) * 1000;
  LogEvent(kEventServiceStarted);
  StartAgent(now);

  std::vector<struct pollfd> fds;
  std::vector<uint64_t> owners;
  while (!stop_.load()) {
    now = clock_->MonotonicMillis();
    RunTimers(now);
    SendNextCommand(now);

    fds.clear();
    owners.clear();
    fds.push_back({wake_read_, POLLIN, 0});
    // While out of descriptors, the listening socket is left alone for a
    // moment rather than reported readable again and again.
    fds.push_back({now >= accept_resume_ms_ ? listen_fd_ : -1, POLLIN, 0});
    int agent_slot = -1;
    if (agent_running_ && agent_->ReplyFd() >= 0) {
      agent_slot = static_cast<int>(fds.size());
      fds.push_back({agent_->ReplyFd(), POLLIN, 0});
    }
    size_t first_client = fds.size();
    for (auto& entry : clients_) {
      Client* client = entry.second.get();
      short events = 0;
      if (!client->busy && client->out.empty() && !client->closing) {
        events |= POLLIN;
      }
      if (!client->out.empty()) events |= POLLOUT;
      fds.push_back({client->fd, events, 0});
      owners.push_back(client->id);
    }

    int ready = poll(fds.data(), fds.size(), NextTimeout(now));
    if (ready < 0 && errno != EINTR) {
      Diag("poll failed: %s", std::strerror(errno));
      break;
    }
    now = clock_->MonotonicMillis();
    if (ready > 0) {
      if (fds[0].revents & POLLIN) {
        char drain[64];
        while (read(wake_read_, drain, sizeof(drain)) > 0) {
        }
      }
      if (agent_slot >= 0 && fds[agent_slot].revents != 0) ReadAgent(now);
      for (size_t i = first_client; i < fds.size(); ++i) {
        auto found = clients_.find(owners[i - first_client]);
        if (found == clients_.end()) continue;
        Client* client = found->second.get();
        short revents = fds[i].revents;
        if (revents & POLLOUT) SendPending(client);
        if (revents & (POLLIN | POLLHUP | POLLERR)) ReadClient(client, now);
      }
      if (fds[1].revents & POLLIN) AcceptClients(now);
    }
    if (hook_done_.load()) CollectHookResults();

    // Clients whose agent reply arrived, or whose reply was sent, may have
    // further requests waiting in their buffers.
    for (auto it = clients_.begin(); it != clients_.end();) {
      Client* client = it->second.get();
      if (!client->dead) ProcessInput(client);
      if (client->dead) {
        close(client->fd);
        it = clients_.erase(it);
      } else {
        ++it;
      }
    }
  }

  LogEvent(kEventServiceTerminated);
  CloseAll();
  agent_->Stop(config_.agent_stop_grace_ms);
  agent_running_ = false;
  if (hook_thread_.joinable()) hook_thread_.join();
  return 0;
}

void Service::CloseAll() {
  for (auto& entry : clients_) close(entry.second->fd);
  clients_.clear();
  if (listen_fd_ >= 0) close(listen_fd_);
  listen_fd_ = -1;
}

int Service::NextTimeout(int64_t now) const {
  int64_t next = next_poll_ms_;
  if (params_->Value(kKeyRecByPeriod) == 1)
    next = std::min(next, next_record_ms_);
  if (!agent_running_) next = std::min(next, restart_at_ms_);
  if (accept_resume_ms_ > now) next = std::min(next, accept_resume_ms_);
  if (in_flight_) next = std::min(next, in_flight_sent_ms_ + ReplyBound());
  for (const auto& entry : clients_) {
    const Client& client = *entry.second;
    if (client.busy) continue;
    int64_t limit =
        client.logged_in ? config_.idle_timeout_ms : config_.login_timeout_ms;
    next = std::min(next, client.last_activity_ms + limit);
  }
  // A shutdown command or save hooks in progress are looked at once a
  // second.
  if (shutdown_pid_ > 0 || hooks_running_) next = std::min(next, now + 1000);
  int64_t wait = next - now;
  if (wait < 0) wait = 0;
  if (wait > 60000) wait = 60000;
  return static_cast<int>(wait);
}

// ---------------------------------------------------------------- agent --

void Service::StartAgent(int64_t now) {
  int32_t type = params_->Value(kKeyMediaType);
  int32_t index = params_->Value(kKeyMediaIndex);
  std::string error;
  agent_in_.clear();
  property_cache_.clear();
  if (!agent_->Start(type, index, &error)) {
    Diag("cannot start the agent: %s; next try in %lld ms", error.c_str(),
         static_cast<long long>(backoff_ms_));
    restart_at_ms_ = now + backoff_ms_;
    backoff_ms_ = std::min(backoff_ms_ * 2, config_.restart_backoff_max_ms);
    return;
  }
  agent_running_ = true;
  agent_started_ms_ = now;
  awaiting_first_reply_ = true;
  Diag("agent started with media type %d, index %d", type, index);
}

void Service::BreakAgent(int64_t now, const std::string& reason) {
  std::string how = agent_->Kill();
  agent_running_ = false;
  agent_in_.clear();
  pass_active_ = false;
  pass_due_ = false;
  property_cache_.clear();
  restart_at_ms_ = now + backoff_ms_;
  Diag("agent %s (%s); restarting in %lld ms", reason.c_str(), how.c_str(),
       static_cast<long long>(backoff_ms_));
  backoff_ms_ = std::min(backoff_ms_ * 2, config_.restart_backoff_max_ms);

  // Everything that waited for the agent learns that it is not in contact.
  std::vector<AgentCommand> failed;
  if (in_flight_) failed.push_back(std::move(*in_flight_));
  in_flight_.reset();
  for (AgentCommand& command : queue_) failed.push_back(std::move(command));
  queue_.clear();
  for (AgentCommand& command : failed) {
    if (command.done) command.done(NoContactReply());
  }
}

void Service::Enqueue(const std::string& line,
                      std::function<void(const AgentReply&)> done) {
  if (!agent_running_) {
    if (done) done(NoContactReply());
    return;
  }
  queue_.push_back({line, std::move(done)});
}

void Service::SendNextCommand(int64_t now) {
  if (!agent_running_ || in_flight_ || queue_.empty()) return;
  in_flight_.emplace(std::move(queue_.front()));
  queue_.pop_front();
  std::string text = in_flight_->line + "\n";
  ssize_t written = write(agent_->CommandFd(), text.data(), text.size());
  if (written != static_cast<ssize_t>(text.size())) {
    BreakAgent(now, std::string("does not take commands: ") +
                        (written < 0 ? std::strerror(errno) : "short write"));
    return;
  }
  in_flight_sent_ms_ = now;
}

int64_t Service::ReplyBound() const {
  return awaiting_first_reply_ ? std::max(config_.agent_detect_timeout_ms,
                                          config_.agent_reply_timeout_ms)
                               : config_.agent_reply_timeout_ms;
}

void Service::ReadAgent(int64_t now) {
  char buffer[4096];
  for (;;) {
    ssize_t got = read(agent_->ReplyFd(), buffer, sizeof(buffer));
    if (got > 0) {
      agent_in_.append(buffer, static_cast<size_t>(got));
      size_t newline;
      while (agent_running_ &&
             (newline = agent_in_.find('\n')) != std::string::npos) {
        std::string line = agent_in_.substr(0, newline);
        agent_in_.erase(0, newline + 1);
        HandleAgentLine(now, line);
      }
      if (!agent_running_) return;
      if (agent_in_.size() > kMaxAgentLine) {
        BreakAgent(now, "wrote an endless line");
        return;
      }
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    BreakAgent(now, got == 0 ? "closed its output" : std::strerror(errno));
    return;
  }
}

void Service::HandleAgentLine(int64_t now, const std::string& line) {
  if (!in_flight_) {
    BreakAgent(now, "wrote a line nobody asked for");
    return;
  }
  AgentReply reply = ParseAgentReply(in_flight_->line, line);
  if (reply.kind == AgentReply::Kind::kMismatch) {
    BreakAgent(now, "answered \"" + line.substr(0, 80) + "\" to \"" +
                        in_flight_->line + "\"");
    return;
  }
  awaiting_first_reply_ = false;
  // The command is done before its callback runs, which may queue more.
  AgentCommand done = std::move(*in_flight_);
  in_flight_.reset();
  if (done.done) done.done(reply);
}

// ----------------------------------------------------- timers and events --

void Service::RunTimers(int64_t now) {
  if (!agent_running_ && now >= restart_at_ms_) StartAgent(now);
  if (agent_running_ && in_flight_ &&
      now - in_flight_sent_ms_ >= ReplyBound()) {
    BreakAgent(now, "gave no reply to " + in_flight_->line);
  }
  if (agent_running_ && now - agent_started_ms_ >= config_.agent_stable_ms) {
    backoff_ms_ = config_.restart_backoff_min_ms;
  }
  if (now >= next_poll_ms_) {
    next_poll_ms_ = now + config_.poll_period_ms;
    OnPollTick(now);
  }
  if (now >= next_record_ms_) {
    next_record_ms_ =
        now + static_cast<int64_t>(params_->Value(kKeyRecordRate)) * 1000;
    if (params_->Value(kKeyRecByPeriod) == 1) WriteStatusRecord(now);
  }
  for (auto& entry : clients_) {
    Client* client = entry.second.get();
    int64_t limit =
        client->logged_in ? config_.idle_timeout_ms : config_.login_timeout_ms;
    if (!client->busy && now - client->last_activity_ms >= limit) {
      client->dead = true;
    }
  }
  if (shutdown_pid_ > 0) {
    int status = 0;
    if (waitpid(shutdown_pid_, &status, WNOHANG) == shutdown_pid_) {
      Diag("shutdown command ended with status %d",
           WIFEXITED(status) ? WEXITSTATUS(status) : -1);
      shutdown_pid_ = -1;
    }
  }
}

void Service::OnPollTick(int64_t now) {
  if (agent_running_) {
    // A pass still under way is finished first; the next one follows it at
    // once, so a slow reply delays a pass but never drops one.
    if (pass_active_) {
      pass_due_ = true;
    } else {
      StartPass();
    }
  }
  if (!SnapshotFresh(now)) FeedDetector(StatusSnapshot());
  CheckPowerFail(now);
}

void Service::StartPass() {
  pass_active_ = true;
  pass_due_ = false;
  pending_ = StatusSnapshot();
  for (int32_t slot = 0; slot < StatusSnapshot::kSlots; ++slot) {
    Enqueue(StatusSnapshot::CommandOf(slot),
            [this, slot](const AgentReply& reply) {
              OnSnapshotReply(slot, reply);
            });
  }
}

void Service::OnSnapshotReply(int32_t slot, const AgentReply& reply) {
  if (!pass_active_) return;
  int32_t value = 0;
  if (reply.kind == AgentReply::Kind::kError) {
    pending_.error[slot] = reply.code;
  } else if (reply.kind == AgentReply::Kind::kValue &&
             ParseInt32(reply.text, &value)) {
    pending_.value[slot] = value;
  } else {
    pending_.error[slot] = service_wire::kErrMalformed;
  }
  if (slot != StatusSnapshot::kSlots - 1) return;
  int64_t now = clock_->MonotonicMillis();
  pass_active_ = false;
  pending_.valid = true;
  pending_.taken_ms = now;
  snapshot_ = pending_;
  FeedDetector(snapshot_);
  CheckPowerFail(now);
  if (pass_due_ && agent_running_) StartPass();
}

bool Service::SnapshotFresh(int64_t now) const {
  return now - snapshot_.taken_ms <= config_.snapshot_max_age_ms;
}

void Service::FeedDetector(const StatusSnapshot& pass) {
  std::vector<int32_t> events;
  detector_.Feed(pass, &events);
  for (int32_t code : events) LogEvent(code);
  bool connected = detector_.connected();
  if (connected != was_connected_) {
    // Another unit may be on the line now: what was cached is doubtful.
    property_cache_.clear();
    was_connected_ = connected;
    if (connected) ApplyBuzzer();
  }
}

void Service::LogEvent(int32_t code) {
  const char* text = EventText(code);
  Diag("event %d: %s", code, text != nullptr ? text : "");
  if (logs_ != nullptr &&
      !logs_->Append(kEventLog, LocalTimeText() + " " + std::to_string(code))) {
    Diag("cannot store event %d", code);
  }
}

void Service::WriteStatusRecord(int64_t now) {
  if (logs_ == nullptr || !snapshot_.valid || !SnapshotFresh(now) ||
      !snapshot_.Connected()) {
    return;
  }
  // In, out, capacity, load, frequency, temperature; a value the unit does
  // not report is written as 0.
  static const int32_t kSlots[] = {
      StatusSnapshot::kSlotInputVoltage, StatusSnapshot::kSlotOutputVoltage,
      StatusSnapshot::kSlotCapacity,     StatusSnapshot::kSlotLoad,
      StatusSnapshot::kSlotFrequency,    StatusSnapshot::kSlotTemperature};
  std::string record = LocalTimeText();
  for (int32_t slot : kSlots) {
    int32_t value = 0;
    if (!snapshot_.Get(slot, &value)) value = 0;
    record += " " + std::to_string(value);
  }
  if (!logs_->Append(kStatusRecordLog, record)) {
    Diag("cannot store a status record");
  }
}

void Service::ApplyBuzzer() {
  int32_t on = params_->Value(kKeyBuzzerOn);
  Enqueue("W7 " + std::to_string(on), [on](const AgentReply& reply) {
    if (reply.kind == AgentReply::Kind::kError) {
      Diag("buzzer setting %d not applied (agent error %d)", on, reply.code);
    }
  });
}

void Service::CheckPowerFail(int64_t now) {
  int32_t delay = params_->Value(kKeyPowerfailDelay);
  PowerFailMonitor::Action action =
      monitor_.Tick(now, detector_.on_battery(), detector_.battery_low(),
                    params_->Value(kKeyPowerfailMaxCount) != 0, delay);
  switch (action) {
    case PowerFailMonitor::Action::kNone:
      break;
    case PowerFailMonitor::Action::kArmed:
      Diag("on battery: system shutdown in %d s unless the utility returns",
           delay);
      break;
    case PowerFailMonitor::Action::kCancelled:
      Diag("utility returned: system shutdown cancelled");
      break;
    case PowerFailMonitor::Action::kBeginShutdown:
      BeginShutdown();
      break;
  }
}

void Service::BeginShutdown() {
  Diag("power failure: system shutdown begins%s",
       detector_.battery_low() ? " (battery low)" : "");
  if (params_->Value(kKeyAutoSave) == 1 && !config_.save_hooks_dir.empty()) {
    Diag("running save hooks in %s", config_.save_hooks_dir.c_str());
    hooks_running_ = true;
    std::string dir = config_.save_hooks_dir;
    int32_t timeout = config_.hook_timeout_ms;
    int32_t max_lines = config_.max_saved_lines;
    hook_thread_ = std::thread([this, dir, timeout, max_lines] {
      SaveHookResult result = RunSaveHooks(dir, timeout, max_lines);
      {
        std::lock_guard<std::mutex> lock(hook_mutex_);
        hook_result_ = std::move(result);
      }
      hook_done_.store(true);
      Wake();
    });
    return;
  }
  TellUpsToShutDown();
}

void Service::CollectHookResults() {
  hook_done_.store(false);
  if (hook_thread_.joinable()) hook_thread_.join();
  hooks_running_ = false;
  SaveHookResult result;
  {
    std::lock_guard<std::mutex> lock(hook_mutex_);
    result = std::move(hook_result_);
  }
  for (const std::string& line : result.diagnostics) {
    Diag("%s", line.c_str());
  }
  for (const std::string& line : result.saved) {
    if (logs_ == nullptr || !logs_->Append(kSavedFileLog, line)) {
      Diag("cannot store saved-file entry");
    }
  }
  Diag("save hooks done: %zu files saved", result.saved.size());
  TellUpsToShutDown();
}

void Service::TellUpsToShutDown() {
  int32_t delay = params_->Value(kKeyShutdownDelay);
  int32_t restore = config_.restore_after_s;
  Diag(
      "telling the UPS to switch its output off in %d s and back on %d s "
      "after the utility returns",
      delay, restore);
  // The UPS is told first, so the command reaches it before the system goes
  // down; the shutdown command runs once the agent has answered.
  Enqueue("C1 " + std::to_string(delay) + " " + std::to_string(restore),
          [this, delay](const AgentReply& reply) {
            if (reply.kind != AgentReply::Kind::kError) {
              RunShutdownCommand();
              return;
            }
            if (reply.code != 1) {
              Diag("the UPS did not take the shutdown (agent error %d)",
                   reply.code);
              RunShutdownCommand();
              return;
            }
            Diag("no shutdown with restore on this UPS; plain shutdown");
            Enqueue("C2 " + std::to_string(delay),
                    [this](const AgentReply& plain) {
                      if (plain.kind == AgentReply::Kind::kError) {
                        Diag(
                            "the UPS did not take the shutdown (agent "
                            "error %d)",
                            plain.code);
                      }
                      RunShutdownCommand();
                    });
          });
}

void Service::RunShutdownCommand() {
  if (config_.shutdown_command.empty()) {
    Diag("no shutdown command given: the system would be shut down now");
    return;
  }
  Diag("running the shutdown command: %s", config_.shutdown_command.c_str());
  shutdown_pid_ = StartShellCommand(config_.shutdown_command);
  if (shutdown_pid_ < 0) Diag("cannot run the shutdown command");
}

// --------------------------------------------------------------- clients --

void Service::AcceptClients(int64_t now) {
  for (;;) {
    int fd =
        accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        Diag("accept failed: %s; new connections wait a second",
             std::strerror(errno));
        accept_resume_ms_ = now + 1000;
      }
      return;
    }
    if (static_cast<int32_t>(clients_.size()) >= config_.max_clients) {
      close(fd);
      if (now - last_refusal_log_ms_ >= 10000) {
        Diag("too many clients (%d): refusing new connections",
             config_.max_clients);
        last_refusal_log_ms_ = now;
      }
      continue;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    std::unique_ptr<Client> client(new Client);
    client->fd = fd;
    client->id = next_client_id_++;
    client->last_activity_ms = now;
    clients_[client->id] = std::move(client);
  }
}

void Service::ReadClient(Client* client, int64_t now) {
  if (client->busy || client->closing || !client->out.empty()) return;
  char buffer[4096];
  ssize_t got = recv(client->fd, buffer, sizeof(buffer), 0);
  if (got == 0) {
    client->dead = true;
    return;
  }
  if (got < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      client->dead = true;
    }
    return;
  }
  client->in.append(buffer, static_cast<size_t>(got));
  client->last_activity_ms = now;
  ProcessInput(client);
}

void Service::ProcessInput(Client* client) {
  size_t limit = static_cast<size_t>(config_.max_request_bytes);
  while (!client->busy && !client->closing && !client->dead &&
         client->out.empty()) {
    // A line feed after the CR (a client that ends lines with CR LF) is
    // not part of the next request.
    size_t start = client->in.find_first_not_of('\n');
    client->in.erase(0, start == std::string::npos ? client->in.size() : start);
    size_t cr = client->in.find('\r');
    if ((cr == std::string::npos && client->in.size() > limit) ||
        (cr != std::string::npos && cr > limit)) {
      client->in.clear();
      Reply(client, ErrorReply(kErrRequestTooLong));
      client->closing = true;
      SendPending(client);
      return;
    }
    if (cr == std::string::npos) return;
    std::string line = client->in.substr(0, cr);
    client->in.erase(0, cr + 1);
    HandleRequest(client, line);
    SendPending(client);
  }
}

void Service::HandleRequest(Client* client, const std::string& line) {
  if (StartsWith(line, "USR ")) {
    HandleLogin(client, line);
  } else if (!client->logged_in) {
    ++client->failures;
    Reply(client, ErrorReply(kErrLogin));
    if (client->failures >= kMaxLoginFailures) client->closing = true;
  } else if (StartsWith(line, "DEV ")) {
    HandleDev(client, line.substr(4));
  } else if (StartsWith(line, "PTC ")) {
    HandleParameter(client, true, line.substr(4));
  } else if (StartsWith(line, "POL ")) {
    HandleParameter(client, false, line.substr(4));
  } else if (StartsWith(line, "LOG ")) {
    HandleLog(client, line.substr(4));
  } else {
    Reply(client, ErrorReply(kErrUnknownRequest));
  }
}

void Service::HandleLogin(Client* client, const std::string& line) {
  bool ok = false;
  if (StartsWith(line, "USR NAME ")) {
    client->name_ok = line.substr(9) == kLoginUser;
    ok = client->name_ok;
  } else if (StartsWith(line, "USR PASS ")) {
    ok = client->name_ok && line.substr(9) == kLoginPassword;
    if (ok) client->logged_in = true;
  }
  if (ok) {
    Reply(client, "OK");
    return;
  }
  ++client->failures;
  Reply(client, ErrorReply(kErrLogin));
  if (client->failures >= kMaxLoginFailures && !client->logged_in) {
    client->closing = true;
  }
}

void Service::HandleDev(Client* client, const std::string& text) {
  DevRequest request;
  int32_t result = MapDevRequest(text, &request);
  if (result != 0) {
    Reply(client, ErrorReply(result));
    return;
  }
  if (request.source == DevRequest::Source::kSnapshot) {
    Reply(client,
          SnapshotAnswer(request.snapshot_slot, clock_->MonotonicMillis()));
    return;
  }
  if (request.cacheable) {
    auto cached = property_cache_.find(request.command);
    if (cached != property_cache_.end()) {
      Reply(client, cached->second);
      return;
    }
  }
  // Without a running agent, Enqueue answers "not in contact" at once.
  client->busy = true;
  uint64_t id = client->id;
  Enqueue(request.command, [this, id, request](const AgentReply& reply) {
    OnClientReply(id, request, reply);
  });
}

void Service::OnClientReply(uint64_t id, const DevRequest& request,
                            const AgentReply& reply) {
  std::string answer;
  if (reply.kind == AgentReply::Kind::kError) {
    answer = ErrorReply(reply.code);
  } else if (request.form == DevRequest::Form::kNone) {
    answer = "OK";
  } else {
    answer = reply.text;
    if (request.form == DevRequest::Form::kDeviceList) {
      std::replace(answer.begin(), answer.end(), ',', '\n');
    }
    if (request.cacheable) property_cache_[request.command] = answer;
  }
  if (request.changes_unit) property_cache_.clear();
  auto found = clients_.find(id);
  if (found == clients_.end()) return;
  Client* client = found->second.get();
  client->busy = false;
  Reply(client, answer);
  SendPending(client);
}

std::string Service::SnapshotAnswer(int32_t slot, int64_t now) const {
  if (!snapshot_.valid || !SnapshotFresh(now)) {
    return ErrorReply(kErrNoContact);
  }
  if (snapshot_.error[slot] != 0) return ErrorReply(snapshot_.error[slot]);
  return std::to_string(snapshot_.value[slot]);
}

void Service::HandleParameter(Client* client, bool ptc,
                              const std::string& text) {
  ParameterSpace space = ptc ? ParameterSpace::kPtc : ParameterSpace::kPol;
  size_t equals = text.find('=');
  if (equals == std::string::npos) {
    int32_t value = 0;
    int32_t result = params_->Get(space, text, &value);
    Reply(client, result == 0 ? std::to_string(value) : ErrorReply(result));
    return;
  }
  std::string key = text.substr(0, equals);
  int32_t result = params_->Set(space, key, text.substr(equals + 1));
  if (result != 0) {
    Reply(client, ErrorReply(result));
    return;
  }
  Reply(client, "OK");
  int32_t value = params_->Value(key.c_str());
  Diag("%s %s set to %d", ptc ? "PTC" : "POL", key.c_str(), value);
  if (key == kKeyMediaType || key == kKeyMediaIndex) {
    int32_t type = params_->Value(kKeyMediaType);
    int32_t index = params_->Value(kKeyMediaIndex);
    property_cache_.clear();
    Enqueue("C4 " + std::to_string(type) + " " + std::to_string(index),
            [this](const AgentReply& reply) {
              property_cache_.clear();
              // 20: the agent looks for the unit again before it answers.
              if (reply.kind == AgentReply::Kind::kError && reply.code == 20) {
                awaiting_first_reply_ = true;
              }
            });
  } else if (key == kKeyBuzzerOn) {
    ApplyBuzzer();
  } else if (key == kKeyRecordRate || key == kKeyRecByPeriod) {
    next_record_ms_ =
        clock_->MonotonicMillis() +
        static_cast<int64_t>(params_->Value(kKeyRecordRate)) * 1000;
  }
}

void Service::HandleLog(Client* client, const std::string& text) {
  std::vector<std::string> words;
  size_t start = 0;
  while (start <= text.size()) {
    size_t blank = text.find(' ', start);
    if (blank == std::string::npos) blank = text.size();
    words.push_back(text.substr(start, blank - start));
    start = blank + 1;
  }
  const std::string& verb = words[0];
  size_t arguments = verb == "PRV" ? 3 : 2;
  if (verb != "KEY" && verb != "PRV" && verb != "CLR") {
    Reply(client, ErrorReply(kErrUnknownRequest));
    return;
  }
  int32_t list = -1;
  int32_t key = 0;
  if (words.size() != arguments || !ParseInt32(words[1], &list) ||
      !LogStore::ValidList(list) ||
      (arguments == 3 && !ParseInt32(words[2], &key))) {
    Reply(client, ErrorReply(kErrInvalidValue));
    return;
  }
  if (logs_ == nullptr) {
    Reply(client, ErrorReply(kErrStoreFailed));
    return;
  }
  if (verb == "KEY") {
    int32_t start_key = 0;
    Reply(client, logs_->StartKey(list, &start_key) ? std::to_string(start_key)
                                                    : ErrorReply(kErrStoreFailed));
  } else if (verb == "PRV") {
    int32_t next_key = key;
    std::vector<std::string> entries;
    if (!logs_->Page(list, key, &next_key, &entries)) {
      Reply(client, ErrorReply(kErrStoreFailed));
      return;
    }
    std::string answer = std::to_string(next_key);
    for (const std::string& entry : entries) answer += "\n" + entry;
    Reply(client, answer);
  } else {
    Reply(client, logs_->Clear(list) ? "OK" : ErrorReply(kErrStoreFailed));
    Diag("log list %d erased", list);
  }
}

void Service::Reply(Client* client, const std::string& text) {
  size_t start = client->out.size();
  client->out += text;
  // A CR inside a reply would end it early for the client.
  std::replace(client->out.begin() + static_cast<std::ptrdiff_t>(start),
               client->out.end(), '\r', ' ');
  client->out += '\r';
}

void Service::SendPending(Client* client) {
  while (!client->out.empty() && !client->dead) {
    ssize_t sent =
        send(client->fd, client->out.data(), client->out.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      client->out.erase(0, static_cast<size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    client->dead = true;
  }
  if (client->out.empty() && client->closing) client->dead = true;
}
