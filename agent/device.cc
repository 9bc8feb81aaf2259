#include "agent/device.h"

#include <fcntl.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "agent/media/platform_factory.h"
#include "agent/protocol/protocol_factory.h"
#include "agent/protocol/result_codes.h"

namespace {

// The descriptor of the stream, or -1 when it has none or it is not open.
int OpenDescriptor(FILE* stream) {
  const int fd = fileno(stream);
  if (fd < 0 || fcntl(fd, F_GETFD) == -1) return -1;
  return fd;
}

}  // namespace

Device::Device(PlatformFactory* platform, int32_t media_type,
               int32_t media_index, Clock* clock)
    : selection_{media_type, media_index},
      platform_(platform),
      clock_(clock),
      dispatcher_(platform, &selection_) {
  line_[0] = '\0';
}

Device::~Device() {
  pipe_.reset();
  protocol_.reset();
}

void Device::Release() { delete this; }

void Device::AttachPipe(IPipe* pipe) { pipe_.reset(pipe); }

void Device::Run() {
  // A stream keeps its descriptor number even when the descriptor was never
  // open (the agent started with standard input closed), so the number is
  // checked as well: such a pipe could not carry a command, and the number
  // would be free for the first port opened by detection.
  int input_fd = OpenDescriptor(stdin);
  int output_fd = OpenDescriptor(stdout);
  if (input_fd == -1 || output_fd == -1) return;
  ProtocolFactory protocols(platform_, clock_);
  RunWith(input_fd, output_fd, &protocols);
}

void Device::RunWith(int32_t input_fd, int32_t output_fd,
                     ProtocolFactory* protocols) {
  if (input_fd < 0 || output_fd < 0) return;
  pipe_.reset(platform_->CreatePipe(input_fd, output_fd));
  protocol_.reset();
  protocol_.reset(protocols->Create(selection_.type, selection_.index));

  if (pipe_ && protocol_) {
    // Start one period in the past so that the first pass polls at once.
    int64_t last_poll = clock_->MonotonicMillis() - poll_period_;
    for (;;) {
      int64_t now = clock_->MonotonicMillis();
      int64_t elapsed = now - last_poll;
      if (elapsed < 0) {
        // The clock went backwards: start the period afresh rather than
        // wait for the old reading to come round again.
        last_poll = now;
        elapsed = 0;
      }
      bool restart = false;
      if (elapsed < poll_period_) {
        int32_t code =
            ProcessCommand(static_cast<int32_t>(poll_period_ - elapsed));
        if (code == result::kPipeClosed) break;
        if (code == result::kMediaChanged) {
          restart = true;
        } else if (code != result::kTimeout) {
          continue;
        }
      }
      if (!restart && protocol_->Poll() == result::kSuccess) {
        last_poll = clock_->MonotonicMillis();
        continue;
      }
      // Restart: the old protocol goes before the factory releases its media.
      protocol_.reset();
      protocol_.reset(protocols->Create(selection_.type, selection_.index));
      if (!protocol_) break;
      protocol_->Poll();
      last_poll = clock_->MonotonicMillis();
    }
  }
  // The protocol may use the media until it is deleted, so it always goes
  // before the protocol factory is destroyed by the caller.
  protocol_.reset();
}

int32_t Device::ProcessCommand(int32_t budget_millis) {
  if (!pipe_) return result::kPipeClosed;
  const int32_t budget = budget_millis < 0 ? 0 : budget_millis;
  const int64_t start = clock_->MonotonicMillis();
  // One clock reading per byte: the one taken after a byte both ends the
  // line's budget and sets the next byte's wait.
  int64_t elapsed = 0;
  for (;;) {
    // A clock that stepped back leaves the whole budget, never more.
    const int64_t left = elapsed < 0 ? budget : budget - elapsed;
    char byte = 0;
    int32_t code = pipe_->ReadTimeout(&byte, 1, static_cast<uint32_t>(left));
    if (code != result::kSuccess) return code;
    if (byte == '\n') break;
    if (line_length_ < kMaxLineLength) {
      line_[line_length_++] = byte;
      line_[line_length_] = '\0';
    } else {
      line_overlong_ = true;
    }
    elapsed = clock_->MonotonicMillis() - start;
    if (elapsed > budget) return result::kTimeout;
  }

  std::string reply;
  int32_t code = dispatcher_.Dispatch(
      std::string_view(line_, static_cast<size_t>(line_length_)),
      line_overlong_, protocol_.get(), &reply);
  line_length_ = 0;
  line_[0] = '\0';
  line_overlong_ = false;
  int32_t written =
      pipe_->Write(reply.data(), static_cast<int32_t>(reply.size()));
  if (written != result::kSuccess) return written;
  return code;
}
