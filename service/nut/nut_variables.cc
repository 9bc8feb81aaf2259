#include "service/nut/nut_variables.h"

#include <algorithm>
#include <cstring>

#include "common/integer_text.h"

namespace {

// Snapshot slots without a name in StatusSnapshot.
constexpr int32_t kSlotBackupTime = 6;  // S6, seconds
constexpr int32_t kSlotTestActive = 9;  // S9

// Above 100 % load the unit is overloaded (the event log's rule too).
constexpr int32_t kOverloadHundredths = 10000;
// Output this far above or below the input means the unit corrects the
// voltage (the tool's AVR rule), in hundredths of a volt.
constexpr int32_t kAvrMarginHundredths = 300;

constexpr int32_t kPortTypeFull = 2;

bool Slot(const NutUnitData& d, int32_t slot, std::string* v, bool scaled) {
  int32_t raw = 0;
  if (!d.snapshot.Get(slot, &raw)) return false;
  *v = scaled ? NutHundredths(raw) : std::to_string(raw);
  return true;
}

bool Scaled(const NutReading& r, std::string* v) {
  if (!r.ok()) return false;
  *v = NutHundredths(r.value);
  return true;
}

bool Plain(const NutReading& r, std::string* v) {
  if (!r.ok()) return false;
  *v = std::to_string(r.value);
  return true;
}

bool Text(const NutTextReading& r, std::string* v) {
  if (!r.ok()) return false;
  *v = r.text;
  return true;
}

bool Fixed(const char* text, std::string* v) {
  *v = text;
  return true;
}

bool ColdStartText(const NutUnitData& d, std::string* v) {
  const NutReading& r = d.settings[NutUnitData::kColdStart];
  if (!r.ok() || (r.value != 0 && r.value != 1)) return false;
  *v = r.value == 1 ? "yes" : "no";
  return true;
}

bool TestResultText(const NutUnitData& d, std::string* v) {
  int32_t active = 0;
  if (d.snapshot.Get(kSlotTestActive, &active) && active == 1) {
    *v = "In progress";
    return true;
  }
  switch (d.last_test) {
    case NutTestOutcome::kNone:
      *v = "No test initiated";
      break;
    case NutTestOutcome::kDone:
      *v = "Done";
      break;
    case NutTestOutcome::kAborted:
      *v = "Aborted";
      break;
  }
  return true;
}

using K = NutValueKind;

// In name order: FindNutVariable searches it by halves.
const NutVariableInfo kVariables[] = {
    {"battery.capacity", "Battery capacity (Ah)", K::kNumber, 0, -1,
     [](const NutUnitData& d, std::string* v) {
       return Scaled(d.battery_amp_hours, v);
     }},
    {"battery.charge", "Battery charge (percent of full)", K::kNumber, 0, -1,
     [](const NutUnitData& d, std::string* v) {
       return Slot(d, StatusSnapshot::kSlotCapacity, v, true);
     }},
    {"battery.charge.low",
     "Remaining battery level when UPS switches to LB "
     "(percent)",
     K::kNumber, 0, NutUnitData::kBatteryLow,
     [](const NutUnitData& d, std::string* v) {
       return Plain(d.settings[NutUnitData::kBatteryLow], v);
     }},
    {"battery.packs", "Number of internal battery packs", K::kNumber, 0, -1,
     [](const NutUnitData& d, std::string* v) {
       return Plain(d.battery_packs, v);
     }},
    {"battery.packs.external", "Number of external battery packs", K::kNumber,
     0, -1,
     [](const NutUnitData& d, std::string* v) {
       return Plain(d.battery_packs_external, v);
     }},
    {"battery.runtime", "Battery runtime (seconds)", K::kNumber, 0, -1,
     [](const NutUnitData& d, std::string* v) {
       return Slot(d, kSlotBackupTime, v, false);
     }},
    {"battery.voltage.nominal", "Nominal battery voltage (V)", K::kNumber, 0,
     -1,
     [](const NutUnitData& d, std::string* v) {
       return Scaled(d.battery_voltage, v);
     }},
    {"device.model", "Device model", K::kString, 64, -1,
     [](const NutUnitData& d, std::string* v) { return Text(d.model, v); }},
    {"device.type", "Device type", K::kString, 16, -1,
     [](const NutUnitData&, std::string* v) { return Fixed("ups", v); }},
    {"driver.name", "Driver name", K::kString, 16, -1,
     [](const NutUnitData&, std::string* v) { return Fixed("upsagent", v); }},
    {"input.frequency", "Input line frequency (Hz)", K::kNumber, 0, -1,
     [](const NutUnitData& d, std::string* v) {
       return Slot(d, StatusSnapshot::kSlotFrequency, v, true);
     }},
    {"input.frequency.high", "Highest rated frequency (Hz)", K::kNumber, 0, -1,
     [](const NutUnitData& d, std::string* v) {
       return Scaled(d.rated_frequency_high, v);
     }},
    {"input.frequency.low", "Lowest rated frequency (Hz)", K::kNumber, 0, -1,
     [](const NutUnitData& d, std::string* v) {
       return Scaled(d.rated_frequency_low, v);
     }},
    {"input.transfer.high", "High voltage transfer point (V)", K::kNumber, 0,
     NutUnitData::kInputHigh,
     [](const NutUnitData& d, std::string* v) {
       return Plain(d.settings[NutUnitData::kInputHigh], v);
     }},
    {"input.transfer.low", "Low voltage transfer point (V)", K::kNumber, 0,
     NutUnitData::kInputLow,
     [](const NutUnitData& d, std::string* v) {
       return Plain(d.settings[NutUnitData::kInputLow], v);
     }},
    {"input.voltage", "Input voltage (V)", K::kNumber, 0, -1,
     [](const NutUnitData& d, std::string* v) {
       return Slot(d, StatusSnapshot::kSlotInputVoltage, v, true);
     }},
    {"input.voltage.nominal", "Nominal input voltage (V)", K::kNumber, 0, -1,
     [](const NutUnitData& d, std::string* v) {
       return Scaled(d.rated_voltage, v);
     }},
    {"output.voltage", "Output voltage (V)", K::kNumber, 0, -1,
     [](const NutUnitData& d, std::string* v) {
       return Slot(d, StatusSnapshot::kSlotOutputVoltage, v, true);
     }},
    {"output.voltage.nominal", "Output voltage on battery (V)", K::kNumber, 0,
     NutUnitData::kBatteryOut,
     [](const NutUnitData& d, std::string* v) {
       return Plain(d.settings[NutUnitData::kBatteryOut], v);
     }},
    {"ups.beeper.status", "UPS beeper status", K::kString, 16, -1,
     [](const NutUnitData& d, std::string* v) {
       if (!NutFullUnit(d)) return false;
       *v = d.buzzer_on ? "enabled" : "disabled";
       return true;
     }},
    {"ups.delay.shutdown",
     "Interval to wait after shutdown with delay command "
     "(seconds)",
     K::kNumber, 0, -1,
     [](const NutUnitData& d, std::string* v) {
       *v = std::to_string(d.shutdown_delay_s);
       return true;
     }},
    {"ups.delay.start",
     "Interval to wait before restarting the load "
     "(seconds)",
     K::kNumber, 0, -1,
     [](const NutUnitData& d, std::string* v) {
       *v = std::to_string(d.restore_after_s);
       return true;
     }},
    {"ups.firmware", "UPS firmware", K::kString, 64, -1,
     [](const NutUnitData& d, std::string* v) { return Text(d.firmware, v); }},
    {"ups.load", "Load on UPS (percent of full)", K::kNumber, 0, -1,
     [](const NutUnitData& d, std::string* v) {
       return Slot(d, StatusSnapshot::kSlotLoad, v, true);
     }},
    {"ups.model", "UPS model", K::kString, 64, -1,
     [](const NutUnitData& d, std::string* v) { return Text(d.model, v); }},
    {"ups.power.nominal", "UPS power rating (VA)", K::kNumber, 0, -1,
     [](const NutUnitData& d, std::string* v) {
       return Scaled(d.rated_va, v);
     }},
    {"ups.realpower.nominal", "UPS real power rating (W)", K::kNumber, 0, -1,
     [](const NutUnitData& d, std::string* v) {
       return Scaled(d.rated_watt, v);
     }},
    {"ups.start.battery", "Allow to start on battery", K::kString, 8,
     NutUnitData::kColdStart, ColdStartText},
    {"ups.status", "UPS status", K::kString, 64, -1, NutStatusTokens},
    {"ups.temperature", "UPS temperature (degrees C)", K::kNumber, 0, -1,
     [](const NutUnitData& d, std::string* v) {
       return Slot(d, StatusSnapshot::kSlotTemperature, v, true);
     }},
    {"ups.test.result", "Results of last self test", K::kString, 32, -1,
     TestResultText},
};

constexpr size_t kVariableCount = sizeof(kVariables) / sizeof(kVariables[0]);

}  // namespace

