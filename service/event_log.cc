#include "service/event_log.h"

#include <ctime>

#include "service/diagnostics.h"
#include "service/event_detector.h"
#include "service/log_store.h"

// Written with the C library alone: the service keeps out of the stream and
// locale machinery so that little of the C++ runtime stays resident.
std::string LocalTimeText() {
  time_t now = time(nullptr);
  struct tm fields;
  char text[32] = "1970/01/01 00:00:00";
  if (localtime_r(&now, &fields) != nullptr) {
    strftime(text, sizeof(text), "%Y/%m/%d %H:%M:%S", &fields);
  }
  return text;
}

void RecordEvent(LogStore* logs, int32_t code) {
  const char* text = EventText(code);
  DiagAt(EventDiagLevel(code), "event %d: %s", code,
         text != nullptr ? text : "");
  if (logs != nullptr &&
      !logs->Append(kEventLog, LocalTimeText() + " " + std::to_string(code))) {
    Diag("cannot store event %d", code);
  }
}
