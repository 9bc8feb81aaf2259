#include "agent/media/linux_serial_media.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/fake_clock.h"
#include "tests/support/pseudo_terminal.h"
#include "tests/support/temp_dir.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

// Serial devices are links named port0, port1, ... in a temporary folder,
// pointing at pseudo-terminals; the pattern in the environment names them.
class LinuxSerialMediaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    setenv(LinuxSerialMedia::kPatternVariable, folder_.Join("port%d").c_str(),
           1);
    LinuxSerialMedia::ResetDeviceListForTesting();
  }
  void TearDown() override {
    unsetenv(LinuxSerialMedia::kPatternVariable);
    LinuxSerialMedia::ResetDeviceListForTesting();
  }

  // Makes port<n> a link to a new pseudo-terminal.
  PseudoTerminal* AddPort(int n) {
    terminals_.emplace_back(new PseudoTerminal);
    PseudoTerminal* terminal = terminals_.back().get();
    EXPECT_TRUE(terminal->ok());
    EXPECT_EQ(0, symlink(terminal->slave_path().c_str(), PortPath(n).c_str()));
    return terminal;
  }
  std::string PortPath(int n) const {
    return folder_.Join("port" + std::to_string(n));
  }
  std::vector<std::string> Entries() {
    std::vector<std::string> entries;
    EXPECT_TRUE(LinuxSerialMedia::GetDeviceEntries(&entries));
    return entries;
  }
  // A media opened on port0, reading with a 100 ms time-out.
  std::unique_ptr<LinuxSerialMedia> OpenFirst(Clock* clock) {
    std::unique_ptr<LinuxSerialMedia> media(new LinuxSerialMedia(clock));
    media->SetReadTimeout(100);
    EXPECT_EQ(1, media->Create(1));
    return media;
  }

  TempDir folder_;
  FakeClock clock_;
  std::vector<std::unique_ptr<PseudoTerminal>> terminals_;
};

TEST_F(LinuxSerialMediaTest, ScanStopsAtTheFirstMissingDevice) {
  PseudoTerminal* first = AddPort(0);
  AddPort(1);
  AddPort(3);
  EXPECT_EQ((std::vector<std::string>{"2.1.port0", "2.2.port1"}), Entries());
  // The scan wrote one zero byte to each port it kept.
  EXPECT_EQ(std::string(1, '\0'), first->Receive(1, 5000));

  LinuxSerialMedia media(&clock_);
  CaptureStderr();
  EXPECT_EQ(0, media.Create(3));
  EXPECT_EQ("LinuxSerialMedia::Create(), index 3 not exist in devices list.\n",
            GetCapturedStderr());
}

TEST_F(LinuxSerialMediaTest, CreateRefusesIndexZeroAndNegative) {
  AddPort(0);
  LinuxSerialMedia media(&clock_);
  CaptureStderr();
  EXPECT_EQ(0, media.Create(0));
  EXPECT_EQ(0, media.Create(0xFFFFFFFFu));
  EXPECT_EQ(
      "LinuxSerialMedia::Create() not allowd index is 0.\n"
      "LinuxSerialMedia::Create() not allowd index is -1.\n",
      GetCapturedStderr());
}

TEST_F(LinuxSerialMediaTest, CreateOnEmptyListSaysSo) {
  LinuxSerialMedia media(&clock_);
  CaptureStderr();
  EXPECT_EQ(0, media.Create(1));
  EXPECT_EQ("LinuxSerialMedia::Create() device list is empty.\n",
            GetCapturedStderr());
  EXPECT_TRUE(Entries().empty());
}

TEST_F(LinuxSerialMediaTest, CreateReportsVanishedDevice) {
  AddPort(0);
  ASSERT_EQ(1u, Entries().size());
  unlink(PortPath(0).c_str());
  LinuxSerialMedia media(&clock_);
  CaptureStderr();
  EXPECT_EQ(0, media.Create(1));
  EXPECT_EQ("serial device " + PortPath(0) + " open fail.\n",
            GetCapturedStderr());
}

