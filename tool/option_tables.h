#pragma once

#include <cstdint>

// The names kovra accepts on its command line, and the row numbers the
// commands use to refer to them. Names are compared without regard to case.

// Commands, by index.
constexpr int32_t kCommandStatus = 0;
constexpr int32_t kCommandInformation = 1;
constexpr int32_t kCommandLog = 2;
constexpr int32_t kCommandConfigure = 3;
constexpr int32_t kCommandTest = 4;
constexpr int32_t kCommandHelp = 5;
constexpr int32_t kCommandCount = 6;
extern const char* const kCommandNames[kCommandCount];

// Options of the status command, by row. Row 0 is the repeat option; it also
// stands for the port-type query that every status pass makes first.
constexpr int32_t kStatusRepeat = 0;
constexpr int32_t kStatusUtilityState = 1;
constexpr int32_t kStatusChargerState = 2;
constexpr int32_t kStatusBatteryState = 3;
constexpr int32_t kStatusInputVolt = 4;
constexpr int32_t kStatusOutputVolt = 5;
constexpr int32_t kStatusAvrLevel = 6;
constexpr int32_t kStatusCapacity = 7;
constexpr int32_t kStatusLoad = 8;
constexpr int32_t kStatusFrequency = 9;
constexpr int32_t kStatusTemperature = 10;
constexpr int32_t kStatusBackupTime = 11;
constexpr int32_t kStatusOptionCount = 12;
extern const char* const kStatusOptionNames[kStatusOptionCount];

// Items shared by information (rows 0-16), configure (rows 4-16) and log
// (rows 17-19), by row.
constexpr int32_t kItemModel = 0;
constexpr int32_t kItemVersion = 1;
constexpr int32_t kItemOutputFormat = 2;
constexpr int32_t kItemBatteryFormat = 3;
constexpr int32_t kItemBuzzer = 4;
constexpr int32_t kItemColdStart = 5;
constexpr int32_t kItemStatusRecord = 6;
constexpr int32_t kItemShutdown = 7;
constexpr int32_t kItemAutoSave = 8;
constexpr int32_t kItemRecordInterval = 9;
constexpr int32_t kItemShutdownDelay = 10;
constexpr int32_t kItemPoweroffDelay = 11;
constexpr int32_t kItemPort = 12;
constexpr int32_t kItemInputHi = 13;
constexpr int32_t kItemInputLo = 14;
constexpr int32_t kItemBatteryLo = 15;
constexpr int32_t kItemBatteryOut = 16;
constexpr int32_t kItemEvent = 17;
constexpr int32_t kItemSavedFile = 18;
constexpr int32_t kItemStatusList = 19;
constexpr int32_t kItemOptionCount = 20;
extern const char* const kItemOptionNames[kItemOptionCount];

// Rows that hold a configure value: 4 to 16.
constexpr int32_t kFirstSettingRow = kItemBuzzer;
constexpr int32_t kLastSettingRow = kItemBatteryOut;
constexpr int32_t kSettingSlotCount = 17;

// Items that only a UPS with the full property set (port type 2) offers.
constexpr uint32_t kFullUpsInformationMask = 0x1ea7f;
constexpr uint32_t kFullUpsConfigureMask = 0x1ea70;
// The port type of such a UPS.
constexpr int32_t kFullUpsPortType = 2;

// The three logs, by list number; the masks of ToolOptions use bit n for
// list n.
constexpr int32_t kLogEvents = 0;
constexpr int32_t kLogSavedFiles = 1;
constexpr int32_t kLogStatusRecords = 2;
constexpr int32_t kLogCount = 3;

// Index of `name` in `table` of `count` names, compared without regard to
// case; -1 when it is not there.
int32_t FindName(const char* const* table, int32_t count, const char* name);
