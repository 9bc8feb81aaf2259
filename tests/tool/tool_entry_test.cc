#include "tool/tool_entry.h"

#include <gtest/gtest.h>

#include "tests/tool/tool_test_base.h"
#include "tool/help_texts.h"

namespace {

class ToolEntryTest : public ToolTestBase {};

TEST_F(ToolEntryTest, ParseFailureStopsBeforeConnecting) {
  EXPECT_EQ(255, Run({"status", "-bogus"}));
  EXPECT_EQ(Lines({"the status paramenter : -bogus is not acceptable.",
                   "please use \"kovra help status\" to get more detail."}),
            output());
  EXPECT_TRUE(all_requests().empty());
}

TEST_F(ToolEntryTest, RefusedConnectionStopsTheRun) {
  ScriptedPeer gone;
  ASSERT_TRUE(gone.Start());
  gone.Stop();  // nothing listens on its port any more
  ServiceConnection connection;
  ToolTarget target{&connection, "127.0.0.1", gone.port(), &out_, &clock_};
  Argv argv({"help"});
  EXPECT_EQ(255, RunTool(argv.count(), argv.data(), target));
  EXPECT_EQ("can't connect with UPS service.\n", output());
}

TEST_F(ToolEntryTest, RefusedLoginStopsTheRun) {
  Fail("USR NAME manager", 3);
  EXPECT_EQ(255, Run({"help"}));
  EXPECT_EQ("login error : 3.\n", output());
  EXPECT_EQ(Strings{"USR NAME manager"}, all_requests());
  Clear();
  Answer("USR NAME manager", "OK");
  Answer("USR PASS quiet gate", "ERR x");
  EXPECT_EQ(255, Run({"test"}));
  EXPECT_EQ("login error : 22.\n", output());
  EXPECT_EQ((Strings{"USR NAME manager", "USR PASS quiet gate"}),
            all_requests());
}

TEST_F(ToolEntryTest, HelpLogAndConfigureShowTheirTextAfterLogin) {
  const std::pair<Strings, int32_t> cases[] = {
      {{"HELP", "Configure"}, kCommandConfigure},
      {{"configure"}, kCommandConfigure},
      {{"log"}, kCommandLog}};
  for (const auto& [args, topic] : cases) {
    Clear();
    std::ostringstream help;
    PrintHelp(topic, help);
    EXPECT_EQ(help.str(), RunOk(args));
    EXPECT_EQ((Strings{"USR NAME manager", "USR PASS quiet gate"}),
              all_requests());
  }
}

}  // namespace
