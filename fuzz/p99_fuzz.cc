// The P99 identification and poll through the proxy's decoding. The first
// input byte picks the unit:
//  - even: a well-formed unit (FakeP99Unit) whose model, ratings, setting
//    registers and status bytes come from the input, so every table set is
//    reached (voltage class, model class and index, item 29, variant);
//  - odd: raw replies, each a length byte and that many bytes, one per
//    request, so the framing checks see arbitrary bytes.
// Checks: the interface's contract for every read, capacity within 0 to
// 100 %, backup time within the backup scale, identification within the
// model list, and every setting code that decodes encodes back to itself.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "agent/protocol/p99_protocol.h"
#include "agent/protocol/p99_proxy.h"
#include "agent/protocol/p99_tables.h"
#include "fuzz/protocol_checks.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_p99_unit.h"
#include "tests/support/scripted_media.h"

namespace {

using fuzz::Check;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// The setting registers the proxy decodes.
constexpr uint8_t kRegisters[] = {0x02, 0x04, 0x08, 0x18,
                                  0x0F, 0x29, 0x2B, 0x3D};

void CheckMeasurements(P99Protocol* protocol) {
  int32_t capacity = 0;
  int32_t backup = 0;
  Check(protocol->GetBatteryCapacity(&capacity) == result::kSuccess &&
            protocol->GetBackupTime(&backup) == result::kSuccess,
        "status reads of the snapshot fail");
  Check(capacity >= 0 && capacity <= 10000, "capacity outside 0 to 100 %");
  const P99Proxy* proxy = protocol->proxy();
  const int32_t scale = proxy->tables_ready() ? proxy->backup_scale() : 3600;
  Check(backup >= 0 && backup <= scale, "backup time outside its scale");
}

void CheckIdentification(P99Protocol* protocol) {
  int32_t value = 0;
  if (protocol->GetModelIndex(&value) == result::kSuccess) {
    Check(value >= 1 && value < p99::kModelCount, "model index outside list");
    int32_t model_class = 0;
    Check(protocol->GetModelClass(&model_class) == result::kSuccess &&
              model_class == p99::ModelClassOf(value),
          "model class differs from the list");
  }
}

// Each code that decodes gives a value that encodes back to that code.
void CheckSettingRoundTrips(P99Protocol* protocol, Input* input) {
  P99Proxy* proxy = protocol->proxy();
  for (int32_t item = 0; item <= 3; ++item) {
    const uint8_t byte = input->Byte();
    int32_t value = 0;
    if (proxy->DecodeSetting(item, byte, &value) != result::kSuccess) continue;
    uint8_t encoded = 0;
    Check(proxy->EncodeSetting(item, value, &encoded) == result::kSuccess,
          "a decoded setting value does not encode");
    int32_t again = 0;
    Check(proxy->DecodeSetting(item, encoded, &again) == result::kSuccess &&
              again == value,
          "a setting does not round-trip through its code");
  }
}

void RunWellFormedUnit(Input* input) {
  FakeP99Unit unit;
  const uint8_t model = input->Byte();
  if (model % 40 < p99::kModelCount) {
    unit.model = p99::kModels[model % 40].name;
  } else {
    // A text of the unit's own: up to ten bytes of the input.
    unit.model.clear();
    for (int i = 0, n = input->Byte() % 11; i < n; ++i) {
      unit.model.push_back(static_cast<char>(input->Byte()));
    }
  }
  unit.rated_voltage = input->Byte();
  unit.rated_frequency = input->Byte();
  for (uint8_t reg : kRegisters) unit.registers[reg] = input->Byte();
  // Voltage classes and variants beyond the defined ones are rare in the
  // input, so fold most of them into 0 to 4.
  if (unit.registers[0x29] & 0x80) unit.registers[0x29] &= 0x03;
  if (unit.registers[0x2B] & 0x80) unit.registers[0x2B] &= 0x03;

  FakeClock clock;
  ScriptedMedia media;
  media.AttachClock(&clock);
  unit.AttachTo(&media);
  P99Protocol protocol(&media, &clock);
  char name[32];
  int32_t size = sizeof name;
  protocol.GetModelName(name, &size);
  CheckIdentification(&protocol);

  for (int poll = 0; poll < 8 && !input->empty(); ++poll) {
    for (uint8_t& status_byte : unit.status) status_byte = input->Byte();
    unit.check_byte = input->Byte();
    protocol.Poll();
    CheckMeasurements(&protocol);
  }
  fuzz::CheckEveryRead(&protocol);
  CheckIdentification(&protocol);
  CheckSettingRoundTrips(&protocol, input);
}

void RunRawReplies(Input* input) {
  std::deque<ScriptedMedia::Bytes> replies;
  while (!input->empty()) {
    ScriptedMedia::Bytes reply;
    for (int i = 0, n = input->Byte() % 32; i < n; ++i) {
      reply.push_back(input->Byte());
    }
    replies.push_back(reply);
  }
  FakeClock clock;
  ScriptedMedia media;
  media.AttachClock(&clock);
  media.SetResponder([&replies](const ScriptedMedia::Bytes&) {
    if (replies.empty()) return ScriptedMedia::Bytes();
    ScriptedMedia::Bytes next = replies.front();
    replies.pop_front();
    return next;
  });
  P99Protocol protocol(&media, &clock);
  for (int poll = 0; poll < 3; ++poll) {
    Check(fuzz::KnownCode(protocol.Poll()), "poll: unknown result code");
    CheckMeasurements(&protocol);
  }
  fuzz::CheckEveryRead(&protocol);
  CheckIdentification(&protocol);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input input(data, size);
  if (input.Byte() % 2 == 0) {
    RunWellFormedUnit(&input);
  } else {
    RunRawReplies(&input);
  }
  return 0;
}
