#include "service/http/status_view_adapter.h"

// The status items are the snapshot's slots, in the same order.
static_assert(kItemInputVoltage == StatusSnapshot::kSlotInputVoltage &&
                  kItemOutputVoltage == StatusSnapshot::kSlotOutputVoltage &&
                  kItemCapacity == StatusSnapshot::kSlotCapacity &&
                  kItemLoad == StatusSnapshot::kSlotLoad &&
                  kItemTemperature == StatusSnapshot::kSlotTemperature &&
                  kItemFrequency == StatusSnapshot::kSlotFrequency &&
                  kItemPowerFail == StatusSnapshot::kSlotPowerFail &&
                  kItemBatteryLow == StatusSnapshot::kSlotBatteryLow &&
                  kItemConnected == StatusSnapshot::kSlotConnected &&
                  kStatusItemCount <= StatusSnapshot::kSlots,
              "status items follow the snapshot's slots");

void FillStatusView(const StatusSnapshot& pass, int64_t taken_unix_ms,
                    StatusView* view) {
  view->valid = pass.valid;
  view->taken_monotonic_ms = pass.taken_ms;
  view->taken_unix_ms = taken_unix_ms;
  for (int32_t item = 0; item < kStatusItemCount; ++item) {
    StatusReading& reading = view->items[item];
    reading.present = pass.valid && pass.error[item] == 0;
    reading.value = reading.present ? pass.value[item] : 0;
    reading.error = pass.error[item];
  }
}
