#include "service/config_file.h"

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

// Parses text as the file "k.conf" into fresh defaults.
bool Parse(const std::string& text, ServiceOptions* options,
           std::string* error) {
  return ParseConfigText(text, "k.conf", options, error);
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

bool Load(const std::vector<const char*>& args, ServiceOptions* options,
          std::string* error) {
  return LoadServiceSettings(static_cast<int>(args.size()), args.data(),
                             options, error);
}

TEST(ConfigFileTest, ReadsEveryKeyOfEverySection) {
  const char kText[] =
      "# comment\n"
      "; another\n"
      "\n"
      "[kovrad]\n"
      "listen = 0.0.0.0:9000\n"
      "allow-remote = yes\n"
      "agent = /opt/kovra/upsagent\n"
      "state-dir = /srv/kovrad\n"
      "save-hooks = /etc/kovra/hooks\n"
      "shutdown-command = /sbin/shutdown -h now 'UPS battery'\n"
      "restore-after = 0\n"
      "notify-command = logger -t ups\n"
      "[nut]\n"
      "listen = [::1]:3494\n"
      "ups-name = rack-ups.1\n"
      "secondary-wait = 30\n"
      "[http]\n"
      "listen = 127.0.0.1:8080\n"
      "[user admin]\n"
      "password = s3cret;x\n"
      "upsmon = primary\n"
      "set = yes\n"
      "instcmds = all\n"
      "[user watcher]\n"
      "password = pw\n"
      "upsmon = none\n"
      "instcmds = beeper.toggle  test.battery.start\n";
  ServiceOptions options;
  std::string error;
  ASSERT_TRUE(Parse(kText, &options, &error)) << error;
  const ServiceConfig& config = options.config;
  EXPECT_EQ("0.0.0.0", config.listen_host);
  EXPECT_EQ(9000, config.listen_port);
  EXPECT_TRUE(config.allow_remote);
  EXPECT_EQ("/opt/kovra/upsagent", options.agent_path);
  EXPECT_EQ("/srv/kovrad", options.state_dir);
  EXPECT_EQ("/etc/kovra/hooks", config.save_hooks_dir);
  EXPECT_EQ("/sbin/shutdown -h now 'UPS battery'", config.shutdown_command);
  EXPECT_EQ(0, config.restore_after_s);
  EXPECT_EQ("logger -t ups", config.notify_command);
  EXPECT_TRUE(options.config.nut.listen.enabled);
  EXPECT_EQ("::1", options.config.nut.listen.host);
  EXPECT_EQ(3494, options.config.nut.listen.port);
  EXPECT_EQ("rack-ups.1", options.config.nut.ups_name);
  EXPECT_EQ(30, options.config.nut.secondary_wait_s);
  EXPECT_TRUE(options.config.http.listen.enabled);
  EXPECT_EQ("127.0.0.1", options.config.http.listen.host);
  EXPECT_EQ(8080, options.config.http.listen.port);

  ASSERT_EQ(2u, options.config.nut.users.size());
  const NutUser& admin = options.config.nut.users[0];
  EXPECT_EQ("admin", admin.name);
  EXPECT_EQ("s3cret;x", admin.password);  // no blank before ';': no comment
  EXPECT_TRUE(admin.may_monitor);
  EXPECT_TRUE(admin.primary);
  EXPECT_TRUE(admin.may_set);
  EXPECT_TRUE(admin.all_instcmds);
  const NutUser& watcher = options.config.nut.users[1];
  EXPECT_FALSE(watcher.may_monitor);
  EXPECT_FALSE(watcher.primary);
  EXPECT_FALSE(watcher.may_set);
  EXPECT_FALSE(watcher.all_instcmds);
  EXPECT_EQ((std::vector<std::string>{"beeper.toggle", "test.battery.start"}),
            watcher.instcmds);
}

TEST(ConfigFileTest, EmptyFileAndAbsentKeysKeepTheDefaults) {
  ServiceOptions options;
  std::string error;
  ASSERT_TRUE(Parse("", &options, &error)) << error;
  ASSERT_TRUE(Parse("[kovrad]\n[nut]\n\n", &options, &error)) << error;
  EXPECT_EQ("127.0.0.1", options.config.listen_host);
  EXPECT_EQ(8855, options.config.listen_port);
  EXPECT_EQ("/var/lib/kovrad", options.state_dir);
  // The binary never powers a machine off by itself: only the installed
  // configuration names the command.
  EXPECT_EQ("", options.config.shutdown_command);
  EXPECT_TRUE(options.config.nut.listen.enabled);
  EXPECT_EQ("127.0.0.1", options.config.nut.listen.host);
  EXPECT_EQ(3493, options.config.nut.listen.port);
  EXPECT_EQ("ups", options.config.nut.ups_name);
  EXPECT_EQ(15, options.config.nut.secondary_wait_s);
  EXPECT_FALSE(options.config.http.listen.enabled);
  EXPECT_TRUE(options.config.nut.users.empty());
}

TEST(ConfigFileTest, OffDisablesAListenerAndEmptyValuesClearCommands) {
  ServiceOptions options;
  options.config.shutdown_command = "poweroff";
  std::string error;
  ASSERT_TRUE(Parse("[kovrad]\nshutdown-command =\nsave-hooks=\n"
                    "[nut]\nlisten = off\n",
                    &options, &error))
      << error;
  EXPECT_EQ("", options.config.shutdown_command);
  EXPECT_FALSE(options.config.nut.listen.enabled);
}

TEST(ConfigFileTest, WindowsLineEndsAndAByteOrderMarkAreRead) {
  ServiceOptions options;
  std::string error;
  ASSERT_TRUE(Parse("\xEF\xBB\xBF[kovrad]\r\nrestore-after = 5\r\n", &options,
                    &error))
      << error;
  EXPECT_EQ(5, options.config.restore_after_s);
}

// Every fault names its file and line, and the reason.
TEST(ConfigFileTest, EveryKindOfFaultNamesItsLine) {
  const struct {
    const char* text;
    const char* message;
  } kCases[] = {
      {"[kovrad]\nlisten\n", "k.conf:2: expected [section], KEY = VALUE"},
      // libinih also takes ':' between key and value.
      {"[kovrad]\nlisten 127.0.0.1:1\n",
       "k.conf:2: unknown key listen 127.0.0.1 in [kovrad]"},
      {"\n[kovrad\n", "k.conf:2: expected [section]"},
      {"listen = 127.0.0.1:1\n", "k.conf:1: KEY = VALUE before the first"},
      {"[kovrad]\n\n[server]\n", "k.conf:3: unknown section [server]"},
      {"[nut]\nport = 3493\n", "k.conf:2: unknown key port in [nut]"},
      {"[kovrad]\nlisten = 1.2.3.4:70000\n", "k.conf:2: listen wants"},
      {"[kovrad]\nlisten = somehost:80\n", "k.conf:2: listen wants"},
      {"[kovrad]\nlisten = [::1]:8855\n", "k.conf:2: listen wants"},
      {"[kovrad]\nallow-remote = maybe\n", "k.conf:2: allow-remote wants"},
      {"[kovrad]\nstate-dir =\n", "k.conf:2: state-dir wants a folder"},
      {"[kovrad]\nrestore-after = 86401\n", "k.conf:2: restore-after wants"},
      {"[kovrad]\nrestore-after = -1\n", "k.conf:2: restore-after wants"},
      {"[kovrad]\nrestore-after = 1e3\n", "k.conf:2: restore-after wants"},
      {"[kovrad]\nrestore-after = 99999999999\n",
       "k.conf:2: restore-after wants"},
      {"[nut]\nsecondary-wait = 3601\n", "k.conf:2: secondary-wait wants"},
      {"[nut]\nlisten = [::1]\n", "k.conf:2: listen wants"},
      {"[nut]\nups-name = my ups\n", "k.conf:2: ups-name is letters"},
      {"[http]\nlisten = on\n", "k.conf:2: listen wants"},
      {"[kovrad]\nrestore-after = 1\n\nrestore-after = 2\n",
       "k.conf:4: restore-after given twice in [kovrad]"},
      // An indented line continues the value before it in libinih; that is
      // one more value for the key, not a longer command.
      {"[kovrad]\nshutdown-command = sync\n  poweroff\n",
       "k.conf:3: shutdown-command given twice"},
      {"[user a]\npassword = x\nupsmon = master\n",
       "k.conf:3: upsmon wants secondary, primary or none"},
      {"[user a]\npassword = x\nset = sometimes\n", "k.conf:3: set wants"},
      {"[user a]\npassword = x\ninstcmds = beeper.toggle; all\n",
       "k.conf:3: instcmds wants all or command names"},
      {"[user a]\npassword =\n", "k.conf:2: password must not be empty"},
      {"[user a]\npassword = x\nrole = admin\n",
       "k.conf:3: unknown key role in [user a]"},
      {"[kovrad]\n[user a]\nupsmon = primary\n",
       "k.conf:2: [user a] has no password"},
      {"[user a]\n", "k.conf:1: [user a] has no password"},
      {"[user]\npassword = x\n", "k.conf:1: unknown section [user]"},
      {"[user a b]\npassword = x\n", "k.conf:1: a user name is"},
      {"[user a]\npassword = x\n[user a]\n", "k.conf:3: [user a] appears twice"},
  };
  for (const auto& test_case : kCases) {
    ServiceOptions options;
    std::string error;
    EXPECT_FALSE(Parse(test_case.text, &options, &error)) << test_case.text;
    EXPECT_EQ(0u, error.find(test_case.message))
        << "text:\n" << test_case.text << "error: " << error;
  }
}

TEST(ConfigFileTest, FirstFaultIsReportedWhenThereAreSeveral) {
  ServiceOptions options;
  std::string error;
  EXPECT_FALSE(Parse("[kovrad]\nlisten = x\nnot a pair\n[bad]\n", &options,
                     &error));
  EXPECT_EQ(0u, error.find("k.conf:2: listen wants")) << error;
  EXPECT_FALSE(Parse("[kovrad]\nnot a pair\nlisten = x\n", &options, &error));
  EXPECT_EQ(0u, error.find("k.conf:2: expected")) << error;
}

// libinih takes " ;..." for a comment and drops it; a shutdown command cut
// short that way would only half run.
TEST(ConfigFileTest, NoSilentlyTruncatedValueAtAnInlineComment) {
  ServiceOptions options;
  std::string error;
  EXPECT_FALSE(Parse("[kovrad]\nshutdown-command = sync ; poweroff\n",
                     &options, &error));
  EXPECT_EQ(0u, error.find("k.conf:2: a ';' after a blank starts a comment"))
      << error;
  EXPECT_EQ("", options.config.shutdown_command);
}

// libinih cuts lines at 200 bytes and section names at 50; neither may turn
// into a shorter value or another user.
TEST(ConfigFileTest, NoSilentlyCutLongLineOrSectionName) {
  ServiceOptions options;
  std::string error;
  std::string long_command(250, 'x');
  EXPECT_FALSE(Parse("[kovrad]\n\nshutdown-command = " + long_command +
                         "\nrestore-after = 1\n",
                     &options, &error));
  EXPECT_EQ(0u, error.find("k.conf:3: the line is longer than 198")) << error;

  std::string long_name(60, 'u');
  EXPECT_FALSE(Parse("[user " + long_name + "]\npassword = x\n", &options,
                     &error));
  EXPECT_EQ(0u, error.find("k.conf:1: section name longer than")) << error;
}

TEST(ConfigFileTest, NoNulByteHidesTheRestOfALine) {
  ServiceOptions options;
  std::string error;
  std::string text = "[kovrad]\nshutdown-command = sync";
  text += '\0';
  text += "; poweroff\n";
  EXPECT_FALSE(Parse(text, &options, &error));
  EXPECT_EQ(0u, error.find("k.conf:2: the line holds a NUL byte")) << error;
}

TEST(ConfigFileTest, MissingFileIsFineOnlyWhenNotNamed) {
  TempDir dir;
  ServiceOptions options;
  std::string error;
  EXPECT_TRUE(ReadConfigFile(dir.Join("none.conf"), false, &options, &error));
  EXPECT_FALSE(ReadConfigFile(dir.Join("none.conf"), true, &options, &error));
  EXPECT_NE(std::string::npos, error.find("none.conf")) << error;
  // A folder is not a file, named or not.
  EXPECT_FALSE(ReadConfigFile(dir.path(), false, &options, &error));
}

TEST(ConfigFileTest, CommandLineWinsOverTheFile) {
  TempDir dir;
  std::string path = dir.Join("kovrad.conf");
  WriteFile(path,
            "[kovrad]\nlisten = 127.0.0.2:9001\nstate-dir = /srv/from-file\n"
            "shutdown-command = systemctl poweroff\nrestore-after = 30\n"
            "[nut]\nlisten = 127.0.0.1:4000\n[http]\nlisten = 127.0.0.1:80\n");
  ServiceOptions options;
  std::string error;
  ASSERT_TRUE(Load({"--config", path.c_str(), "--listen=127.0.0.3:9002",
                    "--shutdown-command", "", "--nut-listen", "off",
                    "--notify-command", "true"},
                   &options, &error))
      << error;
  EXPECT_EQ("127.0.0.3", options.config.listen_host);
  EXPECT_EQ(9002, options.config.listen_port);
  EXPECT_EQ("", options.config.shutdown_command);
  EXPECT_FALSE(options.config.nut.listen.enabled);
  EXPECT_EQ("true", options.config.notify_command);
  // What the command line leaves alone comes from the file.
  EXPECT_EQ("/srv/from-file", options.state_dir);
  EXPECT_EQ(30, options.config.restore_after_s);
  EXPECT_TRUE(options.config.http.listen.enabled);
  EXPECT_EQ(path, options.config_path);
}

TEST(ConfigFileTest, NamedConfigMustExistAndAFaultyOneStopsTheLoad) {
  TempDir dir;
  ServiceOptions options;
  std::string error;
  std::string missing = dir.Join("missing.conf");
  EXPECT_FALSE(Load({"--config", missing.c_str()}, &options, &error));
  std::string bad = dir.Join("bad.conf");
  WriteFile(bad, "[kovrad]\n\nlisten = nowhere\n");
  EXPECT_FALSE(Load({"--config", bad.c_str()}, &options, &error));
  EXPECT_EQ(bad + ":3: listen wants IPV4-ADDRESS:PORT, not 'nowhere'", error);
  // A bad command line is refused before any file is read.
  EXPECT_FALSE(Load({"--config", bad.c_str(), "--restore-after", "x"},
                    &options, &error));
  EXPECT_EQ(0u, error.find("--restore-after")) << error;
}

TEST(ConfigFileTest, FormatShowsTheSettingsButNoPassword) {
  ServiceOptions options;
  std::string error;
  ASSERT_TRUE(Parse("[nut]\nlisten = [::1]:3493\n[user a]\npassword = hunter2\n"
                    "upsmon = primary\ninstcmds = a.b c.d\n",
                    &options, &error))
      << error;
  std::string text = FormatSettings(options);
  EXPECT_EQ(std::string::npos, text.find("hunter2")) << text;
  EXPECT_NE(std::string::npos, text.find("[nut]\nlisten = [::1]:3493\n"));
  EXPECT_NE(std::string::npos,
            text.find("[user a]\n# password set\nupsmon = primary\nset = no\n"
                      "instcmds = a.b c.d\n"))
      << text;
}

TEST(ConfigFileTest, FormattedSettingsReadBackTheSame) {
  ServiceOptions options;
  std::string error;
  ASSERT_TRUE(Parse("[kovrad]\nlisten = 127.0.0.5:1\nrestore-after = 7\n"
                    "shutdown-command = systemctl poweroff\n"
                    "[http]\nlisten = 127.0.0.1:8080\n",
                    &options, &error))
      << error;
  std::string text = FormatSettings(options);
  ServiceOptions again;
  ASSERT_TRUE(Parse(text, &again, &error)) << error << "\n" << text;
  EXPECT_EQ(text, FormatSettings(again));
}

// Found by fuzzing: "state-dir:;x" is a value starting with ';', which
// --check-config printed as "state-dir = ;x", where the ';' after the blank
// reads as a comment and the printed settings were refused.
TEST(ConfigFileTest, ValueStartingWithASemicolonPrintsSoItReadsBack) {
  ServiceOptions options;
  std::string error;
  ASSERT_TRUE(Parse("[kovrad]\nstate-dir:;x\nnotify-command=;logger a\n",
                    &options, &error))
      << error;
  EXPECT_EQ(";x", options.state_dir);
  std::string text = FormatSettings(options);
  ServiceOptions again;
  ASSERT_TRUE(Parse(text, &again, &error)) << error << "\n" << text;
  EXPECT_EQ(";x", again.state_dir);
  EXPECT_EQ(";logger a", again.config.notify_command);
  EXPECT_EQ(text, FormatSettings(again));
}

}  // namespace