const NutVariableInfo* NutVariablesBegin() { return kVariables; }
const NutVariableInfo* NutVariablesEnd() { return kVariables + kVariableCount; }

const NutVariableInfo* FindNutVariable(std::string_view name) {
  const NutVariableInfo* end = NutVariablesEnd();
  const NutVariableInfo* it =
      std::lower_bound(NutVariablesBegin(), end, name,
                       [](const NutVariableInfo& var, std::string_view key) {
                         return std::string_view(var.name) < key;
                       });
  if (it == end || std::string_view(it->name) != name) return nullptr;
  return it;
}

std::vector<NutVariableValue> NutPresentVariables(const NutUnitData& data) {
  std::vector<NutVariableValue> present;
  for (const NutVariableInfo* var = NutVariablesBegin();
       var != NutVariablesEnd(); ++var) {
    std::string value;
    if (var->read(data, &value)) present.push_back({var, std::move(value)});
  }
  return present;
}

bool NutWritable(const NutUnitData& data, const NutVariableInfo& var) {
  return !NutEnumValues(data, var).empty();
}

std::vector<std::string> NutEnumValues(const NutUnitData& data,
                                       const NutVariableInfo& var) {
  std::vector<std::string> values;
  if (var.setting < 0 || var.setting >= NutUnitData::kSettings ||
      !data.settings[var.setting].ok()) {
    return values;
  }
  if (var.setting == NutUnitData::kColdStart) {
    std::string current;
    if (ColdStartText(data, &current)) values = {"no", "yes"};
    return values;
  }
  const NutTextReading& range = data.setting_ranges[var.setting];
  if (!range.ok()) return values;
  for (int32_t allowed : NutParseAllowedValues(range.text)) {
    values.push_back(std::to_string(allowed));
  }
  return values;
}

