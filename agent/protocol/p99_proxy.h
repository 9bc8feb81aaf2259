#pragma once

#include <cstdint>

#include "agent/protocol/i_protocol.h"
#include "agent/protocol/p99_tables.h"
#include "agent/protocol/property_cell.h"

class P99Protocol;

// The value side of the P99 family. The P99Protocol that owns the proxy
// hands it every raw byte the unit sends; the proxy decodes them into
// engineering values through the model's tables (p99_tables.h), filters the
// measurements from poll to poll and keeps the cache of every property and
// setting. It never touches the serial line: when it needs an item only the
// unit can supply it asks its owner, which runs the exchange.
//
// Cells are numbered as the pipe's R commands where there is one; see
// kCellCount and the constants below for the others.
class P99Proxy final : public IProtocol {
 public:
  static constexpr int32_t kCellCount = 38;
  static constexpr int32_t kCellRange = 8;  // 8-11: allowed values
  static constexpr int32_t kCellModelText = 12;
  static constexpr int32_t kCellFirmware = 13;
  static constexpr int32_t kCellInfoText = 15;
  static constexpr int32_t kCellRatedVoltage = 16;
  static constexpr int32_t kCellRatedFrequencyLow = 17;
  static constexpr int32_t kCellRatedFrequencyHigh = 18;
  static constexpr int32_t kCellBaudRate = 21;
  static constexpr int32_t kCellPortType = 22;
  static constexpr int32_t kCellMediaType = 23;
  static constexpr int32_t kCellMediaIndex = 24;
  static constexpr int32_t kCellItem29 = 29;
  static constexpr int32_t kCellProperty47 = 30;
  static constexpr int32_t kCellProperty52 = 31;
  static constexpr int32_t kCellProperty53 = 32;
  static constexpr int32_t kCellModelIndex = 33;
  static constexpr int32_t kCellModelClass = 34;
  static constexpr int32_t kCellVoltageClass = 35;
  static constexpr int32_t kCellVoltageVariant = 36;

  // Setting items that have a register: 0-6 (the pipe's R0-R6 and W0-W6),
  // 29 (R29), 35 (voltage class) and 36 (voltage variant).
  static constexpr int32_t kItem29 = 29;
  static constexpr int32_t kItemVoltageClass = 35;
  static constexpr int32_t kItemVoltageVariant = 36;

  // The owner is borrowed and must outlive the proxy (it owns it). Starts
  // without tables, with every measurement and flag 0.
  explicit P99Proxy(P99Protocol* owner);
  ~P99Proxy() override;

  // --- The IProtocol operations, answered from the fields and cells ------
  int32_t GetInputVoltage(int32_t* value) override;
  int32_t GetOutputVoltage(int32_t* value) override;
  int32_t GetBatteryCapacity(int32_t* value) override;
  int32_t GetLoad(int32_t* value) override;
  int32_t GetTemperature(int32_t* value) override;
  int32_t GetFrequency(int32_t* value) override;
  int32_t GetBackupTime(int32_t* value) override;  // seconds
  int32_t GetPowerFail(int32_t* value) override;
  int32_t GetBatteryLow(int32_t* value) override;
  int32_t GetTestActive(int32_t* value) override;
  int32_t GetShutdownActive(int32_t* value) override;
  int32_t GetConnected(int32_t* value) override;  // always 1
  int32_t GetBuzzerActive(int32_t* value) override;

  // Store the value in the current slot of cell 0 ... 6 (no unit talk).
  int32_t SetInputHigh(int32_t value) override;
  int32_t SetInputLow(int32_t value) override;
  int32_t SetBatteryLowLevel(int32_t value) override;
  int32_t SetBatteryOut(int32_t value) override;
  int32_t SetColdStart(int32_t value) override;
  int32_t SetProperty5(int32_t value) override;
  int32_t SetProperty6(int32_t value) override;

  // Cell 0 ... 6, current (which == 0) or default slot.
  int32_t GetInputHigh(int32_t* value, int32_t which) override;
  int32_t GetInputLow(int32_t* value, int32_t which) override;
  int32_t GetBatteryLowLevel(int32_t* value, int32_t which) override;
  int32_t GetBatteryOut(int32_t* value, int32_t which) override;
  int32_t GetColdStart(int32_t* value, int32_t which) override;
  int32_t GetProperty5(int32_t* value, int32_t which) override;
  int32_t GetProperty6(int32_t* value, int32_t which) override;

  // Texts of cells 8-11, 15, 12 and 13 (two-call text reads).
  int32_t GetInputHighRange(char* buffer, int32_t* size) override;
  int32_t GetInputLowRange(char* buffer, int32_t* size) override;
  int32_t GetBatteryLowRange(char* buffer, int32_t* size) override;
  int32_t GetBatteryOutRange(char* buffer, int32_t* size) override;
  int32_t GetText33(char* buffer, int32_t* size) override;
  int32_t GetModelName(char* buffer, int32_t* size) override;
  int32_t GetFirmwareVersion(char* buffer, int32_t* size) override;

