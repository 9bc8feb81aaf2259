#pragma once

#include <cstdint>

#include "agent/media/i_media.h"
#include "common/released.h"
#include "common/time/clock.h"

class IProtocol;
class PlatformFactory;

// Turns a media selection (type and index) into a working protocol: walks
// the platform's device list, opens each matching device and probes the
// protocol kinds on it; with no unit found it hands out a NullProtocol.
//
// The factory owns the media of the protocol it last returned and releases
// it at the start of the next Create or when destroyed, so the caller must
// delete that protocol first.
class ProtocolFactory {
 public:
  // Both pointers are borrowed and must outlive the factory; the clock is
  // handed to every protocol built here.
  ProtocolFactory(PlatformFactory* platform, Clock* clock);
  ProtocolFactory(const ProtocolFactory&) = delete;
  ProtocolFactory& operator=(const ProtocolFactory&) = delete;
  virtual ~ProtocolFactory();

  // A new protocol for the selection, owned by the caller, or null when the
  // device list cannot be made. Releases the media held from the last call.
  virtual IProtocol* Create(int32_t media_type, int32_t media_index);

  // A protocol that identified the unit on the opened media (borrowed by the
  // protocol), or null. Two attempts: the P99 kind first; then, when the
  // line stayed silent (8), the contact-signalling kind, else the text kind.
  IProtocol* Probe(IMedia* media);

  enum class Kind { kP99, kPc, kT };

  // A new protocol of the kind on the media (borrowed), owned by the caller;
  // null while that kind is not part of the agent. Virtual so that tests can
  // stand in for the kinds.
  virtual IProtocol* NewProtocol(Kind kind, IMedia* media);

  // The media held for the last protocol returned; null for a NullProtocol.
  IMedia* media() const { return media_.get(); }

 protected:
  Clock* clock() const { return clock_; }

 private:
  Released<IMedia> media_;
  PlatformFactory* platform_;
  Clock* clock_;
};
