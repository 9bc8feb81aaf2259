#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "service/nut/nut_backend.h"
#include "tests/support/nut_unit_samples.h"

// A NutBackend that answers from fields a test sets and records what the
// handler asked of it. Agent commands and buzzer changes wait in `pending`
// until the test completes them with Finish.
class FakeNutBackend final : public NutBackend {
 public:
  struct Pending {
    std::string what;  // the agent line, or "buzzer 1" / "buzzer 0"
    std::function<void(bool)> done;
  };

  const NutUnitData& Data() const override { return data; }
  bool AgentRunning() const override { return agent_running; }
  bool Stale() const override { return stale; }
  void SendAgentLine(const std::string& agent_line,
                     std::function<void(bool)> done) override {
    pending.push_back({agent_line, std::move(done)});
  }
  void SetBuzzer(bool on, std::function<void(bool)> done) override {
    pending.push_back({on ? "buzzer 1" : "buzzer 0", std::move(done)});
  }
  void SetForcedShutdown() override { data.forced_shutdown = true; }
  void Log(const std::string& text) override { logs.push_back(text); }
  int LoginCount() const override { return static_cast<int>(clients.size()); }
  std::vector<std::string> LoginAddresses() const override { return clients; }
  const std::vector<NutUser>& Users() const override { return users; }

  // Completes the oldest pending request.
  void Finish(bool ok) {
    Pending first = std::move(pending.front());
    pending.erase(pending.begin());
    first.done(ok);
  }

  NutUnitData data = SampleFullUnit();
  bool agent_running = true;
  bool stale = false;
  std::vector<NutUser> users;
  std::vector<std::string> clients;
  std::vector<Pending> pending;
  std::vector<std::string> logs;
};
