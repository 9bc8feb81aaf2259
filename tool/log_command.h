#pragma once

#include <cstdint>
#include <string>

#include "tool/command_context.h"

// How far one list is paged at most. Paging ends at the first empty page;
// these bounds end it as well against a service that keeps handing out new
// keys or the same one, so that the command always ends. They lie far above
// what kovrad keeps (at most 100,000 status records, 40 to a page: 2,500
// pages), so a list of a service that pages correctly is never cut short.
struct LogPagingLimits {
  int32_t max_pages = 100000;
  // The list ends after the page that brings the shown entries to this.
  int64_t max_entries = 1000000;
};

// The log command: erases the logs named after -e, or pages through each
// named log, newest entries first, and prints it under its header.
void RunLog(const CommandContext& context,
            const LogPagingLimits& limits = LogPagingLimits());

// The printed form of one event-log entry: the text after its last blank is
// an event code and is replaced by that event's description. Codes without
// a description keep their text. False (nothing to print) for an entry
// without a blank.
bool FormatEventEntry(const std::string& entry, std::string* line);

// The printed form of one status record: a date, a time and six numbers in
// hundredths (input and output volts, capacity, load, frequency,
// temperature). A line of any other shape is printed unchanged.
std::string FormatStatusRecord(const std::string& entry);
