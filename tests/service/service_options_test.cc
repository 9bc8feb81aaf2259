#include "service/service_options.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

bool Parse(const std::vector<const char*>& args, ServiceOptions* options,
           std::string* error) {
  return ParseServiceOptions(static_cast<int>(args.size()), args.data(),
                             options, error);
}

TEST(ServiceOptionsTest, ReadsEveryOptionInBothForms) {
  ServiceOptions options;
  std::string error;
  ASSERT_TRUE(Parse(
      {"--listen", "0.0.0.0:9000", "--allow-remote", "--agent=/opt/upsagent",
       "--state-dir", "/tmp/s", "--save-hooks", "/etc/hooks",
       "--shutdown-command", "systemctl poweroff", "--restore-after=0",
       "--notify-command=mail -s \"$KOVRA_EVENT_TEXT\" root",
       "--save-hooks-budget", "90"},
      &options, &error))
      << error;
  EXPECT_EQ("0.0.0.0", options.config.listen_host);
  EXPECT_EQ(9000, options.config.listen_port);
  EXPECT_TRUE(options.config.allow_remote);
  EXPECT_EQ("/opt/upsagent", options.agent_path);
  EXPECT_EQ("/tmp/s", options.state_dir);
  EXPECT_EQ("/etc/hooks", options.config.save_hooks_dir);
  EXPECT_EQ("systemctl poweroff", options.config.shutdown_command);
  EXPECT_EQ(0, options.config.restore_after_s);
  EXPECT_EQ("mail -s \"$KOVRA_EVENT_TEXT\" root", options.config.notify_command);
  EXPECT_EQ(90, options.config.save_hooks_budget_s);
}

TEST(ServiceOptionsTest, RejectsBadValues) {
  const std::vector<std::vector<const char*>> kBad = {
      {"--listen", "127.0.0.1"},
      {"--listen", "127.0.0.1:65536"},
      {"--listen", "127.0.0.1:-1"},
      {"--listen", ":8855"},
      {"--restore-after", "-5"},
      {"--restore-after", "86401"},
      {"--restore-after", "1e3"},
      {"--save-hooks-budget", "0"},
      {"--save-hooks-budget", "3601"},
      {"--state-dir"},
      {"--verbose"},
      {"extra"},
  };
  for (const auto& args : kBad) {
    ServiceOptions options;
    std::string error;
    EXPECT_FALSE(Parse(args, &options, &error)) << args[0];
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
