#include "tool/configure_command.h"

#include <cstdint>
#include <ostream>
#include <string>

#include "tool/device_line.h"
#include "tool/link/device_list.h"
#include "tool/link/service_connection.h"
#include "tool/option_tables.h"
#include "tool/tool_options.h"
#include "tool/value_syntax.h"

namespace {

// The result of a port selection that names no listed port; shown as a
// failure like any other.
constexpr int32_t kPortNotListed = 17;

const char* OnOff(int32_t value) { return value == 1 ? "on" : "off"; }

class ConfigureRows {
 public:
  ConfigureRows(const ToolOptions& options, ServiceConnection* connection,
                std::ostream& out)
      : options_(options), connection_(connection), out_(out) {}

  // Prints the row's message, sends its request(s) and returns the result.
  int32_t Run(int32_t row) {
    const int32_t value = options_.setting_values[row];
    const std::string number = std::to_string(value);
    switch (row) {
      case kItemBuzzer:
        out_ << "set buzzer " << OnOff(value);
        return connection_->SetPolParameter("service.buzzer on", number);
      case kItemColdStart:
        out_ << "set cold start configuration to " << OnOff(value);
        return connection_->SetPropColdStart(value);
      case kItemStatusRecord:
        out_ << "set status record function to " << OnOff(value);
        return connection_->SetPolParameter("service.rec by period", number);
      case kItemShutdown:
        out_ << "set shutdown system while power fails to " << OnOff(value);
        return connection_->SetPtcParameter(
            "powerfail.shutdown.happen.max count", number);
      case kItemAutoSave:
        out_ << "set the auto save function to " << OnOff(value);
        return connection_->SetPolParameter("service.auto save", number);
      case kItemRecordInterval:
        out_ << "set status record interval to " << DurationText(value)
             << " second.";
        return connection_->SetPolParameter("service.record rate", number);
      case kItemShutdownDelay:
        out_ << "set system shutdown delay in " << DurationText(value)
             << " second after power failed.";
        return connection_->SetPtcParameter("powerfail.shutdown.happen.delay",
                                            number);
      case kItemPoweroffDelay:
        out_ << "set system complete shutdown necessary time "
             << DurationText(value) << " second.";
        return connection_->SetPolParameter("service.shutdown delay", number);
      case kItemPort:
        out_ << "set UPS communication port to " << options_.port_name;
        return SelectPort();
      case kItemInputHi:
        out_ << "set high input voltage configuration to " << value;
        return connection_->SetPropInputHigh(value);
      case kItemInputLo:
        out_ << "set low Input voltage configuration to " << value;
        return connection_->SetPropInputLow(value);
      case kItemBatteryLo:
        out_ << "set battery critical configuration in percentage to " << value;
        return connection_->SetPropBatteryLow(value);
      case kItemBatteryOut:
        out_ << "set battery mode output voltage configuration to " << value;
        return connection_->SetPropBatteryOutput(value);
      default:
        return 0;
    }
  }

 private:
  // Finds the given port in the service's list (letter case ignored) and
  // selects it: index first, then type. The present type and index are
  // asked along with the list but not used.
  int32_t SelectPort() {
    DeviceList devices;
    int32_t type = -1, index = -1;
    int32_t result = GetPortChoices(connection_, &devices, &type, &index);
    if (result != 0) return result;
    for (const std::string& line : devices) {
      DeviceLine device;
      if (!ParseDeviceLine(line, &device)) continue;
      if (!PortNameMatches(device.name, options_.port_name)) continue;
      result = connection_->SetPolParameter("service.media index",
                                            std::to_string(device.index));
      if (result != 0) return result;
      return connection_->SetPolParameter("service.media type",
                                          std::to_string(device.type));
    }
    return kPortNotListed;
  }

  const ToolOptions& options_;
  ServiceConnection* connection_;
  std::ostream& out_;
};

}  // namespace

void RunConfigure(const CommandContext& context) {
  const ToolOptions& options = *context.options;
  std::ostream& out = *context.out;
  ServiceConnection* connection = context.connection;
  bool full_ups = false;
  bool asked = false;
  ConfigureRows rows(options, connection, out);

  for (int32_t row = kFirstSettingRow; row <= kLastSettingRow; ++row) {
    if (!options.setting_given[row]) continue;
    const bool needs_full_ups = (kFullUpsConfigureMask & (1u << row)) != 0;
    if (needs_full_ups && !asked) {
      asked = true;
      int32_t port_type = -1;
      if (connection->GetPropPortType(&port_type) == 0) {
        full_ups = (port_type == kFullUpsPortType);
      }
    }
    if (needs_full_ups && !full_ups) {
      out << kItemOptionNames[row] << " don't be supported by this UPS."
          << std::endl;
      continue;
    }
    int32_t result = rows.Run(row);
    out << (result != 0 ? ", fail." : ", success.") << std::endl;
  }
}
