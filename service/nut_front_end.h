#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "service/line_session.h"
#include "service/nut/nut_backend.h"
#include "service/nut/nut_request_handler.h"
#include "service/nut/nut_unit_data.h"
#include "service/nut_user.h"

class ServiceCore;

struct NutFrontEndConfig {
  std::string ups_name = "ups";
  std::vector<NutUser> users;
  int32_t restore_after_s = 60;  // the restore time C1 is given
  // A property the agent could not read (other than one the unit does not
  // report) is asked for again after this long.
  int64_t retry_ms = 5000;
};

// The service side of the NUT front end: the NutBackend over ServiceCore
// and the sessions of the NUT listener. Values come from the status
// snapshot and from the property cache, which Tick() keeps filled with the
// unit's fixed texts, ratings, settings and allowed values while the unit
// is in contact, so a request never waits on the serial line; only SET VAR
// and INSTCMD reach the agent. It also counts the logged-in secondaries and
// keeps the forced-shutdown request of a primary for the shutdown sequence.
// Single-threaded, driven by the service loop.
class NutFrontEnd final : public NutBackend {
 public:
  // core must outlive the front end and every session; shutdown_begun
  // tells whether the service's own shutdown has begun (FSD then shows).
  NutFrontEnd(const NutFrontEndConfig& config, ServiceCore* core,
              std::function<bool()> shutdown_begun);
  NutFrontEnd(const NutFrontEnd&) = delete;
  NutFrontEnd& operator=(const NutFrontEnd&) = delete;
  ~NutFrontEnd() override;

  // The session of a new connection; it must not outlive the front end.
  std::unique_ptr<LineSession> NewSession();

  // Asks the agent for the cached values that are missing and follows the
  // self-test for ups.test.result.
  void Tick(int64_t now);

  // True once a primary client set FSD.
  bool forced_shutdown_requested() const { return forced_; }
  // Connections logged in without primary rights: the secondaries the
  // shutdown waits for.
  int32_t Secondaries() const;

  // The agent commands whose answers Tick() keeps in the property cache.
  static const std::vector<std::string>& CachedCommands();

  // NutBackend.
  const NutUnitData& Data() const override;
  bool AgentRunning() const override;
  bool Stale() const override;
  void SendAgentLine(const std::string& agent_line,
                     std::function<void(bool ok)> done) override;
  void SetBuzzer(bool on, std::function<void(bool ok)> done) override;
  void SetForcedShutdown() override { forced_ = true; }
  void Log(const std::string& text) override;
  int LoginCount() const override;
  std::vector<std::string> LoginAddresses() const override;
  const std::vector<NutUser>& Users() const override { return config_.users; }

 private:
  class Session;

  void Refresh(int64_t now);
  NutServerInfo InfoNow() const;

  NutFrontEndConfig config_;
  ServiceCore* core_;
  std::function<bool()> shutdown_begun_;
  std::set<const Session*> sessions_;
  mutable NutUnitData data_;  // rebuilt by Data()

  std::set<std::string> pending_;  // commands asked for, not yet answered
  int64_t retry_at_ms_ = 0;
  bool forced_ = false;
  bool testing_ = false;          // S9 was 1 at the last look
  bool abort_requested_ = false;  // test.battery.stop since the test began
  NutTestOutcome last_test_ = NutTestOutcome::kNone;
};
