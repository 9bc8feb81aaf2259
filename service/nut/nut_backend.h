#pragma once

#include <functional>
#include <string>
#include <vector>

#include "service/nut/nut_unit_data.h"
#include "service/nut_user.h"

// What the NUT request handler needs from the service, so the handler stays
// a pure function of request lines and can be tested with a fake. The
// service implements it over its agent queue, snapshot, parameters and
// connection list. It must outlive every handler and every done callback
// it has been given.
class NutBackend {
 public:
  NutBackend() = default;
  NutBackend(const NutBackend&) = delete;
  NutBackend& operator=(const NutBackend&) = delete;
  virtual ~NutBackend() = default;

  // What the service knows now.
  virtual const NutUnitData& Data() const = 0;
  // False while no agent process runs.
  virtual bool AgentRunning() const = 0;
  // True when the snapshot is missing or too old to serve, or the agent is
  // not in contact with the unit.
  virtual bool Stale() const = 0;

  // Queues one agent command (W0 to W4, C0 to C3) the way the tool's
  // configure and test requests go; done(true) once the agent answered it
  // without an error, done(false) otherwise.
  virtual void SendAgentLine(const std::string& agent_line,
                             std::function<void(bool ok)> done) = 0;
  // Stores the buzzer setting ("service.buzzer on") and applies it to the
  // unit; done as for SendAgentLine.
  virtual void SetBuzzer(bool on, std::function<void(bool ok)> done) = 0;
  // Sets the forced-shutdown flag: ups.status carries FSD from now on.
  virtual void SetForcedShutdown() = 0;

  // Writes one line of the service's diagnostics (user actions: who set
  // what). The text never holds a password.
  virtual void Log(const std::string& text) = 0;

  // Connections that did LOGIN, over all connections, and their addresses.
  virtual int LoginCount() const = 0;
  virtual std::vector<std::string> LoginAddresses() const = 0;

  // The configured users.
  virtual const std::vector<NutUser>& Users() const = 0;
};
