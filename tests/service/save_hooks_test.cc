#include "service/save_hooks.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

class SaveHooksTest : public ::testing::Test {
 protected:
  void Hook(const std::string& name, const std::string& body,
            mode_t mode = 0755) {
    FILE* file = std::fopen(dir_.Join(name).c_str(), "w");
    ASSERT_NE(nullptr, file);
    std::fprintf(file, "#!/bin/sh\n%s\n", body.c_str());
    std::fclose(file);
    chmod(dir_.Join(name).c_str(), mode);
  }

  TempDir dir_;
};

TEST_F(SaveHooksTest, CollectsSavedFileLinesInHookOrder) {
  Hook("20-db", "printf 'db\\t/var/backups/db.sql\\r\\n'");
  Hook("10-editor",
       "printf 'editor\\t/home/a/notes.txt\\n'\n"
       "echo 'not a saved-file line'\n"
       "printf '\\tno program\\n'\n"
       "printf 'editor\\t/home/a/todo.txt'");
  Hook("30-off", "echo 'off\tnever'", 0644);  // not executable
  SaveHookResult result = RunSaveHooks(dir_.path(), 5000, 100);
  EXPECT_EQ((std::vector<std::string>{"editor\t/home/a/notes.txt",
                                      "editor\t/home/a/todo.txt",
                                      "db\t/var/backups/db.sql"}),
            result.saved);
  EXPECT_EQ(2u, result.diagnostics.size());

  result = RunSaveHooks(dir_.Join("none"), 1000, 10);
  EXPECT_TRUE(result.saved.empty());
  EXPECT_EQ(1u, result.diagnostics.size());
}

TEST_F(SaveHooksTest, HookThatHangsIsStoppedAndLinesAreBounded) {
  Hook("10-many",
       "i=0; while [ $i -lt 50 ]; do printf 'p\\tf%d\\n' $i; "
       "i=$((i+1)); done");
  Hook("20-hang", "printf 'late\\tfile\\n'; exec sleep 60");
  SaveHookResult result = RunSaveHooks(dir_.path(), 2000, 10);
  EXPECT_EQ(10u, result.saved.size());
  bool stopped = false;
  for (const std::string& line : result.diagnostics) {
    stopped = stopped || line.find("took too long") != std::string::npos;
  }
  EXPECT_TRUE(stopped);
}

}  // namespace