NutWriteResult NutWriteCommand(const NutUnitData& data,
                               const NutVariableInfo& var,
                               std::string_view value,
                               std::string* agent_line) {
  const std::vector<std::string> allowed = NutEnumValues(data, var);
  if (allowed.empty()) return NutWriteResult::kReadOnly;
  if (std::find(allowed.begin(), allowed.end(), value) == allowed.end()) {
    return NutWriteResult::kInvalidValue;
  }
  std::string number(value);
  if (var.setting == NutUnitData::kColdStart) {
    number = value == "yes" ? "1" : "0";
  }
  *agent_line = "W" + std::to_string(var.setting) + " " + number;
  return NutWriteResult::kOk;
}

std::string NutHundredths(int32_t hundredths) {
  const int64_t wide = hundredths;
  const int64_t magnitude = wide < 0 ? -wide : wide;
  std::string text = wide < 0 ? "-" : "";
  text += std::to_string(magnitude / 100);
  const int64_t cents = magnitude % 100;
  if (cents != 0) {
    text += '.';
    text += static_cast<char>('0' + cents / 10);
    if (cents % 10 != 0) text += static_cast<char>('0' + cents % 10);
  }
  return text;
}

std::vector<int32_t> NutParseAllowedValues(std::string_view text) {
  std::vector<int32_t> values;
  size_t pos = 0;
  while (pos < text.size()) {
    const LeadingInteger found = ScanLeadingInteger(text.substr(pos));
    if (!found.found || found.beyond_int32) break;
    values.push_back(static_cast<int32_t>(found.value));
    pos += found.end + 1;  // the separator after the digits
  }
  return values;
}

bool NutFullUnit(const NutUnitData& data) {
  int32_t port_type = 0;
  return data.snapshot.Get(StatusSnapshot::kSlotPortType, &port_type) &&
         port_type == kPortTypeFull;
}

bool NutStatusTokens(const NutUnitData& data, std::string* status) {
  const StatusSnapshot& s = data.snapshot;
  std::vector<const char*> tokens;
  if (data.forced_shutdown) tokens.push_back("FSD");
  int32_t power_fail = 0;
  if (!s.Get(StatusSnapshot::kSlotPowerFail, &power_fail)) {
    if (tokens.empty()) return false;
    *status = tokens.front();
    return true;
  }
  const bool on_battery = power_fail != 0;
  const bool full = NutFullUnit(data);
  tokens.push_back(on_battery ? "OB" : "OL");

  int32_t low = 0;
  if (s.Get(StatusSnapshot::kSlotBatteryLow, &low) && low != 0) {
    tokens.push_back("LB");
  }

  // The charger as the tool shows it: discharging on battery; charging on a
  // full unit below 100 %; idle otherwise.
  int32_t capacity = 0;
  if (on_battery) {
    tokens.push_back("DISCHRG");
  } else if (full && s.Get(StatusSnapshot::kSlotCapacity, &capacity) &&
             capacity / 100 != 100) {
    tokens.push_back("CHRG");
  }

  // Voltage correction, on line only (on battery the output has nothing to
  // do with the input), and not during a self-test.
  int32_t testing = 0;
  int32_t in = 0;
  int32_t out = 0;
  if (full && !on_battery && s.Get(kSlotTestActive, &testing) && testing != 1 &&
      s.Get(StatusSnapshot::kSlotInputVoltage, &in) &&
      s.Get(StatusSnapshot::kSlotOutputVoltage, &out)) {
    const int64_t in64 = in;
    const int64_t out64 = out;
    if (in64 + kAvrMarginHundredths < out64) {
      tokens.push_back("BOOST");
    } else if (out64 < in64 - kAvrMarginHundredths) {
      tokens.push_back("TRIM");
    }
  }

  int32_t load = 0;
  if (s.Get(StatusSnapshot::kSlotLoad, &load) && load > kOverloadHundredths) {
    tokens.push_back("OVER");
  }

  std::string joined;
  for (const char* token : tokens) {
    if (!joined.empty()) joined += ' ';
    joined += token;
  }
  *status = std::move(joined);
  return true;
}
