#include "sim/text_unit.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr char kCr = '\r';
constexpr int64_t kTenthMinuteMs = 6000;
constexpr int64_t kMinuteMs = 60000;

// Reads all of text as a decimal number of at most `digits` digits.
bool ReadDigits(const std::string& text, size_t digits, int64_t* value) {
  if (text.empty() || text.size() > digits) return false;
  int64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
  }
  *value = number;
  return true;
}

}  // namespace

TextUnit::TextUnit(const TextUnitConfig& config, SimState* state)
    : config_(config), state_(state) {
  state_->input_volts = config_.rated_voltage;
  state_->output_volts = config_.rated_voltage;
  state_->frequency_hertz = config_.rated_frequency;
  state_->battery_low_level_percent = config_.battery_low;
}

void TextUnit::Receive(const uint8_t* data, size_t size, int64_t now_ms,
                       std::vector<WireExchange>* exchanges) {
  if (size == 0) return;
  auto drop = [exchanges](const std::string& bytes) {
    WireExchange exchange;
    exchange.request = bytes;
    exchange.ignored = true;
    exchanges->push_back(exchange);
  };
  if (!pending_.empty() && now_ms - last_byte_ms_ > kStaleRequestMs) {
    drop(pending_);
    pending_.clear();
  }
  last_byte_ms_ = now_ms;
  for (size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\0') {
      drop(std::string(1, c));  // the agent's port scan sends a zero byte
      continue;
    }
    if (c != kCr) {
      pending_.push_back(c);
      if (pending_.size() > kMaxRequestLength) {
        drop(pending_);
        pending_.clear();
      }
      continue;
    }
    if (pending_.empty()) {
      drop(std::string(1, kCr));  // a wake-up CR
      continue;
    }
    WireExchange exchange;
    exchange.request = pending_ + kCr;
    exchange.answer = Answer(pending_, now_ms);
    pending_.clear();
    exchanges->push_back(exchange);
  }
}

std::string TextUnit::Answer(const std::string& request, int64_t now_ms) {
  if (request == "D") return StatusReply();
  if (request == "F") return RatingReply();
  if (request.size() == 2 && request[0] == 'P' && request[1] >= '1' &&
      request[1] <= '9') {
    return QueryReply(request[1] - '0');
  }
  if (request == "CT") {
    if (!config_.refuse) state_->CancelTest();
    return Acknowledge();
  }
  if (request == "C") {
    if (!config_.refuse) state_->CancelShutdown();
    return Acknowledge();
  }
  switch (request[0]) {
    case 'C':
      return Setting(request);
    case 'S':
      return ShutdownCommand(request, now_ms);
    case 'T':
      return TestCommand(request, now_ms);
    default:
      return std::string();
  }
}

std::string TextUnit::Acknowledge() const {
  return config_.refuse ? "#1\r" : "#0\r";
}

std::string TextUnit::Number(double value) const {
  const int64_t hundredths = std::llround(value * 100.0);
  const bool negative = hundredths < 0;
  const long long magnitude = negative ? -hundredths : hundredths;
  char text[48];
  if ((config_.option_a & 0x08) != 0) {
    std::snprintf(text, sizeof text, "%s%llx.%02llx", negative ? "-" : "",
                  magnitude / 100, magnitude % 100);
  } else {
    std::snprintf(text, sizeof text, "%s%lld.%lld", negative ? "-" : "",
                  magnitude / 100, magnitude % 100 / 10);
  }
  return text;
}

std::string TextUnit::StatusReply() const {
  uint8_t status = 0x81;
  if (state_->utility_fail) status |= 0x40;
  if (state_->battery_low) status |= 0x20;
  if (state_->buzzer) status |= 0x10;
  if (state_->test_active) status |= 0x08;
  if (state_->shutdown_active) status |= 0x04;
  std::string reply = "#";
  reply += "I" + Number(state_->MeasuredInputVolts());
  reply += "O" + Number(state_->MeasuredOutputVolts());
  reply += "L" + Number(state_->MeasuredLoadPercent());
  reply += "B" + Number(state_->capacity_percent);
  reply += "T" + Number(state_->temperature_celsius);
  reply += "F" + Number(state_->frequency_hertz);
  reply += "S";
  reply += static_cast<char>(status);
  reply += static_cast<char>(0x84);
  reply += kCr;
  return reply;
}

std::string TextUnit::RatingReply() const {
  // Always 22 bytes: '#', 20 characters and CR.
  char text[64];
  std::snprintf(text, sizeof text, "%05.1f %03d %05.1f %04.1f",
                config_.rated_voltage, 1, 24.0, config_.rated_frequency);
  std::string body(text);
  body.resize(20, ' ');
  return "#" + body + kCr;
}

