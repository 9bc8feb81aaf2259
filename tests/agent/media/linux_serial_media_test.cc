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

#include "agent/media/linux_factory.h"
#include "common/released.h"
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
  std::unique_ptr<LinuxSerialMedia> OpenFirst() {
    std::unique_ptr<LinuxSerialMedia> media(new LinuxSerialMedia(&clock_));
    media->SetReadTimeout(100);
    EXPECT_EQ(1, media->Create(1));
    return media;
  }

  TempDir folder_;
  FakeClock clock_;
  std::vector<std::unique_ptr<PseudoTerminal>> terminals_;
};

using LinuxFactoryTest = LinuxSerialMediaTest;

TEST_F(LinuxFactoryTest, ListsSerialPortsUpToAGapAndOpensOnlySerialPorts) {
  PseudoTerminal* first = AddPort(0);
  AddPort(1);
  AddPort(3);
  Released<PlatformFactory> factory(new LinuxFactory);
  std::vector<std::string> list = {"left over"};
  EXPECT_TRUE(factory->GetDeviceList(&list));
  EXPECT_EQ((std::vector<std::string>{"0.0.None", "1.0.Auto", "2.1.port0",
                                      "2.2.port1"}),
            list);
  // The scan wrote one zero byte to each port it kept.
  EXPECT_EQ(std::string(1, '\0'), first->Receive(1, 5000));
  CaptureStderr();
  for (int32_t type : {3, 7, 1}) {
    EXPECT_EQ(nullptr, factory->CreateMedia(type, 1));
  }
  EXPECT_EQ("", GetCapturedStderr());
  Released<IMedia> media(factory->CreateMedia(2, 2));
  ASSERT_NE(nullptr, media);
  EXPECT_EQ(2, media->GetType());
  EXPECT_EQ(2, media->GetIndex());
  EXPECT_EQ(1000, media->GetReadTimeout());
}

