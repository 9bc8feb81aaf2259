#include "tool/option_tables.h"

#include <strings.h>

const char* const kCommandNames[kCommandCount] = {
    "status", "information", "log", "configure", "test", "help"};

const char* const kStatusOptionNames[kStatusOptionCount] = {
    "-t",          "-utility_state", "-charger_state", "-battery_state",
    "-input_volt", "-output_volt",   "-avr_level",     "-capacity",
    "-load",       "-frequency",     "-temperature",   "-backup_time"};

const char* const kItemOptionNames[kItemOptionCount] = {
    "-model",       "-version",         "-output_format",  "-battery_format",
    "-buzzer",      "-cold_start",      "-status_record",  "-shutdown",
    "-auto_save",   "-record_interval", "-shutdown_delay", "-poweroff_delay",
    "-port",        "-input_hi",        "-input_lo",       "-battery_lo",
    "-battery_out", "-event",           "-saved_file",     "-status"};

int32_t FindName(const char* const* table, int32_t count, const char* name) {
  if (name == nullptr) return -1;
  for (int32_t i = 0; i < count; ++i) {
    if (strcasecmp(table[i], name) == 0) return i;
  }
  return -1;
}
