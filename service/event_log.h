#pragma once

#include <cstdint>
#include <string>

class LogStore;

// "YYYY/MM/DD HH:MM:SS" in local time, the stamp of event log entries and
// status records.
std::string LocalTimeText();

// Writes the event to the diagnostics and, when logs is not null, appends
// "stamp code" to the event log.
void RecordEvent(LogStore* logs, int32_t code);
