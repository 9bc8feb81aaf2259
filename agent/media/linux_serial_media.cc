#include "agent/media/linux_serial_media.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

struct SerialDevice {
  std::string name;
  std::string path;
};

struct DeviceList {
  bool built = false;
  std::vector<SerialDevice> devices;
};

// Writes one diagnostic to standard error in one piece.
void Diagnose(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

// The diagnostic of a failed system call: the text, the error number and
// " .". The error number must be taken before anything else can change it.
void DiagnoseError(const char* text, int error) {
  Diagnose(text + std::to_string(error) + " .\n");
}

DeviceList& TheDeviceList() {
  static DeviceList* list = new DeviceList;
  return *list;
}

// Opens a device the way both the scan and Create do: read and write,
// exclusive, never as the controlling terminal. The open itself does not
// block (a port without carrier would hold a blocking open); the descriptor
// is blocking afterwards. -1 on failure, errno kept.
//
// Descriptor 0 counts as a failure: it is only free when the agent was
// started with its standard input closed, and a port opened there would be
// read as the pipe to the service.
int OpenDevice(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_EXCL | O_NOCTTY | O_NONBLOCK);
  if (fd == 0) {
    close(fd);
    errno = EBADF;
    return -1;
  }
  if (fd < 0) return -1;
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

// The pattern with its "%d" replaced by the number. The pattern is never
// used as a format string.
std::string FormatPath(const std::string& pattern, int32_t number) {
  std::string path = pattern;
  size_t at = path.find("%d");
  if (at != std::string::npos) path.replace(at, 2, std::to_string(number));
  return path;
}

std::string LastComponent(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void BuildDeviceList() {
  DeviceList& list = TheDeviceList();
  if (list.built) return;
  list.built = true;
  list.devices.clear();
  const std::string pattern = LinuxSerialMedia::ChoosePattern(
      std::getenv(LinuxSerialMedia::kPatternVariable));
  for (int32_t n = 0; n < LinuxSerialMedia::kMaxDevices; ++n) {
    std::string path = FormatPath(pattern, n);
    int fd = OpenDevice(path);
    if (fd < 0) break;
    const char zero = 0;
    if (write(fd, &zero, 1) != 1) {
      close(fd);
      break;
    }
    list.devices.push_back(SerialDevice{LastComponent(path), path});
    close(fd);
  }
}

speed_t SpeedFor(int32_t bits_per_second) {
  switch (bits_per_second) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    default:
      return B0;
  }
}

}  // namespace

std::string LinuxSerialMedia::ChoosePattern(const char* configured) {
  if (configured == nullptr) return kDefaultPattern;
  const std::string pattern = configured;
  size_t placeholder = pattern.find("%d");
  bool valid = placeholder != std::string::npos;
  for (size_t i = 0; valid && i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i != placeholder) valid = false;
  }
  if (valid) return pattern;
  Diagnose(std::string(kPatternVariable) +
           " must hold exactly one %d and no other %; using " +
           kDefaultPattern + ".\n");
  return kDefaultPattern;
}

bool LinuxSerialMedia::GetDeviceEntries(std::vector<std::string>* entries) {
  BuildDeviceList();
  const std::vector<SerialDevice>& devices = TheDeviceList().devices;
  for (size_t i = 0; i < devices.size(); ++i) {
    std::ostringstream entry;
    entry << media_type::kSerial << "." << i + 1 << "." << devices[i].name;
    entries->push_back(entry.str());
  }
  return true;
}

void LinuxSerialMedia::ResetDeviceListForTesting() {
  TheDeviceList().built = false;
  TheDeviceList().devices.clear();
}

LinuxSerialMedia::LinuxSerialMedia(Clock* clock) : clock_(clock) {
  SetType(media_type::kSerial);
  SetReadTimeout(1000);
}

LinuxSerialMedia::~LinuxSerialMedia() {
  if (fd_ < 0) return;
  if (saved_valid_ && tcsetattr(fd_, TCSANOW, &saved_settings_) != 0) {
    Diagnose("LinuxSerialMedia::~LinuxSerialMedia() call tcsetattr fail.\n");
  }
  close(fd_);
}

int32_t LinuxSerialMedia::Create(uint32_t index) {
  SetIndex(static_cast<int32_t>(index));
  const int32_t position = static_cast<int32_t>(index);
  if (position <= 0) {
    Diagnose("LinuxSerialMedia::Create() not allowd index is " +
             std::to_string(position) + ".\n");
    return 0;
  }
  BuildDeviceList();
  const std::vector<SerialDevice>& devices = TheDeviceList().devices;
  if (devices.empty()) {
    Diagnose("LinuxSerialMedia::Create() device list is empty.\n");
    return 0;
  }
  if (static_cast<size_t>(position) > devices.size()) {
    Diagnose("LinuxSerialMedia::Create(), index " + std::to_string(position) +
             " not exist in devices list.\n");
    return 0;
  }
  // A second Create on the same object gives up the port it had.
  if (fd_ >= 0) {
    if (saved_valid_) tcsetattr(fd_, TCSANOW, &saved_settings_);
    close(fd_);
    saved_valid_ = false;
  }
  const std::string& path = devices[static_cast<size_t>(position) - 1].path;
  fd_ = OpenDevice(path);
  if (fd_ < 0) {
    Diagnose("serial device " + path + " open fail.\n");
    return 0;
  }
  if (tcgetattr(fd_, &saved_settings_) != 0) {
    const int error = errno;
    Diagnose("call tcgetatt() to get attr fail.errno is " +
             std::to_string(error) + "\n");
    return 0;
  }
  saved_valid_ = true;

  settings_ = saved_settings_;
  settings_.c_iflag = IGNPAR;
  settings_.c_oflag = 0;
  settings_.c_cflag = CS8 | CREAD | CLOCAL;
  settings_.c_lflag = 0;
  settings_.c_cc[VTIME] = static_cast<cc_t>(GetReadTimeout() / 100);
  settings_.c_cc[VMIN] = 0;
  cfsetispeed(&settings_, B1200);
  cfsetospeed(&settings_, B1200);
  if (tcflush(fd_, TCIFLUSH) != 0 || tcsetattr(fd_, TCSANOW, &settings_) != 0) {
    Diagnose(" call tcSetatt() to set attr fail.");
    return 0;
  }
  return 1;
}

