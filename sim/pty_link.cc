#include "sim/pty_link.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

std::string Failure(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

}  // namespace

PtyLink::~PtyLink() { Close(); }

bool PtyLink::Open(const std::string& link_path, std::string* error) {
  Close();
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) {
    *error = Failure("posix_openpt");
    return false;
  }
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, name, sizeof(name)) != 0) {
    *error = Failure("cannot prepare the pseudo-terminal");
    Close();
    return false;
  }
  slave_path_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY);
  if (slave_ < 0) {
    *error = Failure("cannot open " + slave_path_);
    Close();
    return false;
  }
  termios settings{};
  if (tcgetattr(slave_, &settings) != 0) {
    *error = Failure("tcgetattr");
    Close();
    return false;
  }
  cfmakeraw(&settings);
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  cfsetispeed(&settings, B1200);
  cfsetospeed(&settings, B1200);
  if (tcsetattr(slave_, TCSANOW, &settings) != 0) {
    *error = Failure("tcsetattr");
    Close();
    return false;
  }
  int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
    *error = Failure("fcntl");
    Close();
    return false;
  }

  // Publish the link atomically: make it under a temporary name, then
  // rename it over the path, but only over nothing or an old link.
  struct stat existing {};
  if (lstat(link_path.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
    *error = link_path + " exists and is not a symbolic link";
    Close();
    return false;
  }
  std::string temporary = link_path + ".upssim-" + std::to_string(getpid());
  unlink(temporary.c_str());
  if (symlink(slave_path_.c_str(), temporary.c_str()) != 0) {
    *error = Failure("cannot create link " + link_path);
    Close();
    return false;
  }
  if (rename(temporary.c_str(), link_path.c_str()) != 0) {
    *error = Failure("cannot create link " + link_path);
    unlink(temporary.c_str());
    Close();
    return false;
  }
  link_path_ = link_path;
  return true;
}

void PtyLink::Close() {
  if (!link_path_.empty()) {
    // Remove the link only while it still points at this pty: another
    // simulator may have taken the name over.
    char target[256];
    ssize_t length = readlink(link_path_.c_str(), target, sizeof(target) - 1);
    if (length >= 0) {
      target[length] = '\0';
      if (slave_path_ == target) unlink(link_path_.c_str());
    }
    link_path_.clear();
  }
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  slave_ = -1;
  master_ = -1;
  slave_path_.clear();
}

int32_t PtyLink::Read(uint8_t* buffer, size_t capacity) {
  if (master_ < 0) return -1;
  ssize_t count = read(master_, buffer, capacity);
  if (count >= 0) return static_cast<int32_t>(count);
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
  return -1;
}

size_t PtyLink::Write(const uint8_t* data, size_t size, int32_t timeout_ms) {
  size_t written = 0;
  while (master_ >= 0 && written < size) {
    ssize_t count = write(master_, data + written, size - written);
    if (count > 0) {
      written += static_cast<size_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
    pollfd wait{master_, POLLOUT, 0};
    if (poll(&wait, 1, timeout_ms) <= 0) break;
  }
  return written;
}
