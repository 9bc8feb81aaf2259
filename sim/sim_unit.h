#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One request as the unit saw it on the line, and what it answered. A stray
// byte that starts no request is reported with ignored set and no answer.
struct WireExchange {
  std::string request;
  std::string answer;
  bool ignored = false;
};

// One kind of simulated unit: it frames the bytes the agent sends into
// requests and answers each from the shared SimState (which it borrows for
// its whole life, and may change: a self-test or shutdown request does).
// Requests arrive in pieces, often a byte at a time, so a unit keeps a
// partial request between calls. P99Unit is the byte-protocol kind.
class SimUnit {
 public:
  SimUnit() = default;
  SimUnit(const SimUnit&) = delete;
  SimUnit& operator=(const SimUnit&) = delete;
  virtual ~SimUnit() = default;

  // Takes bytes received at now_ms and appends one entry to *exchanges for
  // every request completed (or stray byte dropped) by them, in order.
  virtual void Receive(const uint8_t* data, size_t size, int64_t now_ms,
                       std::vector<WireExchange>* exchanges) = 0;

  // Extra "name value" lines for the status command (the unit's own
  // settings), each ending in a newline; may be empty.
  virtual std::string Describe() const = 0;
};
