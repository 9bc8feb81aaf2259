#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_state.h"
#include "sim/sim_unit.h"

// What a simulated text-protocol unit reports about itself. The defaults are
// those of a 230 V, 50 Hz unit of 1000 VA.
struct TextUnitConfig {
  // P4: model, firmware and two further texts (no blanks or commas).
  std::string model = "KT1000";
  std::string firmware = "2.10";
  std::string text3 = "KOVRA";
  std::string text4 = "SIM";
  // P1 (whole units), changed by the numbered settings 1 to 4.
  int32_t battery_out = 230;
  int32_t input_high = 264;
  int32_t input_low = 196;
  int32_t battery_low = 20;
  // P2: rated VA, watts, voltage, lowest and highest frequency.
  std::string ratings = "1000,600,230,45,65";
  // P3: battery voltage, battery count, amp-hours, external packs.
  std::string battery = "24.0,2,7.2,0";
  // P5 to P8: the ranges of battery out, input high, input low, battery low.
  std::string battery_out_range = "220,230,240,0";
  std::string input_high_range = "253,264,276,0";
  std::string input_low_range = "184,196,207,0";
  std::string battery_low_range = "10,20,30,40";
  // P9 option byte A; bit 3 makes the status numbers hexadecimal.
  uint8_t option_a = 0xC7;
  // P9 option byte B bits, changed by the numbered settings 5 to 7.
  int32_t cold_start = 1;
  int32_t setting5 = 1;
  int32_t buzzer_enabled = 1;
  // The nominal values the "F" rating text and the state start from.
  double rated_voltage = 230.0;
  double rated_frequency = 50.0;
  // Answer every command with "#1" (refused) instead of "#0".
  bool refuse = false;
};

// A unit of the text command protocol. Requests are ASCII ended by CR; each
// query ("D", "F", "P1" to "P9") is answered with '#', a payload and a CR,
// each command (self-test, shutdown, cancel, numbered setting) with "#0", or
// "#1" when the unit refuses. Lone CRs and unknown requests get no answer; a
// partial request left over after a quiet spell is dropped.
class TextUnit final : public SimUnit {
 public:
  static constexpr int64_t kStaleRequestMs = 1500;
  // A request longer than this without its CR is dropped.
  static constexpr size_t kMaxRequestLength = 32;

  // state is borrowed and must outlive the unit; its nominal values are set
  // from the config.
  TextUnit(const TextUnitConfig& config, SimState* state);

  void Receive(const uint8_t* data, size_t size, int64_t now_ms,
               std::vector<WireExchange>* exchanges) override;
  std::string Describe() const override;

  const TextUnitConfig& config() const { return config_; }

 private:
  // Answers one request (without its CR).
  std::string Answer(const std::string& request, int64_t now_ms);
  std::string StatusReply() const;
  std::string RatingReply() const;
  std::string QueryReply(int query) const;
  std::string Acknowledge() const;
  std::string Setting(const std::string& request);
  std::string ShutdownCommand(const std::string& request, int64_t now_ms);
  std::string TestCommand(const std::string& request, int64_t now_ms);
  // A number in the status answer: decimal with one fraction digit, or
  // lowercase hexadecimal with two fraction digits.
  std::string Number(double value) const;

  TextUnitConfig config_;
  SimState* state_;
  std::string pending_;
  int64_t last_byte_ms_ = 0;
};
