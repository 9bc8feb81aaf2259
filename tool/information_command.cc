#include "tool/information_command.h"

#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>

#include "tool/device_line.h"
#include "tool/link/device_list.h"
#include "tool/link/service_connection.h"
#include "tool/link/value_range.h"
#include "tool/option_tables.h"
#include "tool/tool_options.h"
#include "tool/value_syntax.h"

namespace {

// Error number the service uses for a value it does not have: the label is
// shown without a value and without an error text.
constexpr int32_t kMissingValue = 1;

const char* const kLabels[kLastSettingRow + 1] = {
    "UPS model : ",
    "UPS version : ",
    "output format : ",
    "battery format : ",
    "buzzer : ",
    "cold start : ",
    "enable status record : ",
    "shutdown system after power fails : ",
    "enable auto save function :",
    "status record interval : ",
    "power failure causes system shutdown after : ",
    "time to wait system complete shutdown : ",
    "communication port : ",
    "high input voltage configuration : ",
    "low input voltage configuration : ",
    "percentage of battery critical capacity configuration : ",
    "battery mode output voltage configuration : "};

enum class OnRule { kOne, kNonZero };

// "[on],off" or "on,[off]"; with OnRule::kOne a value other than 0 and 1
// marks neither.
void PrintChoice(std::ostream& out, int32_t value, OnRule rule) {
  bool on = (rule == OnRule::kOne) ? value == 1 : value != 0;
  bool off = value == 0;
  out << (on ? "[on]" : "on") << ',' << (off ? "[off]" : "off");
}

// value / 100, followed by "." and the tenths digit when that is not 0.
void PrintTenths(std::ostream& out, int32_t value) {
  out << value / 100;
  int32_t tenths = std::abs((value % 100) / 10);
  if (tenths != 0) out << '.' << tenths;
}

class InformationRows {
 public:
  InformationRows(ServiceConnection* connection, std::ostream& out)
      : connection_(connection), out_(out) {}

  // Sends the row's requests and prints its value after the label that the
  // caller printed. Returns the first non-zero result, or 0.
  int32_t Run(int32_t row) {
    switch (row) {
      case kItemModel:
        return Text(&ServiceConnection::GetPropModel);
      case kItemVersion:
        return Text(&ServiceConnection::GetPropFirmwareVersion);
      case kItemOutputFormat:
        return OutputFormat();
      case kItemBatteryFormat:
        return BatteryFormat();
      case kItemBuzzer:
        return PolChoice("service.buzzer on", OnRule::kOne);
      case kItemColdStart: {
        int32_t value = -1;
        int32_t result = connection_->GetPropColdStart(&value);
        if (result == 0) PrintChoice(out_, value, OnRule::kOne);
        return result;
      }
      case kItemStatusRecord:
        return PolChoice("service.rec by period", OnRule::kOne);
      case kItemShutdown:
        return SettingChoice(&ServiceConnection::GetPtcParameter,
                             "powerfail.shutdown.happen.max count",
                             OnRule::kNonZero);
      case kItemAutoSave:
        return PolChoice("service.auto save", OnRule::kOne);
      case kItemRecordInterval:
        return SettingDuration(&ServiceConnection::GetPolParameter,
                               "service.record rate");
      case kItemShutdownDelay:
        return SettingDuration(&ServiceConnection::GetPtcParameter,
                               "powerfail.shutdown.happen.delay");
      case kItemPoweroffDelay:
        return SettingDuration(&ServiceConnection::GetPolParameter,
                               "service.shutdown delay");
      case kItemPort:
        return PortList();
      case kItemInputHi:
        return Range(&ServiceConnection::GetPropInputHigh,
                     &ServiceConnection::GetPropInputHighRange);
      case kItemInputLo:
        return Range(&ServiceConnection::GetPropInputLow,
                     &ServiceConnection::GetPropInputLowRange);
      case kItemBatteryLo:
        return Range(&ServiceConnection::GetPropBatteryLow,
                     &ServiceConnection::GetPropBatteryLowRange);
      case kItemBatteryOut:
        return Range(&ServiceConnection::GetPropBatteryOutput,
                     &ServiceConnection::GetPropBatteryOutputRange);
      default:
        return 0;
    }
  }

 private:
  using TextRequest = int32_t (ServiceConnection::*)(std::string*);
  using SettingRequest = int32_t (ServiceConnection::*)(const std::string&,
                                                        std::string*);
  using ValueRequest = int32_t (ServiceConnection::*)(int32_t*, bool);
  using RangeRequest = int32_t (ServiceConnection::*)(ValueRange*);

  int32_t Text(TextRequest request) {
    std::string text;
    int32_t result = (connection_->*request)(&text);
    if (result == 0) out_ << text;
    return result;
  }

