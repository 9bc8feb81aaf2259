#include "sim/pty_link.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/e2e/temp_folder.h"

namespace {

// Reads from fd until `want` bytes arrived or 2 s passed.
std::string ReadBounded(int fd, size_t want) {
  std::string bytes;
  for (int i = 0; i < 20 && bytes.size() < want; ++i) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, 100) <= 0) continue;
    char buffer[64];
    ssize_t count = read(fd, buffer, sizeof(buffer));
    if (count > 0) bytes.append(buffer, static_cast<size_t>(count));
  }
  return bytes;
}

class PtyLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    link_path_ = folder_.File("ttyS0");
  }

  TempFolder folder_;
  std::string link_path_;
  std::string error_;
};

TEST_F(PtyLinkTest, LinkLeadsToTheMasterInBothDirectionsUnchanged) {
  PtyLink link;
  ASSERT_TRUE(link.Open(link_path_, &error_)) << error_;
  int port = open(link_path_.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(port, 0);
  // Raw mode: CR, NL and control characters pass untranslated.
  const std::string request("D\r\n\x03\x00\x7F", 6);
  ASSERT_EQ(6, write(port, request.data(), request.size()));
  std::string received;
  for (int i = 0; i < 20 && received.size() < 6; ++i) {
    pollfd wait{link.fd(), POLLIN, 0};
    poll(&wait, 1, 100);
    uint8_t buffer[16];
    int32_t count = link.Read(buffer, sizeof(buffer));
    ASSERT_GE(count, 0);
    received.append(reinterpret_cast<char*>(buffer), count);
  }
  EXPECT_EQ(request, received);

  const std::string answer("#\r\n\xFF", 4);
  EXPECT_EQ(4u, link.Write(reinterpret_cast<const uint8_t*>(answer.data()),
                           answer.size(), 1000));
  EXPECT_EQ(answer, ReadBounded(port, 4));
  close(port);
}

TEST_F(PtyLinkTest, PortClosedByAgentLeavesMasterUsable) {
  PtyLink link;
  ASSERT_TRUE(link.Open(link_path_, &error_)) << error_;
  int port = open(link_path_.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(port, 0);
  close(port);
  uint8_t buffer[4];
  EXPECT_EQ(0, link.Read(buffer, sizeof(buffer)));
  port = open(link_path_.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(port, 0);
  ASSERT_EQ(1, write(port, "B", 1));
  pollfd wait{link.fd(), POLLIN, 0};
  EXPECT_EQ(1, poll(&wait, 1, 2000));
  EXPECT_EQ(1, link.Read(buffer, sizeof(buffer)));
  close(port);
}

TEST_F(PtyLinkTest, CloseRemovesLink) {
  PtyLink link;
  ASSERT_TRUE(link.Open(link_path_, &error_)) << error_;
  struct stat info {};
  EXPECT_EQ(0, lstat(link_path_.c_str(), &info));
  link.Close();
  EXPECT_NE(0, lstat(link_path_.c_str(), &info));
  EXPECT_EQ(-1, link.fd());
}

TEST_F(PtyLinkTest, StaleLinkIsReplaced) {
  ASSERT_EQ(0, symlink("/dev/pts/no-such-pty", link_path_.c_str()));
  PtyLink link;
  ASSERT_TRUE(link.Open(link_path_, &error_)) << error_;
  char target[256] = {};
  ASSERT_GT(readlink(link_path_.c_str(), target, sizeof(target) - 1), 0);
  EXPECT_EQ(link.slave_path(), target);
}

TEST_F(PtyLinkTest, RegularFileIsNotReplaced) {
  { std::ofstream(link_path_) << "precious"; }
  PtyLink link;
  EXPECT_FALSE(link.Open(link_path_, &error_));
  EXPECT_NE(std::string::npos, error_.find("not a symbolic link"));
  std::ifstream in(link_path_);
  std::string content;
  in >> content;
  EXPECT_EQ("precious", content);
}

TEST_F(PtyLinkTest, LinkTakenOverByAnotherIsLeftAlone) {
  PtyLink first;
  ASSERT_TRUE(first.Open(link_path_, &error_)) << error_;
  PtyLink second;
  ASSERT_TRUE(second.Open(link_path_, &error_)) << error_;
  first.Close();
  char target[256] = {};
  ASSERT_GT(readlink(link_path_.c_str(), target, sizeof(target) - 1), 0);
  EXPECT_EQ(second.slave_path(), target);
}

}  // namespace
