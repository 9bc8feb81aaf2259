#include "agent/protocol/p99_proxy.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

#include "agent/protocol/p99_protocol.h"

namespace p99_filter {

int32_t Settle(int32_t old_value, int32_t new_value, int32_t* counter,
               int32_t limit, bool jump) {
  if (jump) return new_value;
  if (new_value > old_value) {
    ++*counter;
  } else if (new_value < old_value) {
    --*counter;
  } else {
    *counter = 0;
  }
  if (*counter == limit || *counter == -limit) {
    *counter = 0;
    return new_value;
  }
  return old_value;
}

int32_t Smooth(int32_t old_value, int32_t new_value, int32_t weight,
               bool jump) {
  if (jump) return new_value;
  // 64 bits: the weighted sum of two large readings must not overflow.
  const int64_t sum = int64_t{old_value} * weight +
                      int64_t{new_value} * (1000 - int64_t{weight});
  return static_cast<int32_t>(sum / 1000);
}

int32_t OneWay(int32_t old_value, int32_t new_value, bool on_battery,
               bool jump) {
  if (jump) return new_value;
  if (on_battery) return new_value > old_value ? old_value : new_value;
  return new_value < old_value ? old_value : new_value;
}

}  // namespace p99_filter

namespace {

using p99_filter::OneWay;
using p99_filter::Settle;
using p99_filter::Smooth;

// |a - b| without overflow, for the jump rules.
int64_t Distance(int32_t a, int32_t b) {
  const int64_t d = int64_t{a} - b;
  return d < 0 ? -d : d;
}

// Volts to hundredths, saturating: a setting value can come from a store
// that no table checked.
int32_t Hundredths(int32_t volts) {
  const int64_t v = int64_t{volts} * 100;
  if (v > std::numeric_limits<int32_t>::max()) {
    return std::numeric_limits<int32_t>::max();
  }
  if (v < std::numeric_limits<int32_t>::min()) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(v);
}

int16_t At(const p99::Curve* curve, uint8_t byte) {
  return p99::CurveLookup(*curve, static_cast<int16_t>(byte));
}

// The model names behind the "RO" numbers some units report.
const char* RemappedModelName(long number) {
  switch (number) {
    case 37:
      return "KV900";
    case 39:
      return "KV650";
    case 41:
      return "KV700";
    case 43:
      return "KV1250";
    default:
      return "";
  }
}

}  // namespace

P99Proxy::P99Proxy(P99Protocol* owner) : owner_(owner) {
  tables_ = p99::SelectTableSet(0, 0, 0, 0, 0);
  for (const p99::Curve*& slot : backup_slots_) slot = nullptr;
}

P99Proxy::~P99Proxy() = default;

void P99Proxy::Release() { delete this; }

// ----- Plain reads ------------------------------------------------------

int32_t P99Proxy::ReadCell(int32_t cell, PropertyCell::Slot slot,
                           int32_t* value) {
  if (cell < 0 || cell >= kCellCount) return result::kNoTableItem;
  return cells_[cell].ReadNumber(slot, value);
}

int32_t P99Proxy::ReadSlot(int32_t cell, int32_t* value, int32_t which) {
  return ReadCell(cell,
                  which == 0 ? PropertyCell::kCurrent : PropertyCell::kDefault,
                  value);
}

int32_t P99Proxy::ReadTextCell(int32_t cell, char* buffer, int32_t* size) {
  if (cell < 0 || cell >= kCellCount) return result::kNoTableItem;
  return cells_[cell].ReadText(PropertyCell::kCurrent, buffer, size);
}

int32_t P99Proxy::StoreNumber(int32_t cell, int32_t value) {
  if (cell < 0 || cell >= kCellCount) return result::kNoTableItem;
  return cells_[cell].StoreNumber(PropertyCell::kCurrent, value);
}

int32_t P99Proxy::StoreText(int32_t cell, const char* text) {
  if (cell < 0 || cell >= kCellCount) return result::kNoTableItem;
  return cells_[cell].StoreText(PropertyCell::kCurrent, text);
}