std::string TextUnit::QueryReply(int query) const {
  std::string payload;
  char text[64];
  switch (query) {
    case 1:
      std::snprintf(text, sizeof text, "%d,%d,%d,%d", config_.battery_out,
                    config_.input_high, config_.input_low, config_.battery_low);
      payload = text;
      break;
    case 2:
      payload = config_.ratings;
      break;
    case 3:
      payload = config_.battery;
      break;
    case 4:
      payload = config_.model + "," + config_.firmware + "," + config_.text3 +
                "," + config_.text4;
      break;
    case 5:
      payload = config_.battery_out_range;
      break;
    case 6:
      payload = config_.input_high_range;
      break;
    case 7:
      payload = config_.input_low_range;
      break;
    case 8:
      payload = config_.battery_low_range;
      break;
    case 9: {
      uint8_t b = 0x80;
      if (config_.buzzer_enabled) b |= 0x10;
      if (config_.cold_start) b |= 0x20;
      if (config_.setting5) b |= 0x40;
      payload += static_cast<char>(config_.option_a);
      payload += static_cast<char>(0x80);
      payload += static_cast<char>(b);
      break;
    }
  }
  return "#" + payload + kCr;
}

std::string TextUnit::Setting(const std::string& request) {
  // "C" setting ":" value, the value with an optional minus sign.
  const size_t colon = request.find(':');
  int64_t setting = 0;
  int64_t value = 0;
  if (colon == std::string::npos ||
      !ReadDigits(request.substr(1, colon - 1), 1, &setting)) {
    return std::string();
  }
  std::string digits = request.substr(colon + 1);
  const bool negative = !digits.empty() && digits[0] == '-';
  if (negative) digits.erase(0, 1);
  if (!ReadDigits(digits, 9, &value)) return "#1\r";
  if (negative) value = -value;
  if (config_.refuse) return Acknowledge();
  const int32_t v = static_cast<int32_t>(value);
  switch (setting) {
    case 1:
      config_.battery_out = v;
      break;
    case 2:
      config_.input_high = v;
      break;
    case 3:
      config_.input_low = v;
      break;
    case 4:
      config_.battery_low = v;
      state_->battery_low_level_percent = v;
      break;
    case 5:
      config_.setting5 = v != 0;
      break;
    case 6:
      config_.cold_start = v != 0;
      break;
    case 7:
      if (v == 2) {
        state_->buzzer = false;  // silence the alarm, keep the setting
      } else {
        config_.buzzer_enabled = v != 0;
      }
      break;
    default:
      return "#1\r";
  }
  return Acknowledge();
}

std::string TextUnit::ShutdownCommand(const std::string& request,
                                      int64_t now_ms) {
  // "S" then "nn" minutes or ".n" tenths of a minute, then "Rrrrr" minutes
  // until the output returns, counted from now.
  const size_t r = request.find('R');
  const std::string delay =
      request.substr(1, r == std::string::npos ? std::string::npos : r - 1);
  int64_t number = 0;
  int64_t delay_ms = 0;
  if (!delay.empty() && delay[0] == '.') {
    if (!ReadDigits(delay.substr(1), 1, &number)) return std::string();
    delay_ms = number * kTenthMinuteMs;
  } else {
    if (!ReadDigits(delay, 2, &number)) return std::string();
    delay_ms = number * kMinuteMs;
  }
  int64_t restore_ms = -1;
  if (r != std::string::npos) {
    if (!ReadDigits(request.substr(r + 1), 4, &number)) return std::string();
    restore_ms = number * kMinuteMs;
  }
  if (!config_.refuse) state_->ScheduleShutdown(now_ms, delay_ms, restore_ms);
  return Acknowledge();
}

std::string TextUnit::TestCommand(const std::string& request, int64_t now_ms) {
  int64_t number = 0;
  int64_t duration_ms = 0;
  if (request.size() > 1 && request[1] == '.') {
    if (!ReadDigits(request.substr(2), 1, &number)) return std::string();
    duration_ms = number * kTenthMinuteMs;
  } else {
    if (!ReadDigits(request.substr(1), 2, &number)) return std::string();
    duration_ms = number * kMinuteMs;
  }
  if (!config_.refuse) state_->StartTest(now_ms, duration_ms);
  return Acknowledge();
}

std::string TextUnit::Describe() const {
  char lines[256];
  std::snprintf(lines, sizeof lines,
                "model %s\n"
                "battery-out %d\n"
                "input-high %d\n"
                "input-low %d\n"
                "battery-low %d\n"
                "cold-start %d\n"
                "setting-5 %d\n"
                "buzzer-enabled %d\n",
                config_.model.c_str(), config_.battery_out, config_.input_high,
                config_.input_low, config_.battery_low, config_.cold_start,
                config_.setting5, config_.buzzer_enabled);
  return lines;
}
