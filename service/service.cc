#include "service/service.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/event_texts.h"
#include "common/time/clock.h"
#include "service/database.h"
#include "service/diagnostics.h"
#include "service/event_log.h"
#include "service/kovra_request_handler.h"
#include "service/log_store.h"
#include "service/nut/nut_line.h"
#include "service/parameter_store.h"
#include "service/sd_notify.h"

namespace {

// The agent's answer to a port change while it looks for the unit anew.
constexpr int32_t kAgentErrDetecting = 20;

AgentLinkConfig LinkConfig(const ServiceConfig& config) {
  AgentLinkConfig link;
  link.reply_timeout_ms = config.agent_reply_timeout_ms;
  link.detect_timeout_ms = config.agent_detect_timeout_ms;
  link.restart_backoff_min_ms = config.restart_backoff_min_ms;
  link.restart_backoff_max_ms = config.restart_backoff_max_ms;
  link.stable_ms = config.agent_stable_ms;
  return link;
}

StatusPollerConfig PollerConfig(const ServiceConfig& config) {
  StatusPollerConfig poller;
  poller.poll_period_ms = config.poll_period_ms;
  poller.snapshot_max_age_ms = config.snapshot_max_age_ms;
  poller.thresholds = config.thresholds;
  return poller;
}

ShutdownRunnerConfig RunnerConfig(const ServiceConfig& config) {
  ShutdownRunnerConfig runner;
  runner.save_hooks_dir = config.save_hooks_dir;
  runner.shutdown_command = config.shutdown_command;
  runner.hook_timeout_ms = config.hook_timeout_ms;
  runner.save_hooks_budget_ms = config.save_hooks_budget_s * 1000;
  runner.service_uid = geteuid();
  runner.max_saved_lines = config.max_saved_lines;
  return runner;
}

enum class ListenResult {
  kOk,
  kRefused,  // not an address the service may listen on
  kFailed,   // the socket could not be opened (the port is taken ...)
};

// Opens a non-blocking listening socket on host:port ("localhost" is
// 127.0.0.1) with the bound port in *bound. An address outside the loopback
// network is refused unless allow_remote.
ListenResult OpenListener(const std::string& requested_host, uint16_t port,
                          bool allow_remote, int* fd_out, uint16_t* bound,
                          std::string* error) {
  std::string host =
      requested_host == "localhost" ? "127.0.0.1" : requested_host;
  struct sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    *error = "not an IPv4 address: " + requested_host;
    return ListenResult::kRefused;
  }
  bool loopback = (ntohl(address.sin_addr.s_addr) >> 24) == 127;
  if (!loopback && !allow_remote) {
    // The kovra login is fixed and public, and NUT reads need no login, so
    // only local clients are served unless the administrator says otherwise.
    *error = "refusing to listen on " + host +
             ", which is not a loopback address (use --allow-remote)";
    return ListenResult::kRefused;
  }
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket failed: ") + std::strerror(errno);
    return ListenResult::kFailed;
  }
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  if (bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof(address)) !=
          0 ||
      listen(fd, 128) != 0) {
    *error = "cannot listen on " + host + ":" + std::to_string(port) + ": " +
             std::strerror(errno);
    close(fd);
    return ListenResult::kFailed;
  }
  socklen_t length = sizeof(address);
  getsockname(fd, reinterpret_cast<struct sockaddr*>(&address), &length);
  *bound = ntohs(address.sin_port);
  *fd_out = fd;
  return ListenResult::kOk;
}

}  // namespace

Service::Service(const ServiceConfig& config, IAgentProcess* agent,
                 Clock* clock, ParameterStore* params, LogStore* logs)
    : config_(config),
      clock_(clock),
      params_(params),
      logs_(logs),
      link_(LinkConfig(config), agent,
            [params](int32_t* type, int32_t* index) {
              *type = params->Value(kKeyMediaType);
              *index = params->Value(kKeyMediaIndex);
            }),
      poller_(PollerConfig(config), &link_, clock, params, logs,
              {[this](bool connected) { OnContactChanged(connected); },
               [this](int64_t now) {
                 CheckShutdown(now);
                 PublishStatus();
               },
               [this](int32_t code) {
                 publisher_.CountEvent(code);
                 OnEvent(code, clock_->MonotonicMillis());
               }}),
      runner_(RunnerConfig(config), logs, clock),
      sequence_(&link_, &runner_),
      notifier_(config.notify_command, Notifier::Limits()) {
  link_.SetOnReset([this] {
    poller_.OnAgentReset();
    properties_.Clear();
    publisher_.ForgetProperties();
  });
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    wake_read_ = fds[0];
    wake_write_ = fds[1];
  }
}

Service::~Service() {
  server_.reset();
  nut_server_.reset();
  if (wake_read_ >= 0) close(wake_read_);
  if (wake_write_ >= 0) close(wake_write_);
}

