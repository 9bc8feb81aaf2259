#include "service/database.h"

#include <sys/stat.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return 07777;
  return info.st_mode & 07777;
}

// Settings and logs are the service's alone, whatever the umask, and so are
// the WAL files SQLite makes beside the database.
TEST(DatabaseTest, NoDatabaseReadableByOthers) {
  TempDir dir;
  std::string path = dir.Join("kovrad.db");
  mode_t old_mask = umask(022);
  std::string error;
  std::unique_ptr<Database> db = Database::Open(path, &error);
  umask(old_mask);
  ASSERT_TRUE(db) << error;
  ASSERT_TRUE(db->Exec("INSERT INTO parameters VALUES ('POL', 'k', 1);"));
  EXPECT_EQ(0600u, ModeOf(path));
  EXPECT_EQ(0600u, ModeOf(path + "-wal"));
  EXPECT_EQ(0600u, ModeOf(path + "-shm"));
}

TEST(DatabaseTest, LooseModesOfAnOlderDatabaseAreTightened) {
  TempDir dir;
  std::string path = dir.Join("kovrad.db");
  std::string error;
  {
    std::unique_ptr<Database> db = Database::Open(path, &error);
    ASSERT_TRUE(db) << error;
  }
  ASSERT_EQ(0, chmod(path.c_str(), 0644));
  std::unique_ptr<Database> db = Database::Open(path, &error);
  ASSERT_TRUE(db) << error;
  EXPECT_EQ(0600u, ModeOf(path));
}

TEST(DatabaseTest, UnopenablePathIsAnErrorNamingIt) {
  TempDir dir;
  std::string error;
  std::string path = dir.Join("no-such-folder/kovrad.db");
  EXPECT_FALSE(Database::Open(path, &error));
  EXPECT_NE(std::string::npos, error.find(path)) << error;
}

}  // namespace