  // Reads a setting text; `*readable` tells whether it is a number.
  int32_t Setting(SettingRequest request, const char* key, int32_t* value,
                  bool* readable) {
    std::string text;
    int32_t result = (connection_->*request)(key, &text);
    *readable = (result == 0) && ParseDecimal(text, value);
    return result;
  }

  int32_t SettingChoice(SettingRequest request, const char* key, OnRule rule) {
    int32_t value = 0;
    bool readable = false;
    int32_t result = Setting(request, key, &value, &readable);
    if (readable) PrintChoice(out_, value, rule);
    return result;
  }

  int32_t PolChoice(const char* key, OnRule rule) {
    return SettingChoice(&ServiceConnection::GetPolParameter, key, rule);
  }

  int32_t SettingDuration(SettingRequest request, const char* key) {
    int32_t value = 0;
    bool readable = false;
    int32_t result = Setting(request, key, &value, &readable);
    if (readable) out_ << DurationText(value) << " seconds.";
    return result;
  }

  int32_t OutputFormat() {
    int32_t volt = -1, low = -1, high = -1, va = -1, watt = -1;
    int32_t result = connection_->GetPropVolt(&volt);
    if (result != 0) return result;
    out_ << volt / 100 << " V";
    if ((result = connection_->GetPropFrequencyLow(&low)) != 0) return result;
    if ((result = connection_->GetPropFrequencyHigh(&high)) != 0) {
      return result;
    }
    out_ << ", " << low / 100;
    if (high != low) out_ << " ~ " << high / 100;
    out_ << " Hz";
    if ((result = connection_->GetPropVa(&va)) != 0) return result;
    out_ << ", " << va / 100 << " VA";
    if ((result = connection_->GetPropWatt(&watt)) != 0) return result;
    out_ << ", " << watt / 100 << " Watt.";
    return 0;
  }

  int32_t BatteryFormat() {
    int32_t volt = -1, amp_hours = -1, internal = -1, external = -1;
    int32_t result = connection_->GetPropBatteryVoltage(&volt);
    if (result != 0) return result;
    PrintTenths(out_, volt);
    out_ << " V";
    if ((result = connection_->GetPropBatteryAmpereHours(&amp_hours)) != 0) {
      return result;
    }
    out_ << ", ";
    PrintTenths(out_, amp_hours);
    out_ << " Ah";
    if ((result = connection_->GetPropBatteryNumber(&internal)) != 0) {
      return result;
    }
    out_ << ", " << internal << " pack";
    if ((result = connection_->GetPropBatteryExternal(&external)) != 0) {
      return result;
    }
    out_ << ", " << external << " pack.";
    return 0;
  }

  int32_t PortList() {
    DeviceList devices;
    int32_t type = -1, index = -1;
    int32_t result = GetPortChoices(connection_, &devices, &type, &index);
    if (result != 0) return result;
    bool first_line = true;
    for (const std::string& line : devices) {
      DeviceLine device;
      bool readable = ParseDeviceLine(line, &device);
      // The comma goes by position in the list, not by what was printed.
      if (readable && !first_line) out_ << ',';
      first_line = false;
      if (!readable) continue;
      bool current =
          device.type == type && (device.index == index || device.index == 0);
      if (current) {
        out_ << '[' << device.name << ']';
      } else {
        out_ << device.name;
      }
    }
    return 0;
  }

  int32_t Range(ValueRequest current_request, RangeRequest range_request) {
    int32_t current = -1;
    ValueRange range;
    int32_t result = (connection_->*current_request)(&current, false);
    if (result == 0) result = (connection_->*range_request)(&range);
    if (result != 0) return result;
    bool first = true;
    for (int32_t value : range) {
      if (!first) out_ << ',';
      first = false;
      if (value == current) {
        out_ << '[' << value << ']';
      } else {
        out_ << value;
      }
    }
    return 0;
  }

  ServiceConnection* connection_;
  std::ostream& out_;
};

}  // namespace

void RunInformation(const CommandContext& context) {
  std::ostream& out = *context.out;
  ServiceConnection* connection = context.connection;
  const uint32_t named = context.options->information_items;
  bool full_ups = false;

  if (named == 0 || (named & kFullUpsInformationMask) != 0) {
    int32_t port_type = -1;
    if (connection->GetPropPortType(&port_type) == 0) {
      full_ups = (port_type == kFullUpsPortType);
    }
  }

  InformationRows rows(connection, out);
  for (int32_t row = 0; row <= kLastSettingRow; ++row) {
    const uint32_t bit = 1u << row;
    if (named != 0 && (named & bit) == 0) continue;
    if ((kFullUpsInformationMask & bit) != 0 && !full_ups) {
      if (named != 0) {
        out << kItemOptionNames[row] << " is not supported by this UPS."
            << std::endl;
      }
      continue;
    }
    out << kLabels[row];
    int32_t result = rows.Run(row);
    if (result != 0 && result != kMissingValue) {
      out << " error. (" << result << ")";
    }
    out << std::endl;
  }
}
