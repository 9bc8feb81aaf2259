#include "tool/help_texts.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tool/option_tables.h"

namespace {

// The texts as users see them.
const char* const kGeneralHelp = R"TEXT(Command : kovra [options] ...
description :
  the kovra command allows users to monitor and to control UPS services and devices.
  use the "kovra help [options]" to read detail explanation of each options.
options :
  status, to display the current status of UPS.
  information, to display UPS information and configurations.
  log, to display log list.
  configure, to set UPS configurations.
  test, to perform UPS selftest.
  help, to provide detail contents of options.
)TEXT";

const char* const kStatusHelp = R"TEXT(Command : kovra status [options]
description :
 to display current UPS status. If options are not specifically entered, all status info od each option will be shown.
options :
  -t sec, it will repeatedly poll the UPS status until you press Ctrl-C; the "sec" indicates the status polling rate.
  -utility_state, to display the utility condition(normal/fail).
  -charger_state, to display the output condition(discharging/charging/bypass).
  -battery_state, to display the battery condition(normal/critical low).
  -input_volt, to display utility power voltage.
  -output_volt, to display output voltage.
  -avr_level, to display AVR level(normal/buck/boost).
  -capacity, to display battery capacity.
  -load, to display total capacity of loads.
  -frequency, to display output frequency.
  -temperature, to display UPS inside temperature.
  -backup_time, to display UPS backup time in battery mode.
)TEXT";

const char* const kInformationHelp =
    R"TEXT(Command : kovra information [options]
description :
  to display UPS services, device information and configuration. if options are not specifically entered, all items will be shown
  All current settings are marked by [] among exhibited data.
options :
  -model, to display UPS model name.
  -version, to display UPS unit version.
  -output_format, to display UPS ouput system information including voltage, frequency, VA, and Watt.
  -battery_format, to display UPS battery system information including AH, internal count, and external count.
  -input_hi, to display configuration of high input voltage.
  -input_lo, to display configuration of low input voltage.
  -battery_lo, to display battery critical configuration.
  -battery_out, to display output voltage in battery mode.
  -cold_start, to display cold start setting.
  -buzzer, to display buzzer setting.
  -auto_save, to display setting of auto save function.
  -status_record, to display setting of status record function(on, off).
  -record_interval, to display data record interval.
  -port, to display all configurable communication ports setting.
  -shutdown, to display the setting of shutdown function (on, off)
  -shutdown_delay, to display the length of delay time in sec before UPS performing computer shutdown and auto file save.
  -poweroff_delay, to display the length of delay time in sec before UPS turn off.
)TEXT";

const char* const kLogHelp = R"TEXT(Command : kovra log [options]
description :
 to list or erase(with -e) the UPS log data specified by options.
options :
  -e, to erase log listing.
  -event, enable to list event log.
  -saved_file, enable to list auto saved files.
  -status, enable to list status record list.
)TEXT";

const char* const kConfigureHelp = R"TEXT(Command : kovra configure [options]
description :
  to allow users to configure UPS services and unit.
  only the items shown in the "kovra informaion [options]" section can be configured.
options :
  -cold_start on|off, to enable or disable the UPS cold start function.
  -buzzer on|off, to enable or disable UPS buzzer.
  -status_record on|off, to enable or disable status record function.
  -auto_save on|off, to enable to disable the auto save function
  -record_interval [hour:][minute:]second, to set status record interval, the value of second must be assigned; the values of hour and minute are optional.
  -port dev, to set communication port, value of "dev" should be from one of "kovra information -port" list.
  -shutdown on|off, to enable or disable shutdown function when power fails.
  -shutdown_delay [hour:][minute:]second, to set shutdown delay time(the value of second must be assigned; the values of hour and minute are optional) after power fails.
  -poweroff_delay [hour:][minute:]second, to set delay time(the value of second must be assigned; the values of hour and minute are optional) before UPS powers off.
  -input_hi volts, to set voltage(value of "volts") for high input voltage.
  -input_lo volts, to set voltage(value of "volts") for low input voltage.
  -battery_lo percent, to set percentage of critical capacity of battery (value of "percent").
  -battery_out volts, to set output voltage of battery mode (value of "volts").
)TEXT";

const char* const kTestHelp = R"TEXT(Command : kovra test [options]
description :
  to do UPS self test. If there are no specified options, UPS will do selftest within 10 seconds.
options :
  -t sec, to indicate the testing period of time(value of "sec").
  -c : to cancel current UPS testing.
)TEXT";

const char* const kHelpHelp = R"TEXT(Command : kovra help [options]
description :
  to display all detailed instruction under each options.
  the options includes status, information, log, configure, test, help.
)TEXT";

std::string Help(int32_t topic) {
  std::ostringstream out;
  PrintHelp(topic, out);
  return out.str();
}

TEST(HelpTextsTest, EachCommandHasItsText) {
  EXPECT_EQ(kStatusHelp, Help(kCommandStatus));
  EXPECT_EQ(kInformationHelp, Help(kCommandInformation));
  EXPECT_EQ(kLogHelp, Help(kCommandLog));
  EXPECT_EQ(kConfigureHelp, Help(kCommandConfigure));
  EXPECT_EQ(kTestHelp, Help(kCommandTest));
  EXPECT_EQ(kHelpHelp, Help(kCommandHelp));
}

TEST(HelpTextsTest, AnyOtherTopicGetsTheGeneralText) {
  for (int32_t topic : {-1, -2, 6, 99}) {
    EXPECT_EQ(kGeneralHelp, Help(topic)) << topic;
  }
}

}  // namespace
