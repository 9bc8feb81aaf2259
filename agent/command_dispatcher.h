#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "agent/protocol/i_protocol.h"

class PlatformFactory;

// The media the agent is to use: a media type (0 none, 1 automatic, 2 serial
// port, 3 second media kind) and an index within it (0 = any).
struct MediaSelection {
  int32_t type = 0;
  int32_t index = 0;
};

// The pipe command protocol: turns one command line into exactly one reply
// line by calling the matching operation of the current protocol. It serves
// two commands itself: R37 (the selectable devices, from the platform
// factory) and C4 (a new media selection, stored in the borrowed selection).
// Reading the line and writing the reply are the caller's.
class CommandDispatcher final {
 public:
  // Both are borrowed and must outlive the dispatcher.
  CommandDispatcher(PlatformFactory* platform, MediaSelection* selection);
  CommandDispatcher(const CommandDispatcher&) = delete;
  CommandDispatcher& operator=(const CommandDispatcher&) = delete;

  // Answers the line (without its newline) against the protocol, which may
  // be null (every protocol operation then answers 1). `cut_off` says that
  // bytes of the line were dropped: the command is then not executed and
  // answers 16. *reply gets the one reply line, newline included. Returns
  // the command's result code (0 on success; 20 when a C4 selection needs a
  // new protocol).
  int32_t Dispatch(std::string_view line, bool cut_off, IProtocol* protocol,
                   std::string* reply);

  // Whether switching from the present selection to the new one needs a new
  // protocol, judged from the present selection and what the protocol (may
  // be null) reports. Media types outside 0 to 3 always need one.
  bool NeedsRestart(IProtocol* protocol, int32_t new_type,
                    int32_t new_index) const;

 private:
  int32_t DispatchStatus(int32_t number, int32_t* value);
  int32_t DispatchWrite(int32_t number, int32_t* value);
  int32_t DispatchRead(int32_t number, int32_t* value, std::string* text,
                       bool* has_text);
  int32_t DispatchCommand(int32_t number);
  // The two-call text read of R8 to R15. Without a text (the first call
  // succeeded without a buffer) the reply shows *size.
  int32_t ReadText(int32_t number, int32_t* size, std::string* text,
                   bool* has_text);
  int32_t ListDevices(std::string* text);
  // Reads the first (which == 1) or second (which == 2) argument of the line.
  int32_t ReadArgument(int which, int32_t* value) const;

  PlatformFactory* platform_;
  MediaSelection* selection_;
  // The line and protocol of the Dispatch call under way.
  std::string_view line_;
  IProtocol* protocol_ = nullptr;
};