#define P99_FIELD_READ(Name, field)        \
  int32_t P99Proxy::Name(int32_t* value) { \
    *value = field;                        \
    return result::kSuccess;               \
  }

P99_FIELD_READ(GetInputVoltage, input_voltage_)
P99_FIELD_READ(GetOutputVoltage, output_voltage_)
P99_FIELD_READ(GetBatteryCapacity, capacity_)
P99_FIELD_READ(GetLoad, load_)
P99_FIELD_READ(GetTemperature, temperature_)
P99_FIELD_READ(GetFrequency, frequency_)
P99_FIELD_READ(GetBackupTime, backup_time_)
P99_FIELD_READ(GetPowerFail, power_fail_)
P99_FIELD_READ(GetBatteryLow, battery_low_)
P99_FIELD_READ(GetTestActive, test_active_)
P99_FIELD_READ(GetShutdownActive, shutdown_active_)
P99_FIELD_READ(GetBuzzerActive, buzzer_active_)
#undef P99_FIELD_READ

int32_t P99Proxy::GetConnected(int32_t* value) {
  *value = 1;
  return result::kSuccess;
}

int32_t P99Proxy::SetInputHigh(int32_t value) { return StoreNumber(0, value); }
int32_t P99Proxy::SetInputLow(int32_t value) { return StoreNumber(1, value); }
int32_t P99Proxy::SetBatteryLowLevel(int32_t value) {
  return StoreNumber(2, value);
}
int32_t P99Proxy::SetBatteryOut(int32_t value) { return StoreNumber(3, value); }
int32_t P99Proxy::SetColdStart(int32_t value) { return StoreNumber(4, value); }
int32_t P99Proxy::SetProperty5(int32_t value) { return StoreNumber(5, value); }
int32_t P99Proxy::SetProperty6(int32_t value) { return StoreNumber(6, value); }

int32_t P99Proxy::GetInputHigh(int32_t* value, int32_t which) {
  return ReadSlot(0, value, which);
}
int32_t P99Proxy::GetInputLow(int32_t* value, int32_t which) {
  return ReadSlot(1, value, which);
}
int32_t P99Proxy::GetBatteryLowLevel(int32_t* value, int32_t which) {
  return ReadSlot(2, value, which);
}
int32_t P99Proxy::GetBatteryOut(int32_t* value, int32_t which) {
  return ReadSlot(3, value, which);
}
int32_t P99Proxy::GetColdStart(int32_t* value, int32_t which) {
  return ReadSlot(4, value, which);
}
int32_t P99Proxy::GetProperty5(int32_t* value, int32_t which) {
  return ReadSlot(5, value, which);
}
int32_t P99Proxy::GetProperty6(int32_t* value, int32_t which) {
  return ReadSlot(6, value, which);
}

int32_t P99Proxy::GetInputHighRange(char* buffer, int32_t* size) {
  return ReadTextCell(kCellRange + 0, buffer, size);
}
int32_t P99Proxy::GetInputLowRange(char* buffer, int32_t* size) {
  return ReadTextCell(kCellRange + 1, buffer, size);
}
int32_t P99Proxy::GetBatteryLowRange(char* buffer, int32_t* size) {
  return ReadTextCell(kCellRange + 2, buffer, size);
}
int32_t P99Proxy::GetBatteryOutRange(char* buffer, int32_t* size) {
  return ReadTextCell(kCellRange + 3, buffer, size);
}
int32_t P99Proxy::GetText33(char* buffer, int32_t* size) {
  return ReadTextCell(kCellInfoText, buffer, size);
}
int32_t P99Proxy::GetModelName(char* buffer, int32_t* size) {
  return ReadTextCell(kCellModelText, buffer, size);
}
int32_t P99Proxy::GetFirmwareVersion(char* buffer, int32_t* size) {
  return ReadTextCell(kCellFirmware, buffer, size);
}

