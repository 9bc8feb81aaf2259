#include "tool/status_command.h"

#include <cstdint>
#include <ostream>
#include <string>

#include "common/time/clock.h"
#include "tool/link/service_connection.h"
#include "tool/option_tables.h"
#include "tool/tool_options.h"

namespace {

// Input and output voltages further apart than this (hundredths of a volt)
// mean the AVR boosts or bucks.
constexpr int64_t kAvrThreshold = 300;

// Writes value / 100 with two decimals, the sign kept for values that
// truncate to 0 (-0.05, not 0.-5).
void PrintHundredths(std::ostream& out, int32_t value) {
  int64_t magnitude = value;
  if (magnitude < 0) {
    out << '-';
    magnitude = -magnitude;
  }
  int64_t fraction = magnitude % 100;
  out << magnitude / 100 << '.' << (fraction < 10 ? "0" : "") << fraction;
}

// One status pass. The five values that several items share are asked at
// most once per pass; -1 marks a value not asked yet.
class StatusPass {
 public:
  StatusPass(const CommandContext& context, uint32_t items, bool* full_ups,
             int32_t* shared)
      : connection_(context.connection),
        out_(*context.out),
        items_(items),
        full_ups_(full_ups),
        shared_(shared) {}

  void Run() {
    const bool show_all = (items_ == 1u);
    for (int32_t row = 0; row < kStatusOptionCount; ++row) {
      if (show_all) {
        if (row > kStatusBatteryState && !*full_ups_) break;
      } else {
        if ((items_ & (1u << row)) == 0) continue;
        if (row > kStatusBatteryState && !*full_ups_) {
          out_ << "this UPS is not support " << kStatusOptionNames[row] << "."
               << std::endl;
          continue;
        }
      }
      if (RunRow(row) == 0) continue;
      if (row == kStatusTemperature || row == kStatusBackupTime) continue;
      int32_t connected = connection_->GetStatusConnect(shared_);
      if (connected == 0) continue;
      if (connected == ServiceConnection::kNoUnitError || *shared_ == 0) {
        out_ << "the service can't connect with UPS uint." << std::endl;
        break;
      }
      out_ << " error. (" << connected << ")" << std::endl;
    }
  }

 private:
  // Asks for a shared value unless this pass already has it.
  template <typename Request>
  int32_t Cached(int32_t* value, Request request) {
    if (*value != -1) return 0;
    return (connection_->*request)(value);
  }
  int32_t PowerFail() {
    return Cached(&power_fail_, &ServiceConnection::GetStatusPowerFail);
  }
  int32_t Capacity() {
    return Cached(&capacity_, &ServiceConnection::GetStatusCapacity);
  }
  int32_t InputVolt() {
    return Cached(&input_volt_, &ServiceConnection::GetStatusInputVoltage);
  }
  int32_t OutputVolt() {
    return Cached(&output_volt_, &ServiceConnection::GetStatusOutputVoltage);
  }
  int32_t SelfTest() {
    return Cached(&self_test_, &ServiceConnection::GetStatusTest);
  }

