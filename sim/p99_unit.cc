#include "sim/p99_unit.h"

#include <cstdio>

#include "sim/p99_encoder.h"

namespace {

constexpr char kCr = '\r';

uint8_t Byte(const std::string& text, size_t position) {
  return static_cast<uint8_t>(text[position]);
}

}  // namespace

P99UnitConfig::P99UnitConfig() {
  registers[p99_register::kFlags] = 0x02;
  registers[p99_register::kVoltageClass] = VoltageClassCode(1);
}

uint8_t VoltageClassCode(int32_t voltage_class) {
  switch (voltage_class) {
    case 2:
      return 0x04;
    case 3:
      return 0x10;
    default:
      return 0x00;
  }
}

int32_t VoltageClassOfCode(uint8_t code) {
  switch (code) {
    case 0x00:
      return 1;
    case 0x04:
      return 2;
    case 0x10:
      return 3;
    default:
      return 0;
  }
}

P99Unit::P99Unit(const P99UnitConfig& config, SimState* state)
    : config_(config), state_(state), registers_(config.registers) {
  model_index_ = p99::FindModel(config_.model.c_str());
  if (model_index_ < 0) model_index_ = 0;
  model_class_ = p99::ModelClassOf(model_index_);
  state_->input_volts = config_.rated_voltage;
  state_->output_volts = config_.rated_voltage;
  state_->frequency_hertz = config_.rated_frequency;
  UpdateBatteryParameters();
}

p99::TableSet P99Unit::Tables() const {
  int32_t variant = 0;
  switch (registers_[p99_register::kVoltageVariant]) {
    case 0x01:
      variant = 1;
      break;
    case 0xFE:
      variant = 2;
      break;
    case 0xFF:
      variant = 3;
      break;
  }
  int32_t item29 = (registers_[p99_register::kTapping] >> 4) & 1;
  return p99::SelectTableSet(
      VoltageClassOfCode(registers_[p99_register::kVoltageClass]), model_class_,
      model_index_, item29, variant);
}

void P99Unit::UpdateBatteryParameters() {
  p99::TableSet tables = Tables();
  state_->backup_scale_seconds = tables.backup_scale;
  int32_t level = 0;
  int8_t code = static_cast<int8_t>(registers_[p99_register::kBatteryLowLevel]);
  if (p99::CodeToValue(*tables.battery_low_level, code, &level)) {
    state_->battery_low_level_percent = level;
  }
}

int32_t P99Unit::RequestLength(const std::string& buffer) {
  if (buffer.empty()) return 0;
  int32_t length = -1;
  switch (buffer[0]) {
    case kCr:  // wake-up
      length = 1;
      break;
    case 'D':
    case 'F':
    case 'N':
    case 'B':
      length = 2;
      break;
    case 'R':
    case 'T':
      length = 3;
      break;
    case 'C':
      if (buffer.size() < 2) return 0;
      length = (buffer[1] == 'T' || buffer[1] == 'S') ? 3 : -1;
      break;
    case 'Q':
      length = 4;
      break;
    case 'S':
      if (buffer.size() < 4) return 0;
      length = buffer[3] == 'W' ? 5 : buffer[3] == 'R' ? 8 : -1;
      break;
  }
  if (length < 0) return -1;
  if (buffer.size() < static_cast<size_t>(length)) return 0;
  return buffer[length - 1] == kCr ? length : -1;
}

void P99Unit::Receive(const uint8_t* data, size_t size, int64_t now_ms,
                      std::vector<WireExchange>* exchanges) {
  if (size == 0) return;
  std::string stray;
  if (!pending_.empty() && now_ms - last_byte_ms_ > kStaleRequestMs) {
    stray = pending_;
    pending_.clear();
  }
  last_byte_ms_ = now_ms;
  pending_.append(reinterpret_cast<const char*>(data), size);

  auto flush_stray = [&]() {
    if (stray.empty()) return;
    WireExchange exchange;
    exchange.request = stray;
    exchange.ignored = true;
    exchanges->push_back(exchange);
    stray.clear();
  };
  while (!pending_.empty()) {
    int32_t length = RequestLength(pending_);
    if (length == 0) break;
    if (length < 0) {
      stray.push_back(pending_[0]);
      pending_.erase(0, 1);
      continue;
    }
    flush_stray();
    WireExchange exchange;
    exchange.request = pending_.substr(0, length);
    pending_.erase(0, length);
    exchange.answer = Answer(exchange.request, now_ms);
    exchanges->push_back(exchange);
  }
  flush_stray();
}

