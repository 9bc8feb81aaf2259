#include "service/status_publisher.h"

#include <iterator>
#include <string>
#include <vector>

#include "common/integer_text.h"
#include "common/time/timestamp.h"
#include "service/agent_commands.h"
#include "service/http/status_view_adapter.h"
#include "service/property_cache.h"
#include "service/status_snapshot.h"

namespace {

// The agent commands of the unit's texts and ratings, as the status view
// orders them.
constexpr const char* kModelCommand = "R12";
constexpr const char* kFirmwareCommand = "R13";
constexpr const char* kRatingCommands[kRatingItemCount] = {"R16", "R17", "R18",
                                                           "R19", "R20"};

}  // namespace

StatusPublisher::StatusPublisher(AgentCommands* agent,
                                 PropertyCache* properties)
    : agent_(agent), properties_(properties) {}

void StatusPublisher::CountEvent(int32_t code) {
  if (code >= 0 && code < kEventCount) ++event_counts_[code];
}

void StatusPublisher::Publish(const StatusSnapshot& pass, bool connected,
                              int64_t agent_restarts) {
  if (!pass.valid) return;
  if (pass.taken_ms != published_pass_ms_) {
    // A new pass: it completed just now, in this turn of the loop, so the
    // real-time clock now stands for its time.
    published_pass_ms_ = pass.taken_ms;
    published_pass_unix_ms_ = Timestamp::Now().Value();
  }
  // A write through a client clears the cache: what was known is asked
  // again.
  if (properties_->empty() && properties_seen_) asked_ = false;
  properties_seen_ = !properties_->empty();
  // Asked once contact is confirmed: confirming it clears the cache.
  if (connected) AskUnitProperties();
  StatusView view;
  FillStatusView(pass, published_pass_unix_ms_, &view);
  properties_->Find(kModelCommand, &view.model);
  properties_->Find(kFirmwareCommand, &view.firmware);
  for (int32_t item = 0; item < kRatingItemCount; ++item) {
    std::string answer;
    StatusReading& rating = view.ratings[item];
    rating.present = properties_->Find(kRatingCommands[item], &answer) &&
                     ParseWholeInt32(answer, &rating.value);
  }
  view.agent_restarts = agent_restarts;
  for (int32_t code = 0; code < kEventCount; ++code) {
    view.event_counts[code] = event_counts_[code];
  }
  board_.Publish(view);
}

void StatusPublisher::AskUnitProperties() {
  if (asked_) return;
  asked_ = true;
  std::vector<const char*> commands = {kModelCommand, kFirmwareCommand};
  commands.insert(commands.end(), std::begin(kRatingCommands),
                  std::end(kRatingCommands));
  for (const char* command : commands) {
    std::string line = command;
    PropertyCache* properties = properties_;
    agent_->Enqueue(line, [properties, line](const AgentReply& reply) {
      // A unit that lacks the property answers an error: it stays unknown.
      if (reply.kind == AgentReply::Kind::kValue) {
        properties->Store(line, reply.text);
      }
    });
  }
}
