#pragma once

#include <ftw.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

// A fresh folder under /tmp, removed with everything in it when the guard
// goes out of scope. path() is empty when the folder could not be made.
class TempFolder final {
 public:
  TempFolder() {
    char pattern[] = "/tmp/kovra-test-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    auto remove = [](const char* path, const struct stat*, int, struct FTW*) {
      std::remove(path);
      return 0;
    };
    if (!path_.empty()) nftw(path_.c_str(), remove, 16, FTW_DEPTH | FTW_PHYS);
  }

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};
