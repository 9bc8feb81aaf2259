#include "service/http/status_board.h"

void StatusBoard::Publish(const StatusView& view) {
  // Copy the strings outside the lock, so the lock covers a move only.
  StatusView copy = view;
  std::lock_guard<std::mutex> lock(mutex_);
  view_ = std::move(copy);
}

StatusView StatusBoard::Copy() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return view_;
}