TEST_F(LinuxSerialMediaTest, CreateReportsDeviceThatIsNoTerminal) {
  // A plain file takes the scan's zero byte but has no terminal settings.
  int file = open(PortPath(0).c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(file, 0);
  close(file);
  LinuxSerialMedia media(&clock_);
  CaptureStderr();
  EXPECT_EQ(0, media.Create(1));
  EXPECT_EQ("call tcgetatt() to get attr fail.errno is " +
                std::to_string(ENOTTY) + "\n",
            GetCapturedStderr());
}

TEST_F(LinuxSerialMediaTest, CreateConfiguresRawPortAndDestructionRestores) {
  PseudoTerminal* terminal = AddPort(0);
  struct termios before;
  int observer = open(terminal->slave_path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(observer, 0);
  ASSERT_EQ(0, tcgetattr(observer, &before));

  {
    LinuxSerialMedia media(&clock_);
    ASSERT_EQ(1, media.Create(1));
    EXPECT_EQ(2, media.GetType());
    EXPECT_EQ(1, media.GetIndex());
    struct termios now;
    ASSERT_EQ(0, tcgetattr(observer, &now));
    EXPECT_EQ(static_cast<tcflag_t>(IGNPAR), now.c_iflag);
    EXPECT_EQ(0u, now.c_oflag);
    EXPECT_EQ(0u, now.c_lflag);
    EXPECT_EQ(static_cast<tcflag_t>(CS8), now.c_cflag & CSIZE);
    EXPECT_NE(0u, now.c_cflag & CREAD);
    EXPECT_NE(0u, now.c_cflag & CLOCAL);
    EXPECT_EQ(0u, now.c_cflag & PARENB);
    EXPECT_EQ(0u, now.c_cflag & CSTOPB);
    EXPECT_EQ(10, now.c_cc[VTIME]);
    EXPECT_EQ(0, now.c_cc[VMIN]);
    EXPECT_EQ(static_cast<speed_t>(B1200), cfgetospeed(&now));
    EXPECT_EQ(static_cast<speed_t>(B1200), cfgetispeed(&now));
  }

  struct termios after;
  ASSERT_EQ(0, tcgetattr(observer, &after));
  EXPECT_EQ(before.c_lflag, after.c_lflag);
  EXPECT_EQ(before.c_iflag, after.c_iflag);
  EXPECT_EQ(cfgetospeed(&before), cfgetospeed(&after));
  close(observer);
}

TEST_F(LinuxSerialMediaTest, SetBaudRateAcceptsOnlyFourSpeeds) {
  AddPort(0);
  std::unique_ptr<LinuxSerialMedia> media = OpenFirst(&clock_);
  struct termios now;
  EXPECT_EQ(0, media->SetBaudRate(19200));
  ASSERT_EQ(0, tcgetattr(media->fd(), &now));
  EXPECT_EQ(static_cast<speed_t>(B1200), cfgetospeed(&now));

  const struct {
    int32_t bits;
    speed_t speed;
  } speeds[] = {{2400, B2400}, {4800, B4800}, {9600, B9600}, {1200, B1200}};
  for (const auto& speed : speeds) {
    EXPECT_EQ(1, media->SetBaudRate(speed.bits));
    ASSERT_EQ(0, tcgetattr(media->fd(), &now));
    EXPECT_EQ(speed.speed, cfgetospeed(&now));
    EXPECT_EQ(speed.speed, cfgetispeed(&now));
    // The rest of the working settings stays.
    EXPECT_EQ(0u, now.c_lflag);
  }
}

TEST_F(LinuxSerialMediaTest, ReadUntilQuietStopsAtTheCallersBuffer) {
  PseudoTerminal* terminal = AddPort(0);
  std::unique_ptr<LinuxSerialMedia> media = OpenFirst(&clock_);
  ASSERT_TRUE(terminal->Send("0123456789"));
  ASSERT_TRUE(PseudoTerminal::WaitReadable(media->fd(), 5000));

  uint8_t buffer[16] = {};
  EXPECT_EQ(4, media->Read(buffer, -1, 4));
  EXPECT_EQ("0123", std::string(buffer, buffer + 4));
  EXPECT_EQ(2, media->Read(buffer, 2, 16));
  EXPECT_EQ("45", std::string(buffer, buffer + 2));
  // A fixed count larger than the buffer is cut to the buffer too.
  EXPECT_EQ(3, media->Read(buffer, 100, 3));
  EXPECT_EQ(1, media->Read(buffer, -1, 16));
  EXPECT_EQ('9', buffer[0]);
  // The line is quiet now: a read ends after the read time-out.
  EXPECT_EQ(0, media->Read(buffer, -1, 16));
}

TEST_F(LinuxSerialMediaTest, WriteFlushesThenPacesEveryByte) {
  PseudoTerminal* terminal = AddPort(0);
  std::unique_ptr<LinuxSerialMedia> media = OpenFirst(&clock_);
  // A stale reply waiting from an earlier exchange.
  ASSERT_TRUE(terminal->Send("stale"));
  ASSERT_TRUE(PseudoTerminal::WaitReadable(media->fd(), 5000));
  terminal->Discard();

  const uint8_t command[] = {'a', 'b', 'c'};
  EXPECT_EQ(3, media->Write(command, 3));
  EXPECT_EQ((std::vector<int32_t>{50, 50}), clock_.pauses());
  std::string sent = terminal->Receive(3, 5000);
  // Skip the scan's zero byte should it still be on its way.
  if (!sent.empty() && sent[0] == '\0') sent.erase(0, 1);
  if (sent.size() < 3) sent += terminal->Receive(3 - sent.size(), 5000);
  EXPECT_EQ("abc", sent);

  uint8_t buffer[16];
  EXPECT_EQ(0, media->Read(buffer, -1, 16));

  // A write of nothing still discards a waiting reply.
  ASSERT_TRUE(terminal->Send("late"));
  ASSERT_TRUE(PseudoTerminal::WaitReadable(media->fd(), 5000));
  EXPECT_EQ(0, media->Write(command, 0));
  EXPECT_EQ(0, media->Read(buffer, -1, 16));
}

TEST_F(LinuxSerialMediaTest, SetPinStateRefusesInputPins) {
  LinuxSerialMedia media(&clock_);
  CaptureStderr();
  EXPECT_EQ(0, media.SetPinState(0x20, 1));
  EXPECT_EQ(0, media.SetPinState(0x1B3 | 0x08, 0));
  EXPECT_EQ(
      "LinuxSerialMedia::SetPinState() pins not allow to set. PINS = 32 .\n"
      "LinuxSerialMedia::SetPinState() pins not allow to set. PINS = 443 .\n",
      GetCapturedStderr());
}

// Pseudo-terminals have no modem lines, so the pin calls fail there; the
// messages carry the error of the failed call.
TEST_F(LinuxSerialMediaTest, PinFailuresNameTheFailedCall) {
  AddPort(0);
  std::unique_ptr<LinuxSerialMedia> media = OpenFirst(&clock_);
  int lines = 0;
  ASSERT_NE(0, ioctl(media->fd(), TIOCMGET, &lines))
      << "this terminal has modem lines";
  const std::string error = std::to_string(errno);

  int32_t mask = -1;
  CaptureStderr();
  EXPECT_EQ(0, media->GetPinState(&mask));
  EXPECT_EQ(-1, mask);
  EXPECT_EQ(0, media->SetPinState(0x48, 1));
  EXPECT_EQ(
      "LinuxSerialMedia::GetPinState() call ioctl(TIOCMGET) fail. err = " +
          error + " .\n" +
          "LinuxSerialMedia::SetPinState() call ioctl(TIOCMGET) fail. err = " +
          error + " .\n",
      GetCapturedStderr());
}

TEST(LinuxSerialMediaPatternTest, AcceptsOnlyOnePlaceholderAndNoOtherPercent) {
  const struct {
    const char* configured;
    const char* chosen;
    bool diagnosed;
  } rows[] = {
      {nullptr, "/dev/ttyS%d", false},
      {"/tmp/links/tty%d", "/tmp/links/tty%d", false},
      {"%d", "%d", false},
      {"", "/dev/ttyS%d", true},
      {"/tmp/tty", "/dev/ttyS%d", true},
      {"/tmp/%d/%d", "/dev/ttyS%d", true},
      {"/tmp/%s%d", "/dev/ttyS%d", true},
      {"/tmp/tty%d%", "/dev/ttyS%d", true},
      {"/tmp/%%d", "/dev/ttyS%d", true},
      {"/tmp/%n%d", "/dev/ttyS%d", true},
  };
  for (const auto& row : rows) {
    CaptureStderr();
    EXPECT_EQ(row.chosen, LinuxSerialMedia::ChoosePattern(row.configured));
    std::string message = GetCapturedStderr();
    if (row.diagnosed) {
      EXPECT_EQ(
          "UPSAGENT_SERIAL_PATTERN must hold exactly one %d and no other %; "
          "using /dev/ttyS%d.\n",
          message);
    } else {
      EXPECT_EQ("", message);
    }
  }
}

}  // namespace
