#pragma once

#include <cstdint>
#include <string>

// What a "DEV ..." request of a client turns into.
struct DevRequest {
  enum class Source {
    kSnapshot,  // answered from the status snapshot
    kAgent,     // one agent command, answered when its reply arrives
  };
  enum class Form {
    kNumber,      // the agent's value, as it is
    kText,        // the agent's text, as it is
    kDeviceList,  // the agent's comma-separated list, one entry per line
    kNone,        // success carries no value
  };
  Source source = Source::kAgent;
  Form form = Form::kNone;
  std::string command;         // agent command line, without newline
  int32_t snapshot_slot = -1;  // for kSnapshot: index in the snapshot
  bool cacheable = false;      // the answer stays valid until the unit changes
  bool changes_unit = false;   // a write: cached answers become doubtful
};

// Maps the text after "DEV " to its request. Returns 0 and fills *request,
// 1 for an unknown name, or 4 for a setting or command whose argument is not
// a 32-bit decimal number.
int32_t MapDevRequest(const std::string& text, DevRequest* request);