  // Sends the row's requests and prints its line. Returns the first
  // non-zero result, with nothing printed, or 0.
  int32_t RunRow(int32_t row) {
    int32_t result = 0;
    switch (row) {
      case kStatusRepeat:
        result = connection_->GetPropPortType(shared_);
        if (result == 0) *full_ups_ = (*shared_ == kFullUpsPortType);
        return result;
      case kStatusUtilityState:
        if ((result = PowerFail()) != 0) return result;
        out_ << "utility state : " << (power_fail_ == 1 ? "fail" : "normal")
             << std::endl;
        return 0;
      case kStatusChargerState: {
        if ((result = PowerFail()) != 0) return result;
        if (*full_ups_) {
          if ((result = Capacity()) != 0) return result;
          if ((result = SelfTest()) != 0) return result;
        }
        const char* state = "bypass";
        if (power_fail_ != 0) {
          state = "discharging";
        } else if (*full_ups_ && capacity_ / 100 != 100) {
          state = "charging";
        }
        out_ << "charger state : " << state << std::endl;
        return 0;
      }
      case kStatusBatteryState:
        if ((result = connection_->GetStatusBatteryLow(shared_)) != 0) {
          return result;
        }
        out_ << "battery state : "
             << (*shared_ != 0 ? "critical low" : "normal") << std::endl;
        return 0;
      case kStatusInputVolt:
        if ((result = InputVolt()) != 0) return result;
        out_ << "input voltage : " << input_volt_ / 100 << " volts"
             << std::endl;
        return 0;
      case kStatusOutputVolt:
        if ((result = OutputVolt()) != 0) return result;
        out_ << "output voltage : " << output_volt_ / 100 << " volts"
             << std::endl;
        return 0;
      case kStatusAvrLevel: {
        if ((result = SelfTest()) != 0) return result;
        if ((result = InputVolt()) != 0) return result;
        if ((result = OutputVolt()) != 0) return result;
        // 64-bit sums: the service's numbers may be anywhere in 32 bits.
        const int64_t input = input_volt_;
        const int64_t output = output_volt_;
        const char* level = "normal";
        if (self_test_ != 1) {
          if (input + kAvrThreshold < output) {
            level = "boost";
          } else if (output < input - kAvrThreshold) {
            level = "buck";
          }
        }
        out_ << "AVR level : " << level << std::endl;
        return 0;
      }
      case kStatusCapacity:
        if ((result = Capacity()) != 0) return result;
        out_ << "battery capacity : " << capacity_ / 100 << " %" << std::endl;
        return 0;
      case kStatusLoad:
        if ((result = connection_->GetStatusLoad(shared_)) != 0) return result;
        out_ << "load level : " << *shared_ / 100 << " %" << std::endl;
        return 0;
      case kStatusFrequency:
        if ((result = connection_->GetStatusFrequency(shared_)) != 0) {
          return result;
        }
        out_ << "frequency : ";
        PrintHundredths(out_, *shared_);
        out_ << " Hz" << std::endl;
        return 0;
      case kStatusTemperature:
        if ((result = connection_->GetStatusTemperature(shared_)) != 0) {
          return result;
        }
        out_ << "temperature : " << *shared_ / 100 << " C" << std::endl;
        return 0;
      case kStatusBackupTime:
        if ((result = connection_->GetStatusBackupTime(shared_)) != 0) {
          return result;
        }
        out_ << "backup time : " << *shared_ / 60 << " minute " << *shared_ % 60
             << " seconds." << std::endl;
        return 0;
      default:
        return 0;
    }
  }

  ServiceConnection* connection_;
  std::ostream& out_;
  const uint32_t items_;
  bool* full_ups_;
  int32_t* shared_;
  int32_t power_fail_ = -1;
  int32_t capacity_ = -1;
  int32_t input_volt_ = -1;
  int32_t output_volt_ = -1;
  int32_t self_test_ = -1;
};

// Pauses for `seconds` whole seconds in steps the clock can take.
void PauseSeconds(Clock* clock, int32_t seconds) {
  constexpr int64_t kMaxStepMillis = 1000 * 1000 * 1000;
  int64_t remaining = static_cast<int64_t>(seconds) * 1000;
  while (remaining > 0) {
    int64_t step = remaining < kMaxStepMillis ? remaining : kMaxStepMillis;
    clock->Pause(static_cast<int32_t>(step));
    remaining -= step;
  }
}

}  // namespace

void RunStatus(const CommandContext& context) {
  const ToolOptions& options = *context.options;
  std::ostream& out = *context.out;
  const uint32_t items = options.status_items | 1u;
  const int32_t repeat = options.status_repeat_seconds;
  bool full_ups = true;
  // Receives the values that are not shared between items, and the answer
  // of the contact query. It starts at -1, a value no query has given, so
  // that a contact query failing before any value was read reports its code
  // instead of claiming the service has no contact.
  int32_t shared = -1;

  if (repeat != 0) {
    out << "to display UPS status continually for every " << repeat
        << " seconds until Ctrl-C are pressed." << std::endl;
  }
  for (int32_t pass = 1;; ++pass) {
    StatusPass(context, items, &full_ups, &shared).Run();
    if (repeat == 0) return;
    if (context.max_status_passes > 0 && pass >= context.max_status_passes) {
      return;
    }
    out << std::endl;
    // Nobody is left to read the output (a closed pipe, for example).
    if (!out.good()) return;
    PauseSeconds(context.clock, repeat);
  }
}
