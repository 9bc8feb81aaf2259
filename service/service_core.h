#pragma once

#include <cstdint>
#include <string>

#include "service/parameter_store.h"

class AgentCommands;
class LogStore;
class PropertyCache;

// What a front end of the service may use: snapshot answers, agent
// commands, the property cache, the parameters and the logs. Service is the
// real one; request handlers are tested against a fake. A second protocol
// is written against this interface beside the kovra one.
class ServiceCore {
 public:
  ServiceCore() = default;
  ServiceCore(const ServiceCore&) = delete;
  ServiceCore& operator=(const ServiceCore&) = delete;
  virtual ~ServiceCore() = default;

  // 0 with the snapshot slot's value in *value, or the error number of the
  // answer (8 while the snapshot is missing or old).
  virtual int32_t ReadStatus(int32_t slot, int32_t* value) = 0;

  virtual AgentCommands* agent() = 0;
  virtual PropertyCache* properties() = 0;

  // As ParameterStore::Get and Set; a successful Set also applies the
  // change (a port change goes to the agent, for example).
  virtual int32_t GetParameter(ParameterSpace space, const std::string& key,
                               int32_t* value) = 0;
  virtual int32_t SetParameter(ParameterSpace space, const std::string& key,
                               const std::string& text) = 0;

  // The logs, or null when the service keeps none.
  virtual LogStore* logs() = 0;
};
