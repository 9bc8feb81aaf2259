#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/service_wire.h"
#include "service/agent_link.h"
#include "service/event_detector.h"
#include "service/line_client_server.h"
#include "service/nut_front_end.h"
#include "service/front_end_settings.h"
#include "service/nut_user.h"
#include "service/notifier.h"
#include "service/property_cache.h"
#include "service/service_core.h"
#include "service/shutdown_runner.h"
#include "service/shutdown_sequence.h"
#include "service/status_poller.h"
#include "service/status_publisher.h"

class Clock;
class Database;
class IAgentProcess;
class LogStore;
class ParameterStore;

// Everything the event loop needs to know that does not come from the
// stored parameters. Times are milliseconds unless named otherwise.
struct ServiceConfig {
  std::string listen_host = service_wire::kServiceHost;
  uint16_t listen_port = service_wire::kServicePort;
  bool allow_remote = false;

  // How often the snapshot is read from the agent. The agent itself reads
  // the unit every 3 s; reading it more often keeps a change visible to
  // clients within about 4 s.
  int64_t poll_period_ms = 1000;
  // A snapshot older than this answers as "not in contact".
  int64_t snapshot_max_age_ms = 15000;
  // A reply that takes longer marks the agent as broken. A contact-closure
  // shutdown blocks the agent for up to 24 s, so the bound lies above that.
  int64_t agent_reply_timeout_ms = 30000;
  // The first reply after a start or a port change may wait for the agent
  // to probe its ports.
  int64_t agent_detect_timeout_ms = 120000;
  int64_t restart_backoff_min_ms = 1000;
  int64_t restart_backoff_max_ms = 30000;
  // An agent that ran this long restarts after the shortest back-off again.
  int64_t agent_stable_ms = 60000;
  int32_t agent_stop_grace_ms = 5000;

  // Connections that have not logged in, and logged-in ones, are closed
  // after this long without a request.
  int64_t login_timeout_ms = 30000;
  int64_t idle_timeout_ms = 900000;
  int32_t max_clients = 64;
  int32_t max_request_bytes = 4096;

  EventThresholds thresholds;

  // Power-failure shutdown.
  std::string save_hooks_dir;
  std::string shutdown_command;
  int32_t restore_after_s = 60;
  int32_t hook_timeout_ms = 20000;
  // All save hooks together (see SaveHookLimits::budget_ms).
  int32_t save_hooks_budget_s = 60;
  int32_t max_saved_lines = 1000;

  // Shell command run for each event; empty runs none.
  std::string notify_command;

  // The NUT-protocol listener and its users, and the HTTP endpoint (the
  // service publishes its status for the endpoint only when it is on).
  NutSettings nut;
  HttpSettings http;

  // WATCHDOG=1 goes to the service manager this often from the loop; 0:
  // not at all. Half the manager's WATCHDOG_USEC.
  int64_t watchdog_interval_ms = 0;
};

// The UPS service: one poll-based event loop that wires the pieces
// together. AgentLink runs the agent child and its command queue,
// StatusPoller keeps the status snapshot, events and records,
// ShutdownSequence and ShutdownRunner turn a long power failure into a
// system shutdown, and LineClientServer serves the kovra clients (up to a
// bound) over TCP, each connection with its KovraRequestHandler, which
// reaches the rest through the ServiceCore interface this class offers. A
// second LineClientServer serves NUT clients through NutFrontEnd.
// The save hooks, the shutdown command and the notify command run as
// children the loop supervises without waiting on them. Single-threaded
// except for Stop() and Wake(), and the HTTP endpoint's threads, which only
// read the StatusBoard.
class Service final : public ServiceCore {
 public:
  // agent, clock, params and logs must outlive the service; logs may be
  // null.
  Service(const ServiceConfig& config, IAgentProcess* agent, Clock* clock,
          ParameterStore* params, LogStore* logs);
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;
  ~Service() override;

  // The database behind params and logs, retried and flushed from the
  // loop; when it comes back the parameters are loaded again. May stay
  // unset (nothing is retried). Must outlive the service.
  void SetDatabase(Database* database) { database_ = database; }

  // Opens the listening socket. Refuses an address outside the loopback
  // network unless remote clients are allowed. On failure returns false with
  // the cause in *error.
  bool Listen(std::string* error);

  // The port the service listens on (useful when 0 was asked for).
  uint16_t port() const { return port_; }
  // The NUT listener's port; 0 while there is none.
  uint16_t nut_port() const { return nut_port_; }

  // Runs until Stop(), then stops the agent and closes every connection.
  // Returns 0.
  int Run();

  // Asks Run() to end. Safe from a signal handler and from other threads.
  void Stop();

  // Makes the loop look at its timers again (after a test moved its clock).
  void Wake();

  // The latest status for the HTTP endpoint, published after every
  // completed poll pass while the HTTP endpoint is configured.
  const StatusBoard* status_board() const { return publisher_.board(); }

  // ServiceCore.
  int32_t ReadStatus(int32_t slot, int32_t* value) override;
  AgentCommands* agent() override { return &link_; }
  PropertyCache* properties() override { return &properties_; }
  int32_t GetParameter(ParameterSpace space, const std::string& key,
                       int32_t* value) override;
  int32_t SetParameter(ParameterSpace space, const std::string& key,
                       const std::string& text) override;
  LogStore* logs() override { return logs_; }

 private:
  bool ListenNut(std::string* error);
  void OnContactChanged(bool connected);
  // The event went to the event log: the notify command hears of it.
  void OnEvent(int32_t code, int64_t now);
  void TickDatabase(int64_t now);
  void TickNotifier(int64_t now);
  void TickWatchdog(int64_t now);
  void CheckShutdown(int64_t now);
  void ApplyBuzzer();
  int NextTimeout(int64_t now) const;
  // Publishes the snapshot, the unit's properties and the counters (after
  // every poll tick and every completed pass).
  void PublishStatus();

  ServiceConfig config_;
  Clock* clock_;
  ParameterStore* params_;
  LogStore* logs_;
  Database* database_ = nullptr;
  bool database_was_available_ = true;
  int64_t next_watchdog_ms_ = 0;

  uint16_t port_ = 0;
  uint16_t nut_port_ = 0;
  int wake_read_ = -1;
  int wake_write_ = -1;
  std::atomic<bool> stop_{false};

  // Declared before the agent link: agent replies still queued when the
  // service ends may call into it.
  std::unique_ptr<NutFrontEnd> nut_;  // null without a NUT listener
  AgentLink link_;
  PropertyCache properties_;
  StatusPoller poller_;
  ShutdownRunner runner_;
  ShutdownSequence sequence_;
  Notifier notifier_;
  std::unique_ptr<LineClientServer> server_;  // null until Listen()
  // Its sessions belong to nut_.
  std::unique_ptr<LineClientServer> nut_server_;

  StatusPublisher publisher_{&link_, &properties_};
};
