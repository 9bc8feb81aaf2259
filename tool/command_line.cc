#include "tool/command_line.h"

#include <strings.h>

#include <string>

#include "tool/value_syntax.h"

namespace {

void PrintLine(std::ostream& out, const std::string& line) {
  out << line << std::endl;
}

bool ParseStatusOptions(int argc, const char* const* argv, ToolOptions* options,
                        std::ostream& out) {
  for (int i = 2; i < argc; ++i) {
    int32_t row = FindName(kStatusOptionNames, kStatusOptionCount, argv[i]);
    if (row < 0) {
      PrintLine(out, std::string("the status paramenter : ") + argv[i] +
                         " is not acceptable.");
      return false;
    }
    if (row != kStatusRepeat) {
      options->status_items |= 1u << row;
      continue;
    }
    if (i + 1 >= argc) {
      options->status_repeat_seconds = 3;
      continue;
    }
    ++i;
    if (!ParseDecimal(argv[i], &options->status_repeat_seconds)) {
      PrintLine(out,
                "the status -t need a positive digital number to indicate "
                "repeat second.");
      return false;
    }
  }
  return true;
}

bool ParseInformationOptions(int argc, const char* const* argv,
                             ToolOptions* options, std::ostream& out) {
  for (int i = 2; i < argc; ++i) {
    int32_t row = FindName(kItemOptionNames, kItemOptionCount, argv[i]);
    if (row < 0 || row > kLastSettingRow) {
      PrintLine(out, std::string("the information paramenter : ") + argv[i] +
                         " is not acceptable.");
      return false;
    }
    options->information_items |= 1u << row;
  }
  return true;
}

bool ParseLogOptions(int argc, const char* const* argv, ToolOptions* options,
                     std::ostream& out) {
  if (argc < 3) {
    options->command = kCommandHelp;
    options->help_topic = kCommandLog;
    return true;
  }
  bool erase_seen = false;
  for (int i = 2; i < argc; ++i) {
    if (strcasecmp(argv[i], "-e") == 0) {
      if (!erase_seen && options->log_lists != 0) {
        PrintLine(out,
                  "the event_log, data_record or saved_file must be follow "
                  "by -e.");
        return false;
      }
      erase_seen = true;
      continue;
    }
    int32_t row = FindName(kItemOptionNames, kItemOptionCount, argv[i]);
    if (row < kItemEvent) {
      PrintLine(out, std::string("the log parameter : ") + argv[i] +
                         " is not acceptable.");
      return false;
    }
    uint32_t bit = 1u << (row - kItemEvent);
    if (erase_seen) {
      options->log_erase |= bit;
    } else {
      options->log_lists |= bit;
    }
  }
  return true;
}

bool IsOnOffRow(int32_t row) {
  return row >= kItemBuzzer && row <= kItemAutoSave;
}

bool IsDurationRow(int32_t row) {
  return row >= kItemRecordInterval && row <= kItemPoweroffDelay;
}

bool ParseConfigureOptions(int argc, const char* const* argv,
                           ToolOptions* options, std::ostream& out) {
  if (argc < 3) {
    options->command = kCommandHelp;
    options->help_topic = kCommandConfigure;
    return true;
  }
  for (int i = 2; i < argc; ++i) {
    int32_t row = FindName(kItemOptionNames, kItemOptionCount, argv[i]);
    if (row < kFirstSettingRow || row > kLastSettingRow) {
      PrintLine(out, std::string("the configure paramenter : ") + argv[i] +
                         " is not acceptable.");
      return false;
    }
    const char* value = (i + 1 < argc) ? argv[++i] : nullptr;
    std::string prefix = std::string("the configure ") + kItemOptionNames[row];
    int32_t parsed = 0;
    if (row == kItemPort) {
      if (value == nullptr) return false;
      std::string name(value);
      if (name.size() > kMaxPortNameLength) {
        PrintLine(out, prefix + " require a port name of at most " +
                           std::to_string(kMaxPortNameLength) + " characters.");
        return false;
      }
      options->port_name = name;
    } else if (IsOnOffRow(row)) {
      if (!ParseOnOff(value, &parsed)) {
        PrintLine(out, prefix + " require value of \"on\" or \"off\".");
        return false;
      }
    } else if (IsDurationRow(row)) {
      if (!ParseDuration(value, &parsed)) {
        PrintLine(out, prefix +
                           " require positive digital number to indicate "
                           "seconds or use ':' to separate "
                           "hour,minute,second.");
        return false;
      }
    } else if (!ParseDecimal(value, &parsed)) {
      PrintLine(out, prefix + " require positive digital number.");
      return false;
    }
    options->setting_values[row] = parsed;
    options->setting_given[row] = true;
  }
  return true;
}

bool ParseTestOptions(int argc, const char* const* argv, ToolOptions* options,
                      std::ostream& out) {
  if (argc < 3) return true;
  const char* option = argv[2];
  if (strcasecmp(option, "-t") == 0) {
    if (argc < 4 || !ParseDecimal(argv[3], &options->test_seconds)) {
      PrintLine(out,
                "the test -t need a positive digital number to indicate "
                "repeat second.");
      return false;
    }
    return true;
  }
  if (strcasecmp(option, "-c") == 0) {
    options->test_seconds = -1;
    return true;
  }
  PrintLine(out, std::string("the test paramenter : ") + option +
                     " is not acceptable.");
  return false;
}

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, ToolOptions* options,
                      std::ostream& out) {
  int32_t command =
      argc < 2 ? -1 : FindName(kCommandNames, kCommandCount, argv[1]);
  if (command < 0) {
    PrintLine(out, "this command's instruction is :");
    PrintLine(out, "");
    PrintLine(out,
              "kovra [status | information | log | configure | test | help]");
    PrintLine(out, "");
    return false;
  }
  options->command = command;
  switch (command) {
    case kCommandStatus:
      return ParseStatusOptions(argc, argv, options, out);
    case kCommandInformation:
      return ParseInformationOptions(argc, argv, options, out);
    case kCommandLog:
      return ParseLogOptions(argc, argv, options, out);
    case kCommandConfigure:
      return ParseConfigureOptions(argc, argv, options, out);
    case kCommandTest:
      return ParseTestOptions(argc, argv, options, out);
    default:
      if (argc >= 3) {
        int32_t topic = FindName(kCommandNames, kCommandCount, argv[2]);
        if (topic >= 0) options->help_topic = topic;
      }
      return true;
  }
}

void PrintPleaseUse(const ToolOptions& options, std::ostream& out) {
  out << "please use \"kovra help";
  if (options.command >= 0 && options.command < kCommandCount) {
    out << ' ' << kCommandNames[options.command];
  }
  out << "\" to get more detail." << std::endl;
}