int32_t P99Proxy::GetRatedVoltage(int32_t* value) {
  return ReadCell(kCellRatedVoltage, PropertyCell::kCurrent, value);
}
int32_t P99Proxy::GetRatedFrequencyLow(int32_t* value) {
  return ReadCell(kCellRatedFrequencyLow, PropertyCell::kCurrent, value);
}
int32_t P99Proxy::GetRatedFrequencyHigh(int32_t* value) {
  return ReadCell(kCellRatedFrequencyHigh, PropertyCell::kCurrent, value);
}
int32_t P99Proxy::GetPortType(int32_t* value) {
  return ReadCell(kCellPortType, PropertyCell::kCurrent, value);
}
int32_t P99Proxy::GetMediaType(int32_t* value) {
  return ReadCell(kCellMediaType, PropertyCell::kCurrent, value);
}
int32_t P99Proxy::GetMediaIndex(int32_t* value) {
  return ReadCell(kCellMediaIndex, PropertyCell::kCurrent, value);
}
int32_t P99Proxy::GetBaudRate(int32_t* value) {
  return ReadCell(kCellBaudRate, PropertyCell::kCurrent, value);
}
int32_t P99Proxy::GetProperty46(int32_t* value) {
  return ReadCell(kCellItem29, PropertyCell::kCurrent, value);
}
int32_t P99Proxy::GetProperty47(int32_t* value) {
  return ReadCell(kCellProperty47, PropertyCell::kCurrent, value);
}
int32_t P99Proxy::GetProperty52(int32_t* value) {
  return ReadCell(kCellProperty52, PropertyCell::kCurrent, value);
}
int32_t P99Proxy::GetProperty53(int32_t* value) {
  return ReadCell(kCellProperty53, PropertyCell::kCurrent, value);
}

int32_t P99Proxy::GetModelIndex(int32_t* value) {
  return ReadCell(kCellModelIndex, PropertyCell::kCurrent, value);
}
int32_t P99Proxy::GetModelClass(int32_t* value) {
  return ReadCell(kCellModelClass, PropertyCell::kCurrent, value);
}
int32_t P99Proxy::GetVoltageClass(int32_t* value) {
  return ReadCell(kCellVoltageClass, PropertyCell::kCurrent, value);
}
int32_t P99Proxy::GetVoltageVariant(int32_t* value, int32_t which) {
  return ReadSlot(kCellVoltageVariant, value, which);
}

// ----- Settings ---------------------------------------------------------

int32_t P99Proxy::GetSettingRegister(int32_t item, uint8_t* reg) {
  switch (item) {
    case 0:
      *reg = 0x02;
      return result::kSuccess;
    case 1:
      *reg = 0x04;
      return result::kSuccess;
    case 2:
      *reg = 0x08;
      return result::kSuccess;
    case 3:
      *reg = 0x18;
      return result::kSuccess;
    case 4:
    case 5:
    case 6:
      *reg = 0x0F;
      return result::kSuccess;
    case kItem29:
      *reg = 0x3D;
      return result::kSuccess;
    case kItemVoltageClass:
      *reg = 0x29;
      return result::kSuccess;
    case kItemVoltageVariant:
      *reg = 0x2B;
      return result::kSuccess;
    default:
      return result::kNoTableItem;
  }
}

const p99::CodeTable* P99Proxy::CodeTableOf(int32_t item) const {
  switch (item) {
    case 0:
      return tables_.input_high;
    case 1:
      return tables_.input_low;
    case 2:
      return tables_.battery_low_level;
    case 3:
      return tables_.battery_out;
    default:
      return nullptr;
  }
}

