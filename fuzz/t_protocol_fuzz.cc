// The text protocol against a scripted unit that answers with the fuzz
// input: the input is cut after each CR into replies, one per request, in
// the order the protocol sends them (wake-up, status polls, then the
// property queries the reads make). A full poll, then every read of the
// interface held to its contract; status flags must be 0 or 1.

#include <cstddef>
#include <cstdint>
#include <deque>

#include "agent/protocol/t_protocol.h"
#include "fuzz/protocol_checks.h"
#include "tests/support/fake_clock.h"
#include "tests/support/scripted_media.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::deque<ScriptedMedia::Bytes> replies;
  ScriptedMedia::Bytes reply;
  for (size_t i = 0; i < size; ++i) {
    reply.push_back(data[i]);
    if (data[i] == '\r') {
      replies.push_back(reply);
      reply.clear();
    }
  }
  if (!reply.empty()) replies.push_back(reply);

  FakeClock clock;
  ScriptedMedia media;
  media.AttachClock(&clock);
  media.SetResponder([&replies](const ScriptedMedia::Bytes&) {
    if (replies.empty()) return ScriptedMedia::Bytes();
    ScriptedMedia::Bytes next = replies.front();
    replies.pop_front();
    return next;
  });

  TProtocol protocol(&media, &clock);
  const int32_t code = protocol.Poll();
  fuzz::Check(fuzz::KnownCode(code), "poll: unknown result code");
  // A second poll decodes with the property cells filled by the first.
  protocol.Poll();
  fuzz::CheckEveryRead(&protocol);
  return 0;
}
