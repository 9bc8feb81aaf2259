#include "common/integer_text.h"
#include "service/nut_front_end.h"

#include <utility>

#include "common/service_wire.h"
#include "service/agent_commands.h"
#include "service/diagnostics.h"
#include "service/parameter_store.h"
#include "service/property_cache.h"
#include "service/service_core.h"

namespace {

// The agent's error for a value the unit does not report: kept like a
// value, so it is not asked for again and again.
constexpr int32_t kAgentErrNotReported = 1;
constexpr int32_t kSlotTestActive = 9;  // S9

const char* const kSettingCommands[NutUnitData::kSettings] = {
    "R0 0", "R1 0", "R2 0", "R3 0", "R4 0"};
const char* const kRangeCommands[4] = {"R8", "R9", "R10", "R11"};

// The cached answer of a command: its text, or "ERR n" for an agent error.
// False when the cache holds nothing for it.
bool Cached(const PropertyCache& cache, const char* command,
            NutTextReading* reading) {
  std::string answer;
  if (!cache.Find(command, &answer)) return false;
  int32_t code = 0;
  if (answer.compare(0, 4, "ERR ") == 0 &&
      ParseWholeInt32(answer.substr(4), &code)) {
    *reading = NutTextReading{std::string(), code == 0 ? 1 : code};
    return true;
  }
  *reading = NutTextReading::Of(answer);
  return true;
}

NutTextReading TextOf(const PropertyCache& cache, const char* command) {
  NutTextReading reading;
  Cached(cache, command, &reading);
  return reading;
}

NutReading NumberOf(const PropertyCache& cache, const char* command) {
  NutTextReading text;
  if (!Cached(cache, command, &text) || !text.ok()) {
    return NutReading{0, text.error};
  }
  int32_t value = 0;
  if (!ParseWholeInt32(text.text, &value)) return NutReading{};
  return NutReading::Of(value);
}

}  // namespace

// One NUT connection: the request handler, made once the peer is known,
// registered with the front end for the login count.
class NutFrontEnd::Session final : public LineSession {
 public:
  explicit Session(NutFrontEnd* owner) : owner_(owner) {
    owner_->sessions_.insert(this);
  }
  ~Session() override {
    owner_->sessions_.erase(this);
    if (handler_ && handler_->logged_in()) {
      owner_->Log("NUT: login from " + handler_->peer() +
                  " ended with its connection");
    }
  }

  void OnConnected(const std::string& peer) override {
    handler_.reset(new NutRequestHandler(owner_->InfoNow(), owner_, peer));
  }

  void HandleLine(const std::string& line, Respond respond) override {
    if (!handler_) OnConnected("unknown");
    bool was_logged_in = handler_->logged_in();
    NutReply reply = handler_->Handle(line);
    if (was_logged_in && !handler_->logged_in()) {
      owner_->Log("NUT: " + handler_->peer() + " logged out");
    }
    LineReply out;
    out.text = std::move(reply.text);
    out.close = reply.close;
    out.verbatim = true;
    respond(out);
  }

  std::string OverlongReply() const override { return "ERR TOO-LONG"; }

  bool authenticated() const override {
    return handler_ && handler_->logged_in();
  }

  const NutRequestHandler* handler() const { return handler_.get(); }

 private:
  NutFrontEnd* owner_;
  std::unique_ptr<NutRequestHandler> handler_;
};

NutFrontEnd::NutFrontEnd(const NutFrontEndConfig& config, ServiceCore* core,
                         std::function<bool()> shutdown_begun)
    : config_(config),
      core_(core),
      shutdown_begun_(std::move(shutdown_begun)) {}

NutFrontEnd::~NutFrontEnd() = default;

const std::vector<std::string>& NutFrontEnd::CachedCommands() {
  static const std::vector<std::string> commands = {
      "R0 0", "R1 0", "R2 0", "R3 0", "R4 0", "R8",  "R9",
      "R10",  "R11",  "R12",  "R13",  "R16",  "R17", "R18",
      "R19",  "R20",  "R25",  "R26",  "R27",  "R28"};
  return commands;
}

std::unique_ptr<LineSession> NutFrontEnd::NewSession() {
  return std::unique_ptr<LineSession>(new Session(this));
}

NutServerInfo NutFrontEnd::InfoNow() const {
  NutServerInfo info;
  info.ups_name = config_.ups_name;
  // The unit is described by its model once the model is known.
  NutTextReading model = TextOf(*core_->properties(), "R12");
  if (model.ok() && !model.text.empty()) info.description = model.text;
  return info;
}

void NutFrontEnd::Tick(int64_t now) {
  int32_t connected = 0;
  if (core_->ReadStatus(StatusSnapshot::kSlotConnected, &connected) != 0 ||
      connected == 0) {
    return;
  }
  int32_t testing = 0;
  if (core_->ReadStatus(kSlotTestActive, &testing) == 0) {
    bool active = testing == 1;
    if (testing_ && !active) {
      last_test_ =
          abort_requested_ ? NutTestOutcome::kAborted : NutTestOutcome::kDone;
    }
    if (!active) abort_requested_ = false;
    testing_ = active;
  }
  if (AgentRunning() && now >= retry_at_ms_) Refresh(now);
}

