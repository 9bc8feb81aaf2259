#pragma once

#include <string>

// A temporary folder for one test, removed with everything in it when the
// object goes out of scope.
class TempDir final {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder's path, empty if it could not be made.
  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string Join(const std::string& name) const;

 private:
  std::string path_;
};