int32_t P99Proxy::DecodeSetting(int32_t item, uint8_t byte, int32_t* out) {
  if (!tables_ready_) {
    const int32_t selected = SelectTables();
    if (selected != result::kSuccess) return selected;
  }
  int32_t value = 0;
  switch (item) {
    case 0:
    case 1:
    case 2:
    case 3: {
      const int32_t code = static_cast<int8_t>(byte);
      if (!p99::CodeToValue(*CodeTableOf(item), code, &value)) {
        return result::kNotInTable;
      }
      break;
    }
    case 4:
    case 5:
    case 6: {
      // One register holds three settings; cold start is stored inverted.
      const int32_t bits[3] = {1 - (byte & 0x01), (byte >> 1) & 1,
                               (byte >> 4) & 1};
      *out = bits[item - 4];
      for (int32_t i = 0; i < 3; ++i) {
        const int32_t stored = StoreNumber(4 + i, bits[i]);
        if (stored != result::kSuccess) return stored;
      }
      return result::kSuccess;
    }
    case kItem29:
      value = (byte >> 4) & 1;
      break;
    case kItemVoltageClass:
      value = byte == 0x00 ? 1 : byte == 0x04 ? 2 : byte == 0x10 ? 3 : 0;
      break;
    case kItemVoltageVariant:
      value = byte == 0x01 ? 1 : byte == 0xFE ? 2 : byte == 0xFF ? 3 : 0;
      break;
    default:
      return result::kNotSupported;
  }
  *out = value;
  return StoreNumber(item, value);
}

int32_t P99Proxy::EncodeSetting(int32_t item, int32_t value, uint8_t* byte) {
  if (!tables_ready_) {
    const int32_t selected = SelectTables();
    if (selected != result::kSuccess) return selected;
  }
  switch (item) {
    case 0:
    case 1:
    case 2:
    case 3: {
      int32_t code = 0;
      if (!p99::ValueToCode(*CodeTableOf(item), value, &code)) {
        return result::kNotInTable;
      }
      *byte = static_cast<uint8_t>(code & 0xFF);
      break;
    }
    case 4:
    case 5:
    case 6: {
      int32_t bits[3] = {0, 0, 0};
      for (int32_t i = 0; i < 3; ++i) {
        const int32_t read =
            cells_[4 + i].ReadNumber(PropertyCell::kCurrent, &bits[i]);
        if (read != result::kSuccess) return read;
      }
      bits[item - 4] = value;
      *byte = static_cast<uint8_t>((bits[0] == 0 ? 0x01 : 0x00) |
                                   ((bits[1] & 1) << 1) | ((bits[2] & 1) << 4));
      break;
    }
    case kItem29:
    case kItemVoltageClass:
    case kItemVoltageVariant:
      return result::kNoItemEncoding;
    default:
      return result::kNotSupported;
  }
  return StoreNumber(item, value);
}

// ----- Identification and table selection --------------------------------

int32_t P99Proxy::IdentifyModel() {
  char text[16];
  int32_t size = sizeof(text);
  const int32_t read = ReadTextCell(kCellModelText, text, &size);
  if (read != result::kSuccess) return read;

  if ((text[0] == 'R' || text[0] == 'r') &&
      (text[1] == 'O' || text[1] == 'o')) {
    // The text is NUL-terminated within 16 bytes, so strtol stays inside.
    const long number = std::strtol(text + 2, nullptr, 10);
    const char* name = RemappedModelName(number);
    std::snprintf(text, sizeof(text), "%s", name);
    const int32_t stored =
        StoreText(kCellModelText, name[0] == '\0' ? nullptr : name);
    if (stored != result::kSuccess) return stored;
  }

  const int32_t index = p99::FindModel(text);
  if (index <= 0) return result::kNotThisProtocol;
  int32_t stored = StoreNumber(kCellModelIndex, index);
  if (stored == result::kSuccess) {
    stored = StoreNumber(kCellModelClass, p99::ModelClassOf(index));
  }
  if (stored != result::kSuccess) return stored;

  // A failed selection leaves the tables unselected; the next decoding
  // tries again, so the result is not passed on.
  SelectTables();
  return result::kSuccess;
}

