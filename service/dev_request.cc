#include "common/integer_text.h"
#include "service/dev_request.h"

#include "service/parameter_store.h"
#include "service/status_snapshot.h"

namespace {

struct DevEntry {
  const char* name;
  DevRequest::Source source;
  DevRequest::Form form;
  const char* command;  // for snapshot requests, the command of the slot
  int32_t slot;
  bool cacheable;
};

using S = DevRequest::Source;
using F = DevRequest::Form;

// Requests without an argument.
const DevEntry kReads[] = {
    {"STATUS_INVOLT", S::kSnapshot, F::kNumber, "S0", 0, false},
    {"STATUS_OUTVOLT", S::kSnapshot, F::kNumber, "S1", 1, false},
    {"STATUS_CAPACITY", S::kSnapshot, F::kNumber, "S2", 2, false},
    {"STATUS_LOAD", S::kSnapshot, F::kNumber, "S3", 3, false},
    {"STATUS_TEMP", S::kSnapshot, F::kNumber, "S4", 4, false},
    {"STATUS_FREQ", S::kSnapshot, F::kNumber, "S5", 5, false},
    {"STATUS_BACKUP", S::kSnapshot, F::kNumber, "S6", 6, false},
    {"STATUS_POWERFAIL", S::kSnapshot, F::kNumber, "S7", 7, false},
    {"STATUS_BATTERYLO", S::kSnapshot, F::kNumber, "S8", 8, false},
    {"STATUS_TEST", S::kSnapshot, F::kNumber, "S9", 9, false},
    {"STATUS_CONNECT", S::kSnapshot, F::kNumber, "S12",
     StatusSnapshot::kSlotConnected, false},
    {"PROP_INPUTHI", S::kAgent, F::kNumber, "R0 0", -1, false},
    {"PROP_INPUTLO", S::kAgent, F::kNumber, "R1 0", -1, false},
    {"PROP_BATTERYLO", S::kAgent, F::kNumber, "R2 0", -1, false},
    {"PROP_BATOUT", S::kAgent, F::kNumber, "R3 0", -1, false},
    {"PROP_COLDSTART", S::kAgent, F::kNumber, "R4 0", -1, false},
    {"PROP_INPUTHI DEFAULT", S::kAgent, F::kNumber, "R0 1", -1, true},
    {"PROP_INPUTLO DEFAULT", S::kAgent, F::kNumber, "R1 1", -1, true},
    {"PROP_BATTERYLO DEFAULT", S::kAgent, F::kNumber, "R2 1", -1, true},
    {"PROP_BATOUT DEFAULT", S::kAgent, F::kNumber, "R3 1", -1, true},
    {"PROP_COLDSTART DEFAULT", S::kAgent, F::kNumber, "R4 1", -1, true},
    {"PROP_INPUTHI_RANGE", S::kAgent, F::kText, "R8", -1, true},
    {"PROP_INPUTLO_RANGE", S::kAgent, F::kText, "R9", -1, true},
    {"PROP_BATTERYLO_RANGE", S::kAgent, F::kText, "R10", -1, true},
    {"PROP_BATOUT_RANGE", S::kAgent, F::kText, "R11", -1, true},
    {"PROP_MODEL", S::kAgent, F::kText, "R12", -1, true},
    {"PROP_FWVER", S::kAgent, F::kText, "R13", -1, true},
    {"PROP_VOLT", S::kAgent, F::kNumber, "R16", -1, true},
    {"PROP_FREQLO", S::kAgent, F::kNumber, "R17", -1, true},
    {"PROP_FREQHI", S::kAgent, F::kNumber, "R18", -1, true},
    {"PROP_VA", S::kAgent, F::kNumber, "R19", -1, true},
    {"PROP_WATT", S::kAgent, F::kNumber, "R20", -1, true},
    {"PROP_PORTTYPE", S::kSnapshot, F::kNumber, "R22",
     StatusSnapshot::kSlotPortType, false},
    {"PROP_MEDIATYPE", S::kAgent, F::kNumber, "R23", -1, true},
    {"PROP_MEDIAIDX", S::kAgent, F::kNumber, "R24", -1, true},
    {"PROP_BATVOLT", S::kAgent, F::kNumber, "R25", -1, true},
    {"PROP_BATNUM", S::kAgent, F::kNumber, "R26", -1, true},
    {"PROP_BATAH", S::kAgent, F::kNumber, "R27", -1, true},
    {"PROP_BATEXT", S::kAgent, F::kNumber, "R28", -1, true},
    {"PROP_MEDIADEVICES", S::kAgent, F::kDeviceList, "R37", -1, true},
};

// Requests that take one integer after a blank.
const struct {
  const char* name;
  const char* command;
} kWrites[] = {
    {"SET_PROP_INPUTHI", "W0"},   {"SET_PROP_INPUTLO", "W1"},
    {"SET_PROP_BATTERYLO", "W2"}, {"SET_PROP_BATOUT", "W3"},
    {"SET_PROP_COLDSTART", "W4"}, {"CMD_SELFTEST", "C0"},
};

}  // namespace

// The snapshot's slots are filled by the commands that its DEV requests map
// to, so the mapping is read from the one table.
const char* StatusSnapshot::CommandOf(int32_t slot) {
  for (const DevEntry& entry : kReads) {
    if (entry.source == S::kSnapshot && entry.slot == slot) {
      return entry.command;
    }
  }
  return "";
}

int32_t MapDevRequest(const std::string& text, DevRequest* request) {
  for (const DevEntry& entry : kReads) {
    if (text != entry.name) continue;
    request->source = entry.source;
    request->form = entry.form;
    request->command = entry.command;
    request->snapshot_slot = entry.slot;
    request->cacheable = entry.cacheable;
    request->changes_unit = false;
    return 0;
  }
  size_t blank = text.find(' ');
  if (blank == std::string::npos) return 1;
  std::string name = text.substr(0, blank);
  for (const auto& write : kWrites) {
    if (name != write.name) continue;
    int32_t value = 0;
    if (!ParseWholeInt32(text.substr(blank + 1), &value)) return 4;
    request->source = DevRequest::Source::kAgent;
    request->form = DevRequest::Form::kNone;
    request->command = std::string(write.command) + " " + std::to_string(value);
    request->snapshot_slot = -1;
    request->cacheable = false;
    request->changes_unit = true;
    return 0;
  }
  return 1;
}
