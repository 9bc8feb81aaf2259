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

TEST(ServiceOptionsTest, ReadsTheConfigurationAndFrontEndOptions) {
  ServiceOptions options;
  EXPECT_EQ(std::string(DefaultConfigPath()), options.config_path);
  EXPECT_FALSE(options.config_given);
  std::string error;
  ASSERT_TRUE(Parse({"--config=/srv/k.conf", "--check-config", "--nut-listen",
                     "off", "--http-listen", "[::1]:8080", "--notify-command",
                     "logger ups"},
                    &options, &error))
      << error;
  EXPECT_EQ("/srv/k.conf", options.config_path);
  EXPECT_TRUE(options.config_given);
  EXPECT_TRUE(options.check_config);
  EXPECT_FALSE(options.config.nut.listen.enabled);
  EXPECT_TRUE(options.config.http.listen.enabled);
  EXPECT_EQ("::1", options.config.http.listen.host);
  EXPECT_EQ(8080, options.config.http.listen.port);
  EXPECT_EQ("logger ups", options.config.notify_command);
}

TEST(ServiceOptionsTest, RejectsBadValues) {
  const std::vector<std::vector<const char*>> kBad = {
      {"--listen", "127.0.0.1"},
      {"--listen", "127.0.0.1:65536"},
      {"--listen", "127.0.0.1:-1"},
      {"--listen", ":8855"},
      {"--http-listen", "127.0.0.1"},
      {"--http-listen", "127.0.0.1:80x"},
      {"--restore-after", "-5"},
      {"--restore-after", "86401"},
      {"--restore-after", "1e3"},
      {"--save-hooks-budget", "0"},
      {"--save-hooks-budget", "3601"},
      {"--listen", "ups.local:8855"},
      {"--nut-listen", "on"},
      {"--nut-listen", "[::1]"},
      {"--http-listen", "::1:80"},
      {"--config", ""},
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

TEST(ServiceOptionsTest, NutListenerAndUsers) {
  ServiceOptions options;
  std::string error;
  EXPECT_TRUE(options.config.nut.listen.enabled);
  ASSERT_TRUE(
      Parse({"--nut-listen", "off", "--nut-user",
             "admin:pa:ss:primary,set,shutdown.stop", "--nut-user=mon:x:"},
            &options, &error))
      << error;
  EXPECT_FALSE(options.config.nut.listen.enabled);
  ASSERT_EQ(2u, options.config.nut.users.size());
  const NutUser& admin = options.config.nut.users[0];
  EXPECT_EQ("admin", admin.name);
  EXPECT_EQ("pa:ss", admin.password);  // a password may hold colons
  EXPECT_TRUE(admin.primary);
  EXPECT_TRUE(admin.may_set);
  EXPECT_FALSE(admin.all_instcmds);
  EXPECT_EQ(std::vector<std::string>{"shutdown.stop"}, admin.instcmds);
  EXPECT_TRUE(options.config.nut.users[1].may_monitor);
  EXPECT_FALSE(options.config.nut.users[1].primary);

  for (const char* bad : {"nopassword", ":pw:", "u:pw:root"}) {
    ServiceOptions other;
    EXPECT_FALSE(Parse({"--nut-user", bad}, &other, &error)) << bad;
    // The refusal does not repeat what may be a password.
    EXPECT_EQ(std::string::npos, error.find("pw")) << error;
  }
  ServiceOptions other;
  EXPECT_FALSE(Parse({"--nut-listen", "3493"}, &other, &error));
}

TEST(ServiceOptionsTest, HttpIsOffUnlessListenGiven) {
  ServiceOptions options;
  std::string error;
  ASSERT_TRUE(Parse({}, &options, &error)) << error;
  EXPECT_FALSE(options.config.http.listen.enabled);
  ASSERT_TRUE(Parse({"--http-listen=127.0.0.1:9100"}, &options, &error));
  EXPECT_TRUE(options.config.http.listen.enabled);
  EXPECT_EQ("127.0.0.1", options.config.http.listen.host);
  EXPECT_EQ(9100, options.config.http.listen.port);
}

}  // namespace