bool Service::Listen(std::string* error) {
  int fd = -1;
  if (OpenListener(config_.listen_host, config_.listen_port,
                   config_.allow_remote, &fd, &port_,
                   error) != ListenResult::kOk) {
    return false;
  }
  LineServerConfig lines;
  lines.login_timeout_ms = config_.login_timeout_ms;
  lines.idle_timeout_ms = config_.idle_timeout_ms;
  lines.max_clients = config_.max_clients;
  lines.max_request_bytes = config_.max_request_bytes;
  server_.reset(new LineClientServer(lines, fd, [this] {
    return std::unique_ptr<LineSession>(new KovraRequestHandler(this));
  }));
  return ListenNut(error);
}

bool Service::ListenNut(std::string* error) {
  if (!config_.nut.listen.enabled) return true;
  const std::string& host = config_.nut.listen.host;
  const uint16_t port = config_.nut.listen.port;
  int fd = -1;
  std::string problem;
  switch (OpenListener(host, port, config_.allow_remote, &fd, &nut_port_,
                       &problem)) {
    case ListenResult::kOk:
      break;
    case ListenResult::kRefused:
      *error = "NUT listener: " + problem;
      return false;
    case ListenResult::kFailed:
      // NUT's own server may hold the port; kovra clients are served anyway.
      Diag("NUT listener not started (%s); running without it",
           problem.c_str());
      return true;
  }
  NutFrontEndConfig nut;
  nut.ups_name = config_.nut.ups_name;
  nut.users = config_.nut.users;
  nut.restore_after_s = config_.restore_after_s;
  nut_.reset(new NutFrontEnd(nut, this, [this] { return sequence_.begun(); }));
  LineServerConfig lines;
  lines.login_timeout_ms = config_.login_timeout_ms;
  lines.idle_timeout_ms = config_.idle_timeout_ms;
  lines.max_clients = config_.max_clients;
  lines.max_request_bytes = static_cast<int32_t>(kNutMaxLineBytes);
  lines.line_end = '\n';
  NutFrontEnd* front_end = nut_.get();
  nut_server_.reset(new LineClientServer(
      lines, fd, [front_end] { return front_end->NewSession(); }));
  Diag("NUT listener on %s:%u, unit %s", host.c_str(), nut_port_,
       config_.nut.ups_name.c_str());
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
  poller_.Start(now);
  if (database_ != nullptr) {
    database_was_available_ = database_->Available();
    if (!database_was_available_) {
      DiagAt(DiagLevel::kError,
             "database unavailable (%s): settings in memory, writes and log "
             "requests refused; retrying",
             database_->Problem().c_str());
    }
  }
  RecordEvent(logs_, kEventServiceStarted);
  publisher_.CountEvent(kEventServiceStarted);
  OnEvent(kEventServiceStarted, now);

  std::vector<struct pollfd> fds;
  while (!stop_.load()) {
    now = clock_->MonotonicMillis();
    // The agent is started before the first pass asks it anything.
    link_.Tick(now);
    poller_.Tick(now);
    if (server_) server_->Tick(now);
    if (nut_server_) nut_server_->Tick(now);
    if (nut_) nut_->Tick(now);
    link_.SendQueued(now);
    TickDatabase(now);
    TickNotifier(now);
    TickWatchdog(now);

    fds.clear();
    fds.push_back({wake_read_, POLLIN, 0});
    int agent_fd = link_.ReplyFd();
    fds.push_back({agent_fd, POLLIN, 0});
    fds.push_back({runner_.fd(), POLLIN, 0});
    size_t first_client = fds.size();
    if (server_) server_->AddPollFds(now, &fds);
    size_t first_nut_client = fds.size();
    if (nut_server_) nut_server_->AddPollFds(now, &fds);

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
      if (agent_fd >= 0 && fds[1].revents != 0) link_.OnReadable(now);
    }
    if (server_) server_->OnPolled(now, fds, first_client);
    if (nut_server_) nut_server_->OnPolled(now, fds, first_nut_client);
    // Save hooks and the shutdown command are looked at on every turn; a
    // hook's end is not always announced on its output.
    if (runner_.Tick(now)) sequence_.OnSaveHooksDone();
  }

  RecordEvent(logs_, kEventServiceTerminated);
  OnEvent(kEventServiceTerminated, clock_->MonotonicMillis());
  if (server_) server_->CloseAll();
  if (nut_server_) nut_server_->CloseAll();
  link_.Stop(config_.agent_stop_grace_ms);
  // The last notifications get a short while (counted in turns, not by the
  // clock) before the notifier stops what still runs.
  for (int turn = 0; turn < 40 && notifier_.enabled() && !notifier_.Idle();
       ++turn) {
    poll(nullptr, 0, 50);
    TickNotifier(clock_->MonotonicMillis());
  }
  return 0;
}

int Service::NextTimeout(int64_t now) const {
  int64_t next = poller_.NextDeadline(now + 60000);
  next = link_.NextDeadline(next);
  if (server_) next = server_->NextDeadline(now, next);
  if (nut_server_) next = nut_server_->NextDeadline(now, next);
  int64_t runner = runner_.NextWakeMs(now);
  if (runner >= 0) next = std::min(next, runner);
  int64_t notify = notifier_.NextWakeMs(now);
  if (notify >= 0) next = std::min(next, notify);
  if (config_.watchdog_interval_ms > 0) {
    next = std::min(next, next_watchdog_ms_);
  }
  // An unavailable database is retried, and queued writes flushed, from
  // ticks about once a second.
  if (database_ != nullptr &&
      (!database_->Available() || database_->queued() > 0)) {
    next = std::min(next, now + 1000);
  }
  int64_t wait = next - now;
  if (wait < 0) wait = 0;
  if (wait > 60000) wait = 60000;
  return static_cast<int>(wait);
}

