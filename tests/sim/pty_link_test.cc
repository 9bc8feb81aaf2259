#include "sim/pty_link.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/support/pseudo_terminal.h"
#include "tests/support/temp_dir.h"

namespace {

class PtyLinkTest : public ::testing::Test {
 protected:
  int OpenPort() { return open(path_.c_str(), O_RDWR | O_NOCTTY); }

  std::string LinkTarget() {
    char target[256] = {};
    return readlink(path_.c_str(), target, sizeof(target) - 1) > 0 ? target
                                                                   : "";
  }

  // Reads from fd until `want` bytes arrived or none came for 5 s.
  static std::string ReadUpTo(int fd, size_t want) {
    std::string bytes;
    char buffer[16];
    while (bytes.size() < want && PseudoTerminal::WaitReadable(fd, 5000)) {
      ssize_t count = read(fd, buffer, sizeof(buffer));
      if (count <= 0) break;
      bytes.append(buffer, static_cast<size_t>(count));
    }
    return bytes;
  }

  TempDir folder_;
  std::string path_ = folder_.Join("ttyS0");
  std::string error_;
  PtyLink link_;
};

TEST_F(PtyLinkTest, RawBytesPassBothWaysAndPortMayBeReopened) {
  ASSERT_TRUE(link_.Open(path_, &error_)) << error_;
  int port = OpenPort();
  ASSERT_GE(port, 0);
  // Raw mode: CR, NL and control characters pass untranslated.
  const std::string request("D\r\n\x03\x00\x7F", 6);
  ASSERT_EQ(6, write(port, request.data(), request.size()));
  EXPECT_EQ(request, ReadUpTo(link_.fd(), 6));
  const std::string answer("#\r\n\xFF", 4);
  EXPECT_EQ(4u, link_.Write(reinterpret_cast<const uint8_t*>(answer.data()),
                            answer.size(), 1000));
  EXPECT_EQ(answer, ReadUpTo(port, 4));
  // The agent closing the port leaves the master usable for the next one.
  close(port);
  uint8_t buffer[4];
  EXPECT_EQ(0, link_.Read(buffer, sizeof(buffer)));
  port = OpenPort();
  ASSERT_GE(port, 0);
  ASSERT_EQ(1, write(port, "B", 1));
  EXPECT_TRUE(PseudoTerminal::WaitReadable(link_.fd(), 5000));
  EXPECT_EQ(1, link_.Read(buffer, sizeof(buffer)));
  close(port);
  link_.Close();
  EXPECT_EQ("", LinkTarget());
}

TEST_F(PtyLinkTest, StaleLinkIsReplacedButRegularFileIsNot) {
  ASSERT_EQ(0, symlink("/dev/pts/no-such-pty", path_.c_str()));
  ASSERT_TRUE(link_.Open(path_, &error_)) << error_;
  EXPECT_EQ(link_.slave_path(), LinkTarget());
  link_.Close();

  { std::ofstream(path_) << "precious"; }
  EXPECT_FALSE(link_.Open(path_, &error_));
  EXPECT_NE(std::string::npos, error_.find("not a symbolic link"));
  std::string content;
  std::ifstream(path_) >> content;
  EXPECT_EQ("precious", content);
}

TEST_F(PtyLinkTest, LinkTakenOverByAnotherIsLeftAlone) {
  PtyLink second;
  ASSERT_TRUE(link_.Open(path_, &error_)) << error_;
  ASSERT_TRUE(second.Open(path_, &error_)) << error_;
  link_.Close();
  EXPECT_EQ(second.slave_path(), LinkTarget());
}

}  // namespace