std::string P99Unit::Answer(const std::string& request, int64_t now_ms) {
  switch (request[0]) {
    case 'D':
      return StatusReply();
    case 'F':
      return IdentificationReply();
    case 'N':
      return InfoReply();
    case 'R':
      return std::string("R") + static_cast<char>(registers_[Byte(request, 1)]);
    case 'Q':
      registers_[Byte(request, 1)] = Byte(request, 2);
      UpdateBatteryParameters();
      return request.substr(0, 3);
    case 'T':
      state_->StartTest(now_ms, Byte(request, 1) * kTickMs);
      return request.substr(0, 2);
    case 'C':
      if (request[1] == 'T') {
        state_->CancelTest();
      } else {
        state_->CancelShutdown();
      }
      return request.substr(0, 2);
    case 'B':
      state_->CancelTest();
      state_->CancelShutdown();
      return "B";
    case 'S': {
      int64_t delay_ticks = (Byte(request, 1) << 8) | Byte(request, 2);
      if (request[3] == 'W') {
        state_->ScheduleShutdown(now_ms, delay_ticks * kTickMs, -1);
        return request.substr(0, 4);
      }
      int64_t total_ticks = (static_cast<int64_t>(Byte(request, 4)) << 16) |
                            (Byte(request, 5) << 8) | Byte(request, 6);
      state_->ScheduleShutdown(now_ms, delay_ticks * kTickMs,
                               total_ticks * kTickMs);
      return request.substr(0, 7);
    }
    default:  // the wake-up gets no answer
      return std::string();
  }
}

std::string P99Unit::StatusReply() const {
  uint8_t data[7];
  bool use_taps =
      model_class_ != 5 && ((registers_[p99_register::kTapping] >> 4) & 1);
  EncodeP99Status(*state_, Tables(), use_taps, data);
  uint8_t frame[14] = {'#',
                       data[0],
                       data[1],
                       data[2],
                       '.',
                       data[3],
                       data[4],
                       data[5],
                       '.',
                       data[6],
                       static_cast<uint8_t>(~data[6])};
  uint8_t check = 0;
  for (int i = 1; i <= 10; ++i) check = static_cast<uint8_t>(check + frame[i]);
  frame[11] = check;
  frame[12] = static_cast<uint8_t>(~check);
  frame[13] = kCr;
  return std::string(reinterpret_cast<const char*>(frame), sizeof(frame));
}

std::string P99Unit::IdentificationReply() const {
  std::string model = config_.model.substr(0, 10);
  model.resize(10, ' ');
  std::string firmware = config_.firmware.substr(0, 4);
  firmware.resize(4, '0');
  std::string reply = ".";
  reply += model;
  reply += '.';
  reply += static_cast<char>(config_.rated_voltage);
  reply += '.';
  reply += static_cast<char>(config_.rated_frequency);
  reply += '.';
  reply += firmware;
  reply += kCr;
  return reply;
}

std::string P99Unit::InfoReply() const {
  std::string text = config_.info_text.substr(0, 20);
  text.resize(20, ' ');
  return "." + text + kCr;
}

std::string P99Unit::Describe() const {
  std::string lines = "model " + config_.model + "\n";
  static const uint8_t kShown[] = {
      p99_register::kInputHigh,       p99_register::kInputLow,
      p99_register::kBatteryLowLevel, p99_register::kFlags,
      p99_register::kBatteryOut,      p99_register::kVoltageClass,
      p99_register::kVoltageVariant,  p99_register::kTapping};
  for (uint8_t number : kShown) {
    char line[32];
    std::snprintf(line, sizeof(line), "register 0x%02X 0x%02X\n", number,
                  registers_[number]);
    lines += line;
  }
  return lines;
}