TEST_F(LinuxSerialMediaTest, CreateFailuresSayWhy) {
  LinuxSerialMedia media(&clock_);
  CaptureStderr();
  EXPECT_EQ(0, media.Create(1));
  EXPECT_EQ("LinuxSerialMedia::Create() device list is empty.\n",
            GetCapturedStderr());

  // port0 vanishes after the scan; port1 is a plain file, which takes the
  // scan's zero byte but has no terminal settings.
  LinuxSerialMedia::ResetDeviceListForTesting();
  AddPort(0);
  int file = open(PortPath(1).c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(file, 0);
  close(file);
  ASSERT_EQ(2u, Entries().size());
  unlink(PortPath(0).c_str());
  CaptureStderr();
  for (uint32_t index : {1u, 2u, 3u, 0u, 0xFFFFFFFFu}) {
    EXPECT_EQ(0, media.Create(index)) << index;
  }
  EXPECT_EQ("serial device " + PortPath(0) + " open fail.\n" +
                "call tcgetatt() to get attr fail.errno is " +
                std::to_string(ENOTTY) + "\n" +
                "LinuxSerialMedia::Create(), index 3 not exist in devices "
                "list.\n"
                "LinuxSerialMedia::Create() not allowd index is 0.\n"
                "LinuxSerialMedia::Create() not allowd index is -1.\n",
            GetCapturedStderr());
}

// With standard input closed, descriptor 0 is the first one free: a port
// opened there would double as the agent's pipe input. Neither the scan nor
// Create may keep it.
TEST_F(LinuxSerialMediaTest, PortNeverOpenedAsDescriptorZero) {
  AddPort(0);
  AddPort(1);
  const int saved_input = dup(0);
  ASSERT_GE(saved_input, 0);

  close(0);
  const std::vector<std::string> scanned = Entries();
  const bool zero_open_after_scan = fcntl(0, F_GETFD) != -1;
  dup2(saved_input, 0);

  LinuxSerialMedia::ResetDeviceListForTesting();
  const size_t listed = Entries().size();
  LinuxSerialMedia media(&clock_);
  CaptureStderr();  // opens a file of its own: before 0 is freed
  close(0);
  const int32_t created = media.Create(1);
  const std::string diagnostic = GetCapturedStderr();
  const bool zero_open_after_create = fcntl(0, F_GETFD) != -1;
  dup2(saved_input, 0);
  close(saved_input);

  EXPECT_TRUE(scanned.empty());
  EXPECT_FALSE(zero_open_after_scan);
  EXPECT_EQ(2u, listed);
  EXPECT_EQ(0, created);
  EXPECT_EQ("serial device " + PortPath(0) + " open fail.\n", diagnostic);
  EXPECT_FALSE(zero_open_after_create);
}

TEST_F(LinuxSerialMediaTest, CreateConfiguresRawPortSpeedsAndRestores) {
  PseudoTerminal* terminal = AddPort(0);
  int observer = open(terminal->slave_path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(observer, 0);
  struct termios before, now;
  ASSERT_EQ(0, tcgetattr(observer, &before));
  {
    std::unique_ptr<LinuxSerialMedia> media = OpenFirst();
    ASSERT_EQ(0, tcgetattr(observer, &now));
    EXPECT_EQ(static_cast<tcflag_t>(IGNPAR), now.c_iflag);
    EXPECT_EQ(0u, now.c_oflag);
    EXPECT_EQ(0u, now.c_lflag);
    EXPECT_EQ(static_cast<tcflag_t>(CS8 | CREAD | CLOCAL),
              now.c_cflag & (CSIZE | CREAD | CLOCAL | PARENB | CSTOPB));
    EXPECT_EQ(1, now.c_cc[VTIME]);  // the read time-out in tenths
    EXPECT_EQ(0, now.c_cc[VMIN]);
    EXPECT_EQ(static_cast<speed_t>(B1200), cfgetispeed(&now));

    // Only four speeds are accepted; a refused one leaves the port alone.
    const int32_t bits[] = {19200, 2400, 4800, 9600, 1200};
    const speed_t speeds[] = {B1200, B2400, B4800, B9600, B1200};
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(i == 0 ? 0 : 1, media->SetBaudRate(bits[i]));
      ASSERT_EQ(0, tcgetattr(media->fd(), &now));
      EXPECT_EQ(speeds[i], cfgetospeed(&now)) << bits[i];
      EXPECT_EQ(speeds[i], cfgetispeed(&now)) << bits[i];
      EXPECT_EQ(0u, now.c_lflag);
    }
  }
  ASSERT_EQ(0, tcgetattr(observer, &now));
  EXPECT_EQ(before.c_lflag, now.c_lflag);
  EXPECT_EQ(before.c_iflag, now.c_iflag);
  EXPECT_EQ(cfgetospeed(&before), cfgetospeed(&now));
  close(observer);
}

TEST_F(LinuxSerialMediaTest, ReadUntilQuietStopsAtTheCallersBuffer) {
  PseudoTerminal* terminal = AddPort(0);
  std::unique_ptr<LinuxSerialMedia> media = OpenFirst();
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
  std::unique_ptr<LinuxSerialMedia> media = OpenFirst();
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

// Pseudo-terminals have no modem lines, so the pin calls fail there; the
// messages carry the error of the failed call. Input pins are refused
// before any call.
TEST_F(LinuxSerialMediaTest, PinFailuresNameTheFailedCall) {
  AddPort(0);
  std::unique_ptr<LinuxSerialMedia> media = OpenFirst();
  int lines = 0;
  ASSERT_NE(0, ioctl(media->fd(), TIOCMGET, &lines))
      << "this terminal has modem lines";
  const std::string error = std::to_string(errno);

  int32_t mask = -1;
  CaptureStderr();
  EXPECT_EQ(0, media->SetPinState(0x20, 1));
  EXPECT_EQ(0, media->SetPinState(0x1B3 | 0x08, 0));
  EXPECT_EQ(0, media->GetPinState(&mask));
  EXPECT_EQ(-1, mask);
  EXPECT_EQ(0, media->SetPinState(0x48, 1));
  EXPECT_EQ(
      "LinuxSerialMedia::SetPinState() pins not allow to set. PINS = 32 .\n"
      "LinuxSerialMedia::SetPinState() pins not allow to set. PINS = 443 .\n"
      "LinuxSerialMedia::GetPinState() call ioctl(TIOCMGET) fail. err = " +
          error + " .\n" +
          "LinuxSerialMedia::SetPinState() call ioctl(TIOCMGET) fail. err = " +
          error + " .\n",
      GetCapturedStderr());
}

TEST(LinuxSerialMediaPatternTest, AcceptsOnlyOnePlaceholderAndNoOtherPercent) {
  const struct {
    const char *configured, *chosen;
  } rows[] = {
      {nullptr, "/dev/ttyS%d"},
      {"/tmp/links/tty%d", "/tmp/links/tty%d"},
      {"%d", "%d"},
      {"", nullptr},
      {"/tmp/tty", nullptr},
      {"/tmp/%d/%d", nullptr},
      {"/tmp/%s%d", nullptr},
      {"/tmp/tty%d%", nullptr},
      {"/tmp/%%d", nullptr},
      {"/tmp/%n%d", nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.configured == nullptr ? "(unset)" : row.configured);
    // A null choice means refused: the default and one diagnostic line.
    CaptureStderr();
    EXPECT_EQ(row.chosen == nullptr ? "/dev/ttyS%d" : row.chosen,
              LinuxSerialMedia::ChoosePattern(row.configured));
    EXPECT_EQ(row.chosen != nullptr
                  ? ""
                  : "UPSAGENT_SERIAL_PATTERN must hold exactly one %d and no "
                    "other %; using /dev/ttyS%d.\n",
              GetCapturedStderr());
  }
}

}  // namespace
