#pragma once

#include "service/nut/nut_unit_data.h"

// A full unit on line, charged, as the service would gather it: 230.5 V
// in, 230 V out, 100 % charge, 23.5 % load, 31 C, 50.05 Hz, 1500 s left.
inline NutUnitData SampleFullUnit() {
  NutUnitData data;
  StatusSnapshot& s = data.snapshot;
  const int32_t values[StatusSnapshot::kSlots] = {
      23050, 23000, 10000, 2350, 3100, 5005, 1500, 0, 0, 0, 1, 2};
  for (int32_t i = 0; i < StatusSnapshot::kSlots; ++i) {
    s.value[i] = values[i];
    s.error[i] = 0;
  }
  s.valid = true;
  data.model = NutTextReading::Of("Model \"X\" 1000");
  data.firmware = NutTextReading::Of("FW 2.1");
  data.settings[NutUnitData::kInputHigh] = NutReading::Of(260);
  data.settings[NutUnitData::kInputLow] = NutReading::Of(170);
  data.settings[NutUnitData::kBatteryLow] = NutReading::Of(20);
  data.settings[NutUnitData::kBatteryOut] = NutReading::Of(230);
  data.settings[NutUnitData::kColdStart] = NutReading::Of(1);
  data.setting_ranges[NutUnitData::kInputHigh] =
      NutTextReading::Of("250,260,270");
  data.setting_ranges[NutUnitData::kInputLow] = NutTextReading::Of("160,170");
  data.setting_ranges[NutUnitData::kBatteryLow] =
      NutTextReading::Of("10 20 30");
  data.setting_ranges[NutUnitData::kBatteryOut] =
      NutTextReading::Of("220,230,240");
  data.rated_voltage = NutReading::Of(23000);
  data.rated_frequency_low = NutReading::Of(4500);
  data.rated_frequency_high = NutReading::Of(6500);
  data.rated_va = NutReading::Of(100000);
  data.rated_watt = NutReading::Of(60000);
  data.battery_voltage = NutReading::Of(2400);
  data.battery_packs = NutReading::Of(2);
  data.battery_amp_hours = NutReading::Of(720);
  data.battery_packs_external = NutReading::Of(0);
  data.buzzer_on = true;
  data.shutdown_delay_s = 120;
  data.restore_after_s = 60;
  return data;
}
