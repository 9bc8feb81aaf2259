#pragma once

#include <string>

#include "tool/command_context.h"

// The log command: erases the logs named after -e, or pages through each
// named log, newest entries first, and prints it under its header.
void RunLog(const CommandContext& context);

// The printed form of one event-log entry: the text after its last blank is
// an event code and is replaced by that event's description. Codes without
// a description keep their text. False (nothing to print) for an entry
// without a blank.
bool FormatEventEntry(const std::string& entry, std::string* line);

// The printed form of one status record: a date, a time and six numbers in
// hundredths (input and output volts, capacity, load, frequency,
// temperature). A line of any other shape is printed unchanged.
std::string FormatStatusRecord(const std::string& entry);