int32_t P99Proxy::SelectTables() {
  // Marked ready while the owner reads the items: those reads decode
  // register bytes, which must not start a selection of their own.
  const bool was_ready = tables_ready_;
  tables_ready_ = true;
  int32_t item29 = 0;
  int32_t voltage_class = 0;
  int32_t model_index = 0;
  int32_t model_class = 0;
  int32_t variant = 0;
  int32_t code = owner_->GetProperty46(&item29);
  if (code == result::kSuccess) {
    code = owner_->GetVoltageClass(&voltage_class);
    if (code == result::kSuccess && voltage_class == 0) {
      code = result::kNotThisProtocol;
    }
  }
  if (code == result::kSuccess) {
    code = owner_->GetModelIndex(&model_index);
    if (code == result::kSuccess && model_index == 0) {
      code = result::kNotThisProtocol;
    }
  }
  if (code == result::kSuccess) {
    code = owner_->GetModelClass(&model_class);
    if (code == result::kSuccess && model_class == 0) {
      code = result::kNotThisProtocol;
    }
  }
  if (code == result::kSuccess) {
    code = owner_->GetVoltageVariant(&variant, 0);
  }
  tables_ready_ = was_ready;
  if (code != result::kSuccess) return code;

  tables_ = p99::SelectTableSet(voltage_class, model_class, model_index, item29,
                                variant);
  backup_scale_ = tables_.backup_scale;
  for (const p99::Curve*& slot : backup_slots_) slot = nullptr;
  const p99::BackupTable& backup = *tables_.backup;
  for (int32_t i = 0; i < backup.count; ++i) {
    const int32_t key = backup.entries[i].load_key;
    if (key >= 0 && key <= 100) backup_slots_[key] = &backup.entries[i].curve;
  }
  for (int32_t& counter : settle_counters_) counter = 0;

  // Factory defaults: each table's value of code 0, and fixed bits.
  for (int32_t item = 0; item < 4; ++item) {
    int32_t value = 0;
    if (p99::CodeToValue(*CodeTableOf(item), 0, &value)) {
      code = cells_[item].StoreNumber(PropertyCell::kDefault, value);
      if (code != result::kSuccess) return code;
    }
  }
  const int32_t defaults[][2] = {
      {4, 1}, {5, 1}, {6, 0}, {kCellVoltageVariant, 0}};
  for (const auto& d : defaults) {
    code = cells_[d[0]].StoreNumber(PropertyCell::kDefault, d[1]);
    if (code != result::kSuccess) return code;
  }

  // The allowed values of each setting, as "131,132,...".
  for (int32_t item = 0; item < 4; ++item) {
    const p99::CodeTable& table = *CodeTableOf(item);
    char text[160];
    size_t used = 0;
    text[0] = '\0';
    for (int32_t i = 0; i < table.count; ++i) {
      const int written =
          std::snprintf(text + used, sizeof(text) - used, "%s%d",
                        i == 0 ? "" : ",", table.pairs[i].value);
      if (written < 0 || static_cast<size_t>(written) >= sizeof(text) - used) {
        break;  // cannot happen with the built-in tables; keep what fits
      }
      used += static_cast<size_t>(written);
    }
    code = StoreText(kCellRange + item, text);
    if (code != result::kSuccess) return code;
  }

  tables_ready_ = true;
  return result::kSuccess;
}

// ----- Status decoding ----------------------------------------------------

int32_t P99Proxy::TapRatio(int32_t input, int32_t position) const {
  if (position < 1 || position > 3) return input;
  const p99::TapRatio& ratio = tables_.tap_ratios->positions[position - 1];
  // Formed in 64 bits and kept whole: a 230 V unit reads above 327.67 V,
  // which a 16-bit value would turn negative.
  const int64_t scaled = int64_t{input} * ratio.numerator / ratio.denominator;
  if (scaled > std::numeric_limits<int32_t>::max()) {
    return std::numeric_limits<int32_t>::max();
  }
  if (scaled < std::numeric_limits<int32_t>::min()) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(scaled);
}

int32_t P99Proxy::EstimateBackup(int32_t capacity_percent,
                                 int32_t load_percent) const {
  const int32_t c = capacity_percent < 0     ? 0
                    : capacity_percent > 100 ? 100
                                             : capacity_percent;
  const int32_t l = load_percent < 0     ? 0
                    : load_percent > 100 ? 100
                                         : load_percent;
  int32_t lower = l;
  while (lower >= 0 && backup_slots_[lower] == nullptr) --lower;
  int32_t upper = l;
  while (upper <= 100 && backup_slots_[upper] == nullptr) ++upper;
  if (lower < 0 && upper > 100) return 0;  // no backup table selected
  if (lower < 0) lower = upper;
  if (upper > 100) upper = lower;

  const int16_t x = static_cast<int16_t>(c);
  int32_t y = p99::CurveLookup(*backup_slots_[lower], x);
  if (lower != upper) {
    const int32_t y2 = p99::CurveLookup(*backup_slots_[upper], x);
    if (y2 != y) y += (l - lower) * (y2 - y) / (upper - lower);
  }
  return static_cast<int32_t>(int64_t{y} * backup_scale_ / p99::kBackupFull);
}

