#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "agent/protocol/p99_tables.h"
#include "sim/sim_state.h"
#include "sim/sim_unit.h"

// What a simulated P99 unit reports about itself.
struct P99UnitConfig {
  std::string model = "650VA";                    // a name of the model list
  uint8_t rated_voltage = 120;                    // identification byte 12
  uint8_t rated_frequency = 60;                   // identification byte 14
  std::string firmware = "1234";                  // four characters
  std::string info_text = "KOVRA SIMULATED UPS";  // up to 20 characters
  // Initial codes of the 256 setting registers.
  std::array<uint8_t, 256> registers{};

  // Factory state: every register at code 0 except 0x0F (cold start on,
  // property 5 on: 0x02) and the voltage class register 0x29.
  P99UnitConfig();
};

// The setting registers the agent uses.
namespace p99_register {
constexpr uint8_t kInputHigh = 0x02;
constexpr uint8_t kInputLow = 0x04;
constexpr uint8_t kBatteryLowLevel = 0x08;
constexpr uint8_t kFlags = 0x0F;
constexpr uint8_t kBatteryOut = 0x18;
constexpr uint8_t kVoltageClass = 0x29;
constexpr uint8_t kVoltageVariant = 0x2B;
constexpr uint8_t kTapping = 0x3D;
}  // namespace p99_register

// Register 0x29 code of a voltage class 1 to 3 (1 for anything else), and
// the class a code stands for (0 for codes of no class).
uint8_t VoltageClassCode(int32_t voltage_class);
int32_t VoltageClassOfCode(uint8_t code);

// A unit of the P99 byte protocol. Requests are framed by their command
// letter, which fixes their length, and must end in CR; a byte that starts
// no request is dropped (the agent's port scan sends a zero byte), and a
// partial request left over after the line has been quiet for a while is
// dropped too. Answers are built from the SimState through the tables of the
// configured model, voltage class and registers.
class P99Unit final : public SimUnit {
 public:
  // A partial request older than this is dropped when new bytes arrive.
  static constexpr int64_t kStaleRequestMs = 1500;
  // One tick of the self-test and shutdown times.
  static constexpr int64_t kTickMs = 131;

  // state is borrowed and must outlive the unit. The model must be in the
  // model list (checked by the caller); the state's nominal values (input,
  // output, frequency) and battery parameters are set from the config.
  P99Unit(const P99UnitConfig& config, SimState* state);

  void Receive(const uint8_t* data, size_t size, int64_t now_ms,
               std::vector<WireExchange>* exchanges) override;
  std::string Describe() const override;

  uint8_t Register(uint8_t number) const { return registers_[number]; }
  // The table set the unit's current registers select.
  p99::TableSet Tables() const;
  int32_t model_index() const { return model_index_; }

  // Length of the request that `buffer` starts with: 0 when more bytes are
  // needed to tell, -1 when its first byte starts no valid request.
  static int32_t RequestLength(const std::string& buffer);

 private:
  // Answers one complete request (its bytes include the final CR).
  std::string Answer(const std::string& request, int64_t now_ms);
  std::string StatusReply() const;
  std::string IdentificationReply() const;
  std::string InfoReply() const;
  // Copies model-dependent battery parameters into the state.
  void UpdateBatteryParameters();

  P99UnitConfig config_;
  SimState* state_;
  int32_t model_index_;
  int32_t model_class_;
  std::array<uint8_t, 256> registers_;
  std::string pending_;
  int64_t last_byte_ms_ = 0;
};
