#include "tool/log_command.h"

#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "common/event_texts.h"
#include "tool/link/service_connection.h"
#include "tool/option_tables.h"
#include "tool/tool_options.h"
#include "tool/value_syntax.h"

namespace {

struct LogHeader {
  const char* title;
  const char* columns;
};
const LogHeader kHeaders[kLogCount] = {
    {"Event Log List :", "date       time     event description"},
    {"Saved Files List :", "program name\tsaved filename"},
    {"Data Record List :",
     "date       time     input output capacity load frequency "
     "temperature"}};

void PrintEntries(int32_t list, const std::vector<std::string>& page,
                  std::ostream& out) {
  for (auto it = page.rbegin(); it != page.rend(); ++it) {
    if (list == kLogEvents) {
      std::string line;
      if (FormatEventEntry(*it, &line)) out << line << std::endl;
    } else if (list == kLogStatusRecords) {
      out << FormatStatusRecord(*it) << std::endl;
    } else {
      out << *it << std::endl;
    }
  }
}

void ListLog(ServiceConnection* connection, int32_t list,
             const LogPagingLimits& limits, std::ostream& out) {
  int32_t key = 0;
  connection->LogKey(list, &key);
  bool first = true;
  int64_t entries = 0;
  for (int32_t pages = 0; pages < limits.max_pages; ++pages) {
    std::vector<std::string> page;
    int32_t next_key = key;
    connection->LogPrevious(list, key, &next_key, &page);
    if (first) {
      out << kHeaders[list].title << std::endl;
      out << kHeaders[list].columns << std::endl;
    }
    if (page.empty()) break;
    first = false;
    PrintEntries(list, page, out);
    entries += static_cast<int64_t>(page.size());
    if (entries >= limits.max_entries) break;
    key = next_key;
  }
  if (first) out << "content is empty." << std::endl;
  out << std::endl;
}

}  // namespace

bool FormatEventEntry(const std::string& entry, std::string* line) {
  size_t blank = entry.rfind(' ');
  if (blank == std::string::npos) return false;
  std::string code_text = entry.substr(blank + 1);
  int32_t code = -1;
  const bool known =
      ParseLeadingInteger(code_text, &code) && EventText(code) != nullptr;
  *line = entry.substr(0, blank + 1) + (known ? EventText(code) : code_text);
  return true;
}

std::string FormatStatusRecord(const std::string& entry) {
  std::istringstream stream(entry);
  std::string date, time;
  int32_t input = 0, output = 0, capacity = 0, load = 0, frequency = 0,
          temperature = 0;
  if (!(stream >> date >> time >> input >> output >> capacity >> load >>
        frequency >> temperature)) {
    return entry;
  }
  std::string rest;
  if (stream >> rest) return entry;
  std::ostringstream line;
  line << date << ' ' << time << ' ' << input / 100 << "V  " << output / 100
       << "V   " << capacity / 100 << "%      " << load / 100 << "%   "
       << frequency / 100 << '.' << std::abs((frequency % 100) / 10) << "Hz    "
       << temperature / 100 << 'C';
  return line.str();
}

void RunLog(const CommandContext& context, const LogPagingLimits& limits) {
  const ToolOptions& options = *context.options;
  ServiceConnection* connection = context.connection;
  if (options.log_erase != 0) {
    for (int32_t list = 0; list < kLogCount; ++list) {
      if ((options.log_erase & (1u << list)) != 0) connection->LogClear(list);
    }
    return;
  }
  for (int32_t list = 0; list < kLogCount; ++list) {
    if ((options.log_lists & (1u << list)) != 0) {
      ListLog(connection, list, limits, *context.out);
    }
  }
}
