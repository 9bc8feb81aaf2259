#include "tests/support/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) return;
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    close(master_);
    master_ = -1;
    return;
  }
  const char* name = ptsname(master_);
  if (name == nullptr) {
    close(master_);
    master_ = -1;
    return;
  }
  slave_path_ = name;
  // Without an open slave, the master reads end of file or EIO once the
  // last user of the slave closes it.
  slave_keeper_ = open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
}

PseudoTerminal::~PseudoTerminal() {
  if (slave_keeper_ >= 0) close(slave_keeper_);
  if (master_ >= 0) close(master_);
}

bool PseudoTerminal::Send(const std::string& bytes) {
  return write(master_, bytes.data(), bytes.size()) ==
         static_cast<ssize_t>(bytes.size());
}

bool PseudoTerminal::WaitReadable(int fd, int limit_millis) {
  struct pollfd wait = {fd, POLLIN, 0};
  return poll(&wait, 1, limit_millis) == 1 && (wait.revents & POLLIN) != 0;
}

std::string PseudoTerminal::Receive(size_t count, int limit_millis) {
  std::string bytes;
  while (bytes.size() < count && WaitReadable(master_, limit_millis)) {
    char buffer[256];
    ssize_t got = read(master_, buffer, sizeof(buffer));
    if (got <= 0) break;
    bytes.append(buffer, static_cast<size_t>(got));
  }
  return bytes;
}

void PseudoTerminal::Discard() {
  while (WaitReadable(master_, 0)) {
    char buffer[256];
    if (read(master_, buffer, sizeof(buffer)) <= 0) break;
  }
}