  // Cells 16, 17, 18, 22, 23, 24, 21, 29, 30, 31 and 32.
  int32_t GetRatedVoltage(int32_t* value) override;
  int32_t GetRatedFrequencyLow(int32_t* value) override;
  int32_t GetRatedFrequencyHigh(int32_t* value) override;
  int32_t GetPortType(int32_t* value) override;
  int32_t GetMediaType(int32_t* value) override;
  int32_t GetMediaIndex(int32_t* value) override;
  int32_t GetBaudRate(int32_t* value) override;
  int32_t GetProperty46(int32_t* value) override;
  int32_t GetProperty47(int32_t* value) override;
  int32_t GetProperty52(int32_t* value) override;
  int32_t GetProperty53(int32_t* value) override;

  void Release() override;

  // --- The operations of the P99 family ---------------------------------
  // Cells 33, 34, 35 and 36 (the last with the slot chosen by `which`).
  int32_t GetModelIndex(int32_t* value);
  int32_t GetModelClass(int32_t* value);
  int32_t GetVoltageClass(int32_t* value);
  int32_t GetVoltageVariant(int32_t* value, int32_t which);

  // Decodes the seven bytes of a status reply (d0 to d6) into the flags and
  // the filtered measurements. Selects the tables first if none are. The
  // flags are stored before anything can fail; the measurements change only
  // when everything the decoding needs was obtained. 0, 10 when the model is
  // unknown, or the failure of a read through the owner.
  int32_t DecodeStatus(const uint8_t data[7]);

  // Decodes a setting register byte for `item`, writes the value to *out
  // and stores it in the item's cell (register 0x0F fills cells 4, 5 and 6).
  // 0; 14 for a code outside the item's table (nothing stored); 1 for an
  // item without a register; the failure of a table selection; 19.
  int32_t DecodeSetting(int32_t item, uint8_t byte, int32_t* out);

  // Builds the register byte that sets `item` to `value` and stores the
  // value in the item's cell (the owner restores it if the unit does not
  // confirm). 0; 14 for a value outside the item's table; 13 for a read-only
  // item; 1 for an item without a register; for items 4-6 the failure of
  // reading the other two bits (2 while the register was never read).
  int32_t EncodeSetting(int32_t item, int32_t value, uint8_t* byte);

  // Maps the model text of cell 12 to the model list (rewriting "RO"
  // numbers to model names first), stores index and class in cells 33 and
  // 34 and selects the tables. 0; 10 when the text is not a listed model; 2
  // when cell 12 is empty; 5 when the text is too long.
  int32_t IdentifyModel();

  // The setting register of `item`: 0, or 11 for an item without one.
  int32_t GetSettingRegister(int32_t item, uint8_t* reg);

  // --- For the owner ----------------------------------------------------
  // Store into the current slot of a cell: 0, 19, or 11 for a cell number
  // outside 0 to 37.
  int32_t StoreNumber(int32_t cell, int32_t value);
  int32_t StoreText(int32_t cell, const char* text);

  // True once a table set is selected (or while a selection runs).
  bool tables_ready() const { return tables_ready_; }
  const p99::TableSet& tables() const { return tables_; }
  int32_t backup_scale() const { return backup_scale_; }

  // Backup time in seconds for a capacity and a load in percent (clamped to
  // 0-100), interpolated between the nearest backup curves by load.
  int32_t EstimateBackup(int32_t capacity_percent, int32_t load_percent) const;

 private:
  enum Counter { kInputCounter = 0, kOutputCounter = 1, kTempCounter = 2 };

  int32_t SelectTables();
  int32_t ReadCell(int32_t cell, PropertyCell::Slot slot, int32_t* value);
  int32_t ReadSlot(int32_t cell, int32_t* value, int32_t which);
  int32_t ReadTextCell(int32_t cell, char* buffer, int32_t* size);
  const p99::CodeTable* CodeTableOf(int32_t item) const;
  int32_t TapRatio(int32_t input, int32_t position) const;

  P99Protocol* owner_;
  bool tables_ready_ = false;
  int32_t power_fail_ = 0;
  int32_t battery_low_ = 0;
  int32_t shutdown_active_ = 0;
  int32_t test_active_ = 0;
  int32_t buzzer_active_ = 0;
  int32_t input_voltage_ = 0;
  int32_t output_voltage_ = 0;
  int32_t load_ = 0;
  int32_t capacity_ = 0;
  int32_t backup_time_ = 0;
  int32_t temperature_ = 0;
  int32_t frequency_ = 0;
  PropertyCell cells_[kCellCount];
  int32_t backup_scale_ = 1800;
  p99::TableSet tables_;
  const p99::Curve* backup_slots_[101];
  int32_t settle_counters_[3] = {0, 0, 0};
};

// The measurement filters of the P99 decoding, exposed for tests.
namespace p99_filter {

// Accepts a changed reading only after it has moved *counter `limit` steps
// in one direction (or at once with `jump`); an equal reading resets the
// counter.
int32_t Settle(int32_t old_value, int32_t new_value, int32_t* counter,
               int32_t limit, bool jump);

// Weighted mean of old and new (weight per mille on the old value), or the
// new value with `jump`.
int32_t Smooth(int32_t old_value, int32_t new_value, int32_t weight, bool jump);

// Lets a value only fall on battery and only rise on mains, unless `jump`.
int32_t OneWay(int32_t old_value, int32_t new_value, bool on_battery,
               bool jump);

}  // namespace p99_filter
