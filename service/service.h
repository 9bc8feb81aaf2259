#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "service/agent_reply.h"
#include "service/dev_request.h"
#include "service/event_detector.h"
#include "service/power_fail_monitor.h"
#include "service/save_hooks.h"
#include "service/status_snapshot.h"

class Clock;
class IAgentProcess;
class LogStore;
class ParameterStore;

// Everything the event loop needs to know that does not come from the
// stored parameters. Times are milliseconds unless named otherwise.
struct ServiceConfig {
  std::string listen_host = "127.0.0.1";
  uint16_t listen_port = 8855;
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
  int32_t max_saved_lines = 1000;

  // Shell command run for each event; empty runs none.
  std::string notify_command;
};

// The UPS service: one poll-based event loop that runs the agent child,
// keeps a status snapshot from it, serves any number of clients (up to a
// bound) over TCP, keeps settings and logs, and shuts the system down on a
// long power failure. Single-threaded except for Stop() and Wake(), and a
// worker thread that runs the save hooks.
class Service final {
 public:
  // agent, clock, params and logs must outlive the service.
  Service(const ServiceConfig& config, IAgentProcess* agent, Clock* clock,
          ParameterStore* params, LogStore* logs);
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;
  ~Service();

  // Opens the listening socket. Refuses an address outside the loopback
  // network unless remote clients are allowed. On failure returns false with
  // the cause in *error.
  bool Listen(std::string* error);

  // The port the service listens on (useful when 0 was asked for).
  uint16_t port() const { return port_; }

  // Runs until Stop(), then stops the agent and closes every connection.
  // Returns 0.
  int Run();

  // Asks Run() to end. Safe from a signal handler and from other threads.
  void Stop();

  // Makes the loop look at its timers again (after a test moved its clock).
  void Wake();

 private:
  struct Client {
    int fd = -1;
    uint64_t id = 0;
    std::string in;
    std::string out;
    bool name_ok = false;
    bool logged_in = false;
    int32_t failures = 0;
    bool busy = false;     // waiting for an agent reply
    bool closing = false;  // close once out has been sent
    bool dead = false;     // close now
    int64_t last_activity_ms = 0;
  };

  struct AgentCommand {
    std::string line;
    std::function<void(const AgentReply&)> done;
  };

  // Agent side.
  void StartAgent(int64_t now);
  void BreakAgent(int64_t now, const std::string& reason);
  // Queues a command; when the agent is not running, done gets error 8 at
  // once.
  void Enqueue(const std::string& line,
               std::function<void(const AgentReply&)> done);
  void SendNextCommand(int64_t now);
  void ReadAgent(int64_t now);
  void HandleAgentLine(int64_t now, const std::string& line);
  int64_t ReplyBound() const;

  // Snapshot, events, records, power failure.
  void RunTimers(int64_t now);
  void OnPollTick(int64_t now);
  void StartPass();
  void OnSnapshotReply(int32_t slot, const AgentReply& reply);
  bool SnapshotFresh(int64_t now) const;
  void FeedDetector(const StatusSnapshot& pass);
  void LogEvent(int32_t code);
  void WriteStatusRecord(int64_t now);
  void CheckPowerFail(int64_t now);
  void BeginShutdown();
  void CollectHookResults();
  void TellUpsToShutDown();
  void RunShutdownCommand();
  void ApplyBuzzer();

  // Client side.
  void AcceptClients(int64_t now);
  void ReadClient(Client* client, int64_t now);
  void ProcessInput(Client* client);
  void HandleRequest(Client* client, const std::string& line);
  void HandleLogin(Client* client, const std::string& line);
  void HandleDev(Client* client, const std::string& text);
  void HandleParameter(Client* client, bool ptc, const std::string& text);
  void HandleLog(Client* client, const std::string& text);
  void OnClientReply(uint64_t id, const DevRequest& request,
                     const AgentReply& reply);
  std::string SnapshotAnswer(int32_t slot, int64_t now) const;
  void Reply(Client* client, const std::string& text);
  void SendPending(Client* client);
  int NextTimeout(int64_t now) const;
  void CloseAll();

  ServiceConfig config_;
  IAgentProcess* agent_;
  Clock* clock_;
  ParameterStore* params_;
  LogStore* logs_;

  int listen_fd_ = -1;
  uint16_t port_ = 0;
  int wake_read_ = -1;
  int wake_write_ = -1;
  std::atomic<bool> stop_{false};

  // Agent state.
  bool agent_running_ = false;
  int64_t agent_started_ms_ = 0;
  int64_t restart_at_ms_ = 0;
  int64_t backoff_ms_ = 0;
  bool awaiting_first_reply_ = false;
  std::string agent_in_;
  std::deque<AgentCommand> queue_;
  std::optional<AgentCommand> in_flight_;
  int64_t in_flight_sent_ms_ = 0;
  // Answers of property reads that stay valid while the unit is the same.
  std::map<std::string, std::string> property_cache_;

  // Snapshot.
  StatusSnapshot snapshot_;
  StatusSnapshot pending_;
  bool pass_active_ = false;
  bool pass_due_ = false;  // a poll tick came while a pass was under way
  int64_t next_poll_ms_ = 0;
  int64_t next_record_ms_ = 0;

  EventDetector detector_;
  PowerFailMonitor monitor_;
  bool was_connected_ = false;

  // Save hooks run on a worker thread; the loop collects their result.
  std::thread hook_thread_;
  std::mutex hook_mutex_;
  SaveHookResult hook_result_;
  std::atomic<bool> hook_done_{false};
  bool hooks_running_ = false;
  int shutdown_pid_ = -1;

  // Clients.
  std::map<uint64_t, std::unique_ptr<Client>> clients_;
  uint64_t next_client_id_ = 1;
  int64_t last_refusal_log_ms_ = -1000000;
  int64_t accept_resume_ms_ = 0;  // accepting waits until then (EMFILE)
};
