#pragma once

#include <termios.h>

#include <cstdint>
#include <string>
#include <vector>

#include "agent/media/i_media.h"
#include "agent/media/platform_factory.h"
#include "common/time/clock.h"
#include "common/time/system_clock.h"

// A Linux serial port as a media, over termios and the modem-control
// ioctls. The class also keeps the process-wide list of serial devices,
// found once by probing "/dev/ttyS0" upwards (or the paths of the pattern in
// UPSAGENT_SERIAL_PATTERN); media index n is the n-th device found.
//
// Every failure writes one diagnostic line to standard error.
class LinuxSerialMedia final : public IMedia {
 public:
  // The default device path pattern and the environment variable that
  // replaces it. A pattern holds exactly one "%d" and no other "%".
  static constexpr const char* kDefaultPattern = "/dev/ttyS%d";
  static constexpr const char* kPatternVariable = "UPSAGENT_SERIAL_PATTERN";
  // Device numbers probed: 0 to kMaxDevices - 1.
  static constexpr int32_t kMaxDevices = 32;

  // The clock paces writes; it is borrowed and must outlive the media.
  explicit LinuxSerialMedia(Clock* clock = SystemClock::Instance());
  // Restores the settings the port had when it was opened, then closes it.
  ~LinuxSerialMedia() override;

  // Opens the index-th device of the list (1-based) and configures it raw,
  // 8N1, 1200 bits per second, reads waiting up to the read time-out.
  int32_t Create(uint32_t index) override;
  int32_t Write(const uint8_t* data, int32_t count) override;
  int32_t Read(uint8_t* buffer, int32_t count, int32_t capacity) override;
  int32_t SetBaudRate(int32_t bits_per_second) override;
  int32_t GetPinState(int32_t* mask) override;
  int32_t SetPinState(int32_t mask, int32_t on) override;
  void Release() override;

  // Appends "2.<position>.<name>" for every serial device, building the
  // device list on first use. Always succeeds.
  static bool GetDeviceEntries(std::vector<std::string>* entries);

  // Forgets the device list so that the next use scans again (with the
  // pattern then in the environment). For tests.
  static void ResetDeviceListForTesting();

  // The pattern to use for the given value of the environment variable
  // (null when unset). A malformed pattern gives the default and one line on
  // standard error.
  static std::string ChoosePattern(const char* configured);

  // The open descriptor, or -1.
  int fd() const { return fd_; }

 private:
  struct termios saved_settings_ {};
  struct termios settings_ {};
  int fd_ = -1;
  // Whether saved_settings_ holds what the port had, so it can be restored.
  bool saved_valid_ = false;
  Clock* clock_;
};
