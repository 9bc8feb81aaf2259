#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/service_wire.h"
#include "service/parameter_store.h"
#include "service/property_cache.h"
#include "service/service_core.h"
#include "tests/support/fake_agent_commands.h"

// The service's core for tests of a front end: status values set by the
// test (error 8 for a slot it did not set), the fake agent commands, a real
// property cache, real parameters without a database, and logs the test
// may give. Records every successful parameter change.
class FakeServiceCore final : public ServiceCore {
 public:
  int32_t ReadStatus(int32_t slot, int32_t* value) override {
    auto found = status_.find(slot);
    if (found == status_.end()) return service_wire::kErrNoContact;
    if (found->second.second != 0) return found->second.second;
    *value = found->second.first;
    return 0;
  }
  AgentCommands* agent() override { return &agent_; }
  PropertyCache* properties() override { return &properties_; }
  int32_t GetParameter(ParameterSpace space, const std::string& key,
                       int32_t* value) override {
    return params_.Get(space, key, value);
  }
  int32_t SetParameter(ParameterSpace space, const std::string& key,
                       const std::string& text) override {
    int32_t result = params_.Set(space, key, text);
    if (result == 0) changed_.push_back(key);
    return result;
  }
  LogStore* logs() override { return logs_; }

  void SetStatus(int32_t slot, int32_t value) { status_[slot] = {value, 0}; }
  void SetStatusError(int32_t slot, int32_t code) { status_[slot] = {0, code}; }
  void ForgetStatus() { status_.clear(); }
  void set_logs(LogStore* logs) { logs_ = logs; }

  FakeAgentCommands& fake_agent() { return agent_; }
  PropertyCache& cache() { return properties_; }
  const std::vector<std::string>& changed() const { return changed_; }

 private:
  std::map<int32_t, std::pair<int32_t, int32_t>> status_;  // value, error
  FakeAgentCommands agent_;
  PropertyCache properties_;
  ParameterStore params_{nullptr};
  LogStore* logs_ = nullptr;
  std::vector<std::string> changed_;
};