int32_t P99Proxy::DecodeStatus(const uint8_t data[7]) {
  if (!tables_ready_) {
    const int32_t selected = SelectTables();
    if (selected != result::kSuccess) return selected;
  }
  const uint8_t flags = data[6];
  power_fail_ = (flags >> 7) & 1;
  battery_low_ = (flags >> 6) & 1;
  shutdown_active_ = (flags >> 1) & 1;
  test_active_ = (flags >> 2) & 1;
  buzzer_active_ = flags & 1;

  int32_t model_index = 0;
  int32_t model_class = 0;
  int32_t code = owner_->GetModelIndex(&model_index);
  if (code != result::kSuccess) return code;
  code = owner_->GetModelClass(&model_class);
  if (code != result::kSuccess) return code;
  if (model_index == 0 || model_class == 0) return result::kNotThisProtocol;

  // A self-test switches most models to battery; that is no power failure.
  if (test_active_ == 1 && power_fail_ == 1) {
    const bool class4_clears =
        model_class == 4 &&
        ((model_index >= 16 && model_index <= 22) || model_index == 24);
    if (model_class <= 3 || class4_clears) power_fail_ = 0;
  }
  const bool on_battery = power_fail_ != 0 || test_active_ != 0;
  const int32_t previous_load = load_;

  int32_t item29 = 0;
  int32_t nominal_volts = 0;
  code = owner_->GetProperty46(&item29);
  if (code != result::kSuccess) return code;
  code = owner_->GetBatteryOut(&nominal_volts, 0);
  if (code != result::kSuccess) return code;

  const int32_t input = 100 * At(tables_.input, data[0]);
  input_voltage_ =
      Settle(input_voltage_, input, &settle_counters_[kInputCounter], 2,
             Distance(input_voltage_, input) >= 1000);

  if (on_battery) {
    output_voltage_ = Hundredths(nominal_volts);
  } else if (model_class == 5) {
    const int32_t output = 100 * At(tables_.output, data[1]);
    output_voltage_ =
        Settle(output_voltage_, output, &settle_counters_[kOutputCounter], 2,
               Distance(output_voltage_, output) >= 1000);
  } else if (item29 != 0) {
    output_voltage_ = TapRatio(input_voltage_, (flags >> 4) & 0x03);
  } else {
    output_voltage_ = input_voltage_;
  }

  const p99::Curve* load_curve =
      on_battery ? &tables_.load->battery : &tables_.load->mains;
  const int32_t load = At(load_curve, data[2]);
  load_ = Smooth(load_, load, 900, Distance(load_, load) >= 1000);

  const int32_t capacity = At(tables_.capacity, data[3]);
  const int32_t smoothed =
      Smooth(capacity_, capacity, 900, Distance(capacity_, capacity) >= 1000);
  capacity_ = OneWay(capacity_, smoothed, on_battery,
                     Distance(load_, previous_load) >= 400);

  backup_time_ = EstimateBackup(capacity_ / 100, load_ / 100);

  const int32_t temperature = 100 * At(tables_.temperature, data[4]);
  temperature_ =
      Settle(temperature_, temperature, &settle_counters_[kTempCounter], 3,
             Distance(temperature_, temperature) >= 500);

  const int32_t frequency = At(tables_.frequency, data[5]);
  const int64_t frequency_step = Distance(frequency_, frequency);
  frequency_ = Smooth(frequency_, frequency, 900,
                      frequency_step >= 200 || frequency_step < 10);
  return result::kSuccess;
}