void NutFrontEnd::Refresh(int64_t now) {
  PropertyCache* cache = core_->properties();
  for (const std::string& command : CachedCommands()) {
    std::string answer;
    if (pending_.count(command) != 0 || cache->Find(command, &answer)) {
      continue;
    }
    pending_.insert(command);
    uint64_t generation = cache->generation();
    core_->agent()->Enqueue(
        command, [this, command, generation, now](const AgentReply& reply) {
          pending_.erase(command);
          PropertyCache* cache = core_->properties();
          // An answer asked for before the cache was dropped may describe the
          // unit as it was before a write or before another unit came.
          if (cache->generation() != generation) return;
          if (reply.kind == AgentReply::Kind::kError) {
            if (reply.code == kAgentErrNotReported) {
              cache->Store(command, "ERR " + std::to_string(reply.code));
            } else {
              retry_at_ms_ = now + config_.retry_ms;
            }
            return;
          }
          cache->Store(command, reply.text);
        });
  }
}

const NutUnitData& NutFrontEnd::Data() const {
  NutUnitData data;
  for (int32_t slot = 0; slot < StatusSnapshot::kSlots; ++slot) {
    int32_t value = 0;
    int32_t error = core_->ReadStatus(slot, &value);
    data.snapshot.value[slot] = error == 0 ? value : 0;
    data.snapshot.error[slot] = error;
  }
  data.snapshot.valid = !Stale();

  const PropertyCache& cache = *core_->properties();
  data.model = TextOf(cache, "R12");
  data.firmware = TextOf(cache, "R13");
  for (int i = 0; i < NutUnitData::kSettings; ++i) {
    data.settings[i] = NumberOf(cache, kSettingCommands[i]);
  }
  for (int i = 0; i < 4; ++i) {
    data.setting_ranges[i] = TextOf(cache, kRangeCommands[i]);
  }
  data.rated_voltage = NumberOf(cache, "R16");
  data.rated_frequency_low = NumberOf(cache, "R17");
  data.rated_frequency_high = NumberOf(cache, "R18");
  data.rated_va = NumberOf(cache, "R19");
  data.rated_watt = NumberOf(cache, "R20");
  data.battery_voltage = NumberOf(cache, "R25");
  data.battery_packs = NumberOf(cache, "R26");
  data.battery_amp_hours = NumberOf(cache, "R27");
  data.battery_packs_external = NumberOf(cache, "R28");

  int32_t value = 0;
  data.buzzer_on =
      core_->GetParameter(ParameterSpace::kPol, kKeyBuzzerOn, &value) == 0 &&
      value != 0;
  if (core_->GetParameter(ParameterSpace::kPol, kKeyShutdownDelay, &value) ==
      0) {
    data.shutdown_delay_s = value;
  }
  data.restore_after_s = config_.restore_after_s;
  data.last_test = last_test_;
  data.forced_shutdown = forced_ || (shutdown_begun_ && shutdown_begun_());
  data_ = std::move(data);
  return data_;
}

bool NutFrontEnd::AgentRunning() const { return core_->agent()->running(); }

bool NutFrontEnd::Stale() const {
  // The snapshot answers every slot with "not in contact" once it is too
  // old; S12 is read in every pass.
  int32_t connected = 0;
  return core_->ReadStatus(StatusSnapshot::kSlotConnected, &connected) != 0;
}

void NutFrontEnd::SendAgentLine(const std::string& agent_line,
                                std::function<void(bool ok)> done) {
  // A write goes the way of the tool's configure: afterwards the cached
  // answers are dropped and read again, so the new setting is read back
  // from the unit.
  const bool write = !agent_line.empty() && agent_line[0] == 'W';
  const bool abort = agent_line == "C0 -1";
  core_->agent()->Enqueue(
      agent_line, [this, write, abort, done](const AgentReply& reply) {
        const bool ok = reply.kind != AgentReply::Kind::kError;
        if (write) core_->properties()->Clear();
        if (abort && ok) abort_requested_ = true;
        if (done) done(ok);
      });
}

void NutFrontEnd::SetBuzzer(bool on, std::function<void(bool ok)> done) {
  // Storing the setting applies it to the unit (W7), as for the tool's
  // POL request; a unit that refuses it is reported by the service.
  const int32_t result =
      core_->SetParameter(ParameterSpace::kPol, kKeyBuzzerOn, on ? "1" : "0");
  if (done) done(result == 0);
}

void NutFrontEnd::Log(const std::string& text) { Diag("%s", text.c_str()); }

int NutFrontEnd::LoginCount() const {
  int count = 0;
  for (const Session* session : sessions_) {
    if (session->authenticated()) ++count;
  }
  return count;
}

int32_t NutFrontEnd::Secondaries() const {
  int32_t count = 0;
  for (const Session* session : sessions_) {
    if (session->authenticated() && !session->handler()->primary()) ++count;
  }
  return count;
}

std::vector<std::string> NutFrontEnd::LoginAddresses() const {
  std::vector<std::string> addresses;
  for (const Session* session : sessions_) {
    if (session->authenticated()) {
      addresses.push_back(session->handler()->peer());
    }
  }
  return addresses;
}
