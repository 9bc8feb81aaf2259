#include "service/shutdown_plan.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service/parameter_store.h"
#include "tests/support/file_text.h"
#include "tests/support/temp_dir.h"

namespace {

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST(ShutdownPlanTest, StepsAndTimelineFollowTheSettingsInOrder) {
  ParameterStore params(nullptr);
  ASSERT_EQ(0, params.Set(ParameterSpace::kPtc, kKeyPowerfailMaxCount, "1"));
  ASSERT_EQ(0, params.Set(ParameterSpace::kPtc, kKeyPowerfailDelay, "30"));
  ASSERT_EQ(0, params.Set(ParameterSpace::kPol, kKeyAutoSave, "1"));
  ASSERT_EQ(0, params.Set(ParameterSpace::kPol, kKeyShutdownDelay, "120"));
  ServiceConfig config;
  config.save_hooks_dir = "/etc/kovrad/save-hooks";
  config.hook_timeout_ms = 20000;
  config.save_hooks_budget_s = 30;
  config.restore_after_s = 60;
  config.shutdown_command = "systemctl poweroff";
  std::string text = Joined(DescribeShutdownPlan(
      config, params,
      {"/etc/kovrad/save-hooks/10-a", "/etc/kovrad/save-hooks/20-b"}));
  EXPECT_TRUE(Contains(text, "is on")) << text;
  size_t begins = text.find("the shutdown begins after 30 s");
  size_t hooks = text.find("1. the save hooks");
  size_t others = text.find("2. beside the hooks, other hosts");
  size_t ups = text.find("3. the UPS is told to switch its output off 120 s");
  size_t command =
      text.find("4. the shutdown command runs: systemctl poweroff");
  ASSERT_NE(std::string::npos, begins) << text;
  EXPECT_TRUE(begins < hooks && hooks < others && others < ups && ups < command)
      << text;
  EXPECT_TRUE(
      Contains(text, "each stopped after 20 s, all together after 30 s"))
      << text;
  EXPECT_TRUE(Contains(text, "/etc/kovrad/save-hooks/20-b")) << text;
  EXPECT_TRUE(Contains(text, "back on 60 s")) << text;
  // Two hooks of 20 s are cut to the 30 s budget, which outlasts the 15 s
  // for other hosts: told at 30 + 30, off 120 s after that.
  EXPECT_TRUE(Contains(text, "UPS told at 60 s, UPS output off at 180 s"))
      << text;
  EXPECT_FALSE(Contains(text, "warning")) << text;
}

TEST(ShutdownPlanTest, SaysWhatIsOffAndWarnsOfAShortUpsDelay) {
  ParameterStore params(nullptr);
  ASSERT_EQ(0, params.Set(ParameterSpace::kPol, kKeyShutdownDelay, "10"));
  ServiceConfig config;
  // On in a new database: the plan says so.
  std::string text = Joined(DescribeShutdownPlan(config, params, {}));
  EXPECT_TRUE(Contains(text, "shutdown on power failure is on")) << text;
  ASSERT_EQ(0, params.Set(ParameterSpace::kPtc, kKeyPowerfailMaxCount, "0"));
  text = Joined(DescribeShutdownPlan(config, params, {}));
  EXPECT_TRUE(Contains(text, "shutdown on power failure is off")) << text;
  EXPECT_TRUE(Contains(text, "no save hooks (no --save-hooks folder)")) << text;
  EXPECT_TRUE(Contains(text, "no shutdown command")) << text;
  EXPECT_TRUE(Contains(text, "warning: the UPS switches off only 10 s"))
      << text;
}

TEST(ShutdownPlanTest, ListsExecutableHooksInNameOrder) {
  TempDir dir;
  const char* const kNames[] = {"20-b", "10-a", "30-off", ".hidden"};
  for (const char* name : kNames) {
    FILE* file = std::fopen(dir.Join(name).c_str(), "w");
    ASSERT_NE(nullptr, file);
    std::fclose(file);
    chmod(dir.Join(name).c_str(), std::string(name) == "30-off" ? 0644 : 0755);
  }
  EXPECT_EQ((std::vector<std::string>{dir.Join("10-a"), dir.Join("20-b")}),
            ListSaveHooks(dir.path()));
  EXPECT_TRUE(ListSaveHooks(dir.Join("missing")).empty());
}

}  // namespace
