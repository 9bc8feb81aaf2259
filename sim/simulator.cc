#include "sim/simulator.h"

#include <vector>

Simulator::Simulator(SimState* state, SimUnit* unit, BatteryModel* battery,
                     WireLog* log)
    : state_(state), unit_(unit), battery_(battery), log_(log) {}

void Simulator::Tick(int64_t now_ms) {
  state_->AdvanceTimers(now_ms);
  battery_->Advance(state_, now_ms);
}

std::string Simulator::OnLineBytes(const uint8_t* data, size_t size,
                                   int64_t now_ms, int64_t wall_ms) {
  Tick(now_ms);
  if (size == 0) return std::string();
  if (state_->silent) {
    if (log_ != nullptr) {
      log_->Write(wall_ms, "dropped",
                  std::string(reinterpret_cast<const char*>(data), size));
    }
    return std::string();
  }
  std::vector<WireExchange> exchanges;
  unit_->Receive(data, size, now_ms, &exchanges);
  std::string reply;
  for (const WireExchange& exchange : exchanges) {
    if (exchange.ignored) {
      if (log_ != nullptr) log_->Write(wall_ms, "ignored", exchange.request);
      continue;
    }
    if (log_ != nullptr) log_->Write(wall_ms, "request", exchange.request);
    if (exchange.answer.empty()) continue;
    std::string answer =
        state_->garbage ? Garble(exchange.answer) : exchange.answer;
    if (log_ != nullptr) log_->Write(wall_ms, "answer", answer);
    reply += answer;
  }
  return reply;
}

void Simulator::LogControl(int64_t wall_ms, const std::string& line) {
  if (log_ != nullptr) log_->Write(wall_ms, "control", line);
}

std::string Simulator::Garble(const std::string& answer) {
  std::string garbled = answer;
  for (char& c : garbled) c = static_cast<char>(c ^ 0x5A);
  return garbled;
}