int32_t LinuxSerialMedia::Write(const uint8_t* data, int32_t count) {
  if (fd_ < 0) return 0;
  // Even a write of nothing discards what is pending on the line.
  if (tcflush(fd_, TCIOFLUSH) != 0) {
    DiagnoseError(
        "LinuxSerialMedia::Write() call tcflush(TCIOFLUSH) fail. err = ",
        errno);
    return 0;
  }
  if (data == nullptr || count <= 0) return 0;
  int32_t written = 0;
  while (written < count) {
    if (write(fd_, data + written, 1) != 1) break;
    ++written;
    if (written < count) clock_->Pause(GetWriteGap());
  }
  return written;
}

int32_t LinuxSerialMedia::Read(uint8_t* buffer, int32_t count,
                               int32_t capacity) {
  if (fd_ < 0 || buffer == nullptr || capacity <= 0) return 0;
  // With count -1 the read goes on until the line is quiet, but never past
  // the caller's buffer.
  const int32_t wanted = (count == -1 || count > capacity) ? capacity : count;
  int32_t stored = 0;
  while (stored < wanted) {
    if (read(fd_, buffer + stored, 1) != 1) break;
    ++stored;
  }
  return stored;
}

int32_t LinuxSerialMedia::SetBaudRate(int32_t bits_per_second) {
  speed_t speed = SpeedFor(bits_per_second);
  if (speed == B0 || fd_ < 0) return 0;
  struct termios wanted = settings_;
  if (cfsetispeed(&wanted, speed) != 0 || cfsetospeed(&wanted, speed) != 0) {
    return 0;
  }
  if (tcflush(fd_, TCIFLUSH) != 0 || tcsetattr(fd_, TCSANOW, &wanted) != 0) {
    return 0;
  }
  settings_ = wanted;
  return 1;
}

int32_t LinuxSerialMedia::GetPinState(int32_t* mask) {
  int lines = 0;
  if (ioctl(fd_, TIOCMGET, &lines) != 0) {
    DiagnoseError(
        "LinuxSerialMedia::GetPinState() call ioctl(TIOCMGET) fail. err = ",
        errno);
    return 0;
  }
  int32_t pins = 0;
  if (lines & TIOCM_CAR) pins |= pin::kDcd;
  if (lines & TIOCM_DSR) pins |= pin::kDsr;
  if (lines & TIOCM_CTS) pins |= pin::kCts;
  if (lines & TIOCM_RNG) pins |= pin::kRi;
  *mask = pins;
  return 1;
}

int32_t LinuxSerialMedia::SetPinState(int32_t mask, int32_t on) {
  if (mask & pin::kNotSettable) {
    Diagnose("LinuxSerialMedia::SetPinState() pins not allow to set. PINS = " +
             std::to_string(mask) + " .\n");
    return 0;
  }
  if (mask & pin::kBreak) {
    unsigned long request = (on & 0xFF) != 0 ? TIOCSBRK : TIOCCBRK;
    if (ioctl(fd_, request) != 0) {
      DiagnoseError(
          "LinuxSerialMedia::SetPinState() call ioctl(TIOCSBRK/TIOCCBRK) "
          "fail. err = ",
          errno);
      return 0;
    }
  }
  if ((mask & (pin::kDtr | pin::kRts)) == 0) return 1;
  int lines = 0;
  if (ioctl(fd_, TIOCMGET, &lines) != 0) {
    DiagnoseError(
        "LinuxSerialMedia::SetPinState() call ioctl(TIOCMGET) fail. err = ",
        errno);
    return 0;
  }
  if (mask & pin::kDtr) {
    lines = on != 0 ? (lines | TIOCM_DTR) : (lines & ~TIOCM_DTR);
  }
  if (mask & pin::kRts) {
    lines = on != 0 ? (lines | TIOCM_RTS) : (lines & ~TIOCM_RTS);
  }
  if (ioctl(fd_, TIOCMSET, &lines) != 0) {
    DiagnoseError(
        "LinuxSerialMedia::SetPinState() call ioctl(TIOCMSET) fail. err = ",
        errno);
    return 0;
  }
  return 1;
}

void LinuxSerialMedia::Release() { delete this; }
