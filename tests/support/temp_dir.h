// A private folder under /tmp for one test, removed with everything in it when the test ends.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace qv::test {

class TTempDir {
 public:
  explicit TTempDir(const std::string& prefix = "qv") {
    std::string pattern = "/tmp/" + prefix + "_XXXXXX";
    if (mkdtemp(pattern.data())) Path = pattern;
    EXPECT_FALSE(Path.empty()) << "cannot make a folder like " << pattern;
  }
  ~TTempDir() {
    std::error_code ec;
    if (!Path.empty()) std::filesystem::remove_all(Path, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  std::string Path;
};

}  // namespace qv::test
