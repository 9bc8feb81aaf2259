#pragma once

#include <cstdint>
#include <string>

#include "agent/command_dispatcher.h"
#include "agent/i_pipe.h"
#include "agent/protocol/i_protocol.h"
#include "common/released.h"
#include "common/time/clock.h"
#include "common/time/system_clock.h"

class PlatformFactory;
class ProtocolFactory;

// The agent's one device: it joins the pipe to the UPS service, the current
// protocol and the command dispatcher (which answers each command line). Run is
// the timed main loop; it answers command lines as they arrive and polls the
// protocol once per period, and detects the unit again when a poll fails or a
// C4 command asks for it.
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

  int32_t media_type() const { return selection_.type; }
  int32_t media_index() const { return selection_.index; }

  // Installs the pipe (owned from then on) without running the main loop,
  // so that ProcessCommand can be driven on its own; the protocol stays
  // null.
  void AttachPipe(IPipe* pipe);

 private:
  char line_[kMaxLineLength + 1];
  int32_t line_length_ = 0;
  // Set when the line being read has outgrown line_; its remaining bytes are
  // dropped up to the newline.
  bool line_overlong_ = false;
  MediaSelection selection_;
  int32_t poll_period_ = kPollPeriodMillis;
  Released<IProtocol> protocol_;
  Released<IPipe> pipe_;
  PlatformFactory* platform_;
  Clock* clock_;
  CommandDispatcher dispatcher_;
};
