#pragma once

#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

// A fresh folder under /tmp, removed with everything in it when the guard
// goes out of scope.
class TempFolder final {
 public:
  TempFolder() {
    char pattern[] = "/tmp/kovra-test-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    if (!path_.empty()) {
      nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
  }

  // Empty when the folder could not be made.
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  static int RemoveEntry(const char* path, const struct stat*, int,
                         struct FTW*) {
    std::remove(path);
    return 0;
  }

  std::string path_;
};
