#pragma once

#include <cstdint>

#include "agent/protocol/command_frame.h"
#include "agent/protocol/result_codes.h"

class Clock;
class IMedia;

// The request/reply exchange that the text and the P99 protocols share: one
// frame written and its reply read back, a link check that tells a silent
// line from a missing unit, the 100 ms pause, and the bounded retry loop.
// The protocols differ only in the number of attempts, the frames and the
// checks of the replies. The media and the clock are borrowed and must
// outlive this object.
class SerialExchange final {
 public:
  static constexpr int32_t kRetryPauseMillis = 100;

  SerialExchange(IMedia* media, Clock* clock) : media_(media), clock_(clock) {}

  // Writes the frame's request and reads its reply. 0; 6 when the media took
  // fewer bytes than the write length; 7 when a fixed read length was not
  // met. read_length is set to the bytes received (on 7 too).
  int32_t Exchange(CommandFrame* frame);

  // True when the media reports its pins and DSR is set.
  bool LinkCheck();

  // Waits the given milliseconds through the clock.
  void Pause(int32_t millis);

  // Runs up to `attempts` exchanges of the frame, pausing 100 ms before every
  // attempt but the first. A failed exchange ends everything with 8 when the
  // link check fails, else counts as the attempt's code. Otherwise check(frame)
  // judges the reply: 0 accepts it and ends the loop with 0, any other code is
  // the attempt's code. After the last failed attempt its code is returned.
  template <typename Check>
  int32_t Run(CommandFrame* frame, int32_t attempts, Check&& check) {
    return Run(
        frame, attempts, [](int32_t) {}, check);
  }

  // As above; before_retry(attempt) runs after the pause of attempts 1 and on.
  template <typename BeforeRetry, typename Check>
  int32_t Run(CommandFrame* frame, int32_t attempts, BeforeRetry&& before_retry,
              Check&& check) {
    if (attempts <= 0) return result::kNotSupported;
    const int32_t expected = frame->read_length;
    int32_t code = result::kSuccess;
    for (int32_t attempt = 0; attempt < attempts; ++attempt) {
      if (attempt > 0) {
        Pause(kRetryPauseMillis);
        before_retry(attempt);
      }
      frame->read_length = expected;
      const int32_t exchanged = Exchange(frame);
      if (exchanged != result::kSuccess) {
        if (!LinkCheck()) return result::kNoAnswer;
        code = exchanged;
        continue;
      }
      code = check(*frame);
      if (code == result::kSuccess) return result::kSuccess;
    }
    return code;
  }

  IMedia* media() const { return media_; }
  Clock* clock() const { return clock_; }

 private:
  IMedia* media_;
  Clock* clock_;
};
