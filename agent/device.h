#pragma once

#include <cstdint>
#include <string>

#include "agent/i_pipe.h"
#include "agent/protocol/i_protocol.h"
#include "common/released.h"
#include "common/time/clock.h"
#include "common/time/system_clock.h"

class PlatformFactory;
class ProtocolFactory;

// The agent's one device: it joins the pipe to the UPS service, the current
// protocol and the command dispatcher. Run is the timed main loop; it answers
// command lines as they arrive and polls the protocol once per period, and
// detects the unit again when a poll fails or a C4 command asks for it.
class Device final {
 public:
  // The longest command line kept, without its newline. Longer lines are
  // read to their newline and answered with "E 16".
  static constexpr int32_t kMaxLineLength = 255;
  static constexpr int32_t kPollPeriodMillis = 3000;

  // The platform factory and the clock are borrowed and must outlive the
  // device.
  Device(PlatformFactory* platform, int32_t media_type, int32_t media_index,
         Clock* clock = SystemClock::Instance());
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  // Deletes the pipe, then the protocol.
  virtual ~Device();

  virtual void Release();

  // The main loop over standard input and output with a ProtocolFactory of
  // its own. Returns when the pipe closes or no protocol can be made.
  void Run();

  // The main loop over the given descriptors (handed to a pipe from the
  // platform factory, which then owns them) with a borrowed protocol
  // factory. The protocol is deleted before this returns, so the factory may
  // release its media right after.
  void RunWith(int32_t input_fd, int32_t output_fd, ProtocolFactory* protocols);

  // Reads one command line within budget_millis and answers it. Returns 15
  // (pipe closed or broken) or 18 (budget used up, the partial line is kept)
  // when no whole line arrived, 15 when the reply cannot be written, and
  // otherwise the command's own result (20: the media selection changed and
  // the protocol must be re-created).
  int32_t ProcessCommand(int32_t budget_millis);

  // Whether switching to the new media selection needs a new protocol,
  // judged from the present selection and what the protocol reports. Media
  // types outside 0 to 3 always need one.
  bool NeedsRestart(int32_t new_type, int32_t new_index);

  int32_t media_type() const { return media_type_; }
  int32_t media_index() const { return media_index_; }

  // Installs the pipe and the protocol (both owned from then on) without
  // running the main loop, so the dispatcher can be driven on its own.
  void Attach(IPipe* pipe, IProtocol* protocol);

 private:
  // Builds the reply to the line in line_ and returns its result code.
  int32_t Dispatch(std::string* reply);
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

  char line_[kMaxLineLength + 1];
  int32_t line_length_ = 0;
  // Set when the line being read has outgrown line_; its remaining bytes are
  // dropped up to the newline.
  bool line_overlong_ = false;
  int32_t media_type_;
  int32_t media_index_;
  int32_t poll_period_ = kPollPeriodMillis;
  Released<IProtocol> protocol_;
  Released<IPipe> pipe_;
  PlatformFactory* platform_;
  Clock* clock_;
};
