#include "agent/protocol/protocol_factory.h"

#include <string>
#include <vector>

#include "agent/media/platform_factory.h"
#include "agent/protocol/i_protocol.h"
#include "agent/protocol/null_protocol.h"
#include "agent/protocol/p99_protocol.h"
#include "agent/protocol/pc_protocol.h"
#include "agent/protocol/result_codes.h"
#include "agent/protocol/t_protocol.h"

namespace {

// Asks a fresh protocol for the model name with a 16-byte buffer, which
// tells whether it talks to the unit on its media: 0 means yes. A kind that
// is not available answers kNotSupported.
int32_t Identify(IProtocol* protocol) {
  if (protocol == nullptr) return result::kNotSupported;
  char name[16];
  int32_t size = sizeof(name);
  return protocol->GetModelName(name, &size);
}

}  // namespace

ProtocolFactory::ProtocolFactory(PlatformFactory* platform, Clock* clock)
    : platform_(platform), clock_(clock) {}

ProtocolFactory::~ProtocolFactory() = default;

IProtocol* ProtocolFactory::Create(int32_t media_type, int32_t media_index) {
  media_.reset();
  if (media_type == media_type::kNone) return new NullProtocol(0, 0);

  std::vector<std::string> devices;
  if (!platform_->GetDeviceList(&devices)) return nullptr;

  for (const std::string& entry : devices) {
    int32_t type = -1;
    int32_t index = -1;
    // None, automatic and whole-kind entries are never opened.
    if (!ParseDeviceEntry(entry, &type, &index)) continue;
    if (type < 0 || index <= 0) continue;
    if (type == media_type::kNone || type == media_type::kAutomatic) continue;

    if (media_type != media_type::kAutomatic && media_type != type) continue;
    if (media_index != 0 && media_index != index) continue;

    media_.reset(platform_->CreateMedia(type, index));
    if (!media_) continue;
    IProtocol* protocol = Probe(media_.get());
    if (protocol != nullptr) return protocol;
    media_.reset();
  }
  return new NullProtocol(media_type, media_index);
}

IProtocol* ProtocolFactory::NewProtocol(Kind kind, IMedia* media) {
  // Each kind that is part of the agent is built here on (media, clock_).
  switch (kind) {
    case Kind::kP99:
      return new P99Protocol(media, clock_);
    case Kind::kPc:
      return new PcProtocol(media, clock_);
    case Kind::kT:
      return new TProtocol(media, clock_);
  }
  return nullptr;
}

IProtocol* ProtocolFactory::Probe(IMedia* media) {
  // First attempt: the P99 byte protocol.
  Released<IProtocol> protocol(NewProtocol(Kind::kP99, media));
  const int32_t first = Identify(protocol.get());
  if (first == result::kSuccess) return protocol.release();
  // The failed kind goes before the next one is made on the same media.
  protocol.reset();

  // Second attempt: a silent line may be a contact-signalling unit; a line
  // that answered in another way may speak the text protocol.
  protocol.reset(
      NewProtocol(first == result::kNoAnswer ? Kind::kPc : Kind::kT, media));
  if (Identify(protocol.get()) == result::kSuccess) return protocol.release();
  return nullptr;
}