int32_t Service::ReadStatus(int32_t slot, int32_t* value) {
  return poller_.Read(slot, clock_->MonotonicMillis(), value);
}

int32_t Service::GetParameter(ParameterSpace space, const std::string& key,
                              int32_t* value) {
  return params_->Get(space, key, value);
}

int32_t Service::SetParameter(ParameterSpace space, const std::string& key,
                              const std::string& text) {
  int32_t result = params_->Set(space, key, text);
  if (result != 0) return result;
  int32_t value = params_->Value(key.c_str());
  Diag("%s %s set to %d", space == ParameterSpace::kPtc ? "PTC" : "POL",
       key.c_str(), value);
  if (key == kKeyMediaType || key == kKeyMediaIndex) {
    int32_t type = params_->Value(kKeyMediaType);
    int32_t index = params_->Value(kKeyMediaIndex);
    properties_.Clear();
    link_.Enqueue("C4 " + std::to_string(type) + " " + std::to_string(index),
                  [this](const AgentReply& reply) {
                    properties_.Clear();
                    if (reply.kind == AgentReply::Kind::kError &&
                        reply.code == kAgentErrDetecting) {
                      link_.ExpectDetection();
                    }
                  });
  } else if (key == kKeyBuzzerOn) {
    ApplyBuzzer();
  } else if (key == kKeyRecordRate || key == kKeyRecByPeriod) {
    poller_.RescheduleRecords(clock_->MonotonicMillis());
  }
  return 0;
}

void Service::PublishStatus() {
  if (!config_.http.listen.enabled) return;
  publisher_.Publish(poller_.snapshot(), poller_.detector().connected(),
                     link_.restarts());
}

void Service::OnEvent(int32_t code, int64_t now) {
  if (!notifier_.enabled()) return;
  NotifyEvent event;
  event.code = code;
  const char* text = EventText(code);
  event.text = text != nullptr ? text : "";
  event.time = LocalTimeText();
  event.status = NotifyStatusValues(poller_.snapshot(), poller_.Fresh(now));
  notifier_.Notify(event, now);
  TickNotifier(now);
}

void Service::TickNotifier(int64_t now) {
  if (!notifier_.enabled()) return;
  notifier_.Tick(now);
  for (const std::string& line : notifier_.TakeDiagnostics()) {
    DiagAt(DiagLevel::kWarning, "%s", line.c_str());
  }
}

void Service::TickDatabase(int64_t now) {
  if (database_ == nullptr) return;
  if (database_->Tick(now)) {
    Diag("database available again: stored settings loaded");
    if (!params_->Load()) Diag("cannot read stored settings; keeping these");
    ApplyBuzzer();
  }
  bool available = database_->Available();
  if (available != database_was_available_ && !available) {
    DiagAt(DiagLevel::kError,
           "database unavailable (%s): settings in memory, writes and log "
           "requests refused; retrying",
           database_->Problem().c_str());
  }
  database_was_available_ = available;
}

void Service::TickWatchdog(int64_t now) {
  if (config_.watchdog_interval_ms <= 0 || now < next_watchdog_ms_) return;
  NotifyServiceManager("WATCHDOG=1");
  next_watchdog_ms_ = now + config_.watchdog_interval_ms;
}

void Service::OnContactChanged(bool connected) {
  // Another unit may be on the line now: what was cached is doubtful.
  properties_.Clear();
  publisher_.ForgetProperties();
  if (connected) ApplyBuzzer();
}

void Service::ApplyBuzzer() {
  int32_t on = params_->Value(kKeyBuzzerOn);
  link_.Enqueue("W7 " + std::to_string(on), [on](const AgentReply& reply) {
    if (reply.kind == AgentReply::Kind::kError) {
      Diag("buzzer setting %d not applied (agent error %d)", on, reply.code);
    }
  });
}

void Service::CheckShutdown(int64_t now) {
  const EventDetector& detector = poller_.detector();
  ShutdownInputs inputs;
  inputs.on_battery = detector.on_battery();
  inputs.battery_low = detector.battery_low();
  inputs.enabled = params_->Value(kKeyPowerfailMaxCount) != 0;
  inputs.delay_s = params_->Value(kKeyPowerfailDelay);
  inputs.save_files =
      params_->Value(kKeyAutoSave) == 1 && !config_.save_hooks_dir.empty();
  inputs.ups_off_delay_s = params_->Value(kKeyShutdownDelay);
  inputs.restore_after_s = config_.restore_after_s;
  if (nut_) {
    inputs.forced = nut_->forced_shutdown_requested();
    inputs.secondaries = nut_->Secondaries();
  }
  inputs.secondary_wait_s = config_.nut.secondary_wait_s;
  sequence_.Tick(now, inputs);
}
