// A fresh directory per unit test, under the build tree (never the machine's
// /tmp or /etc/opt), with small helpers for the files a test writes and reads.
#pragma once

#include <optional>
#include <string>

#include "common/paths.h"

namespace kxsane::testing {

class TestDir {
 public:
  // Makes <work root>/<suite>.<test>, emptied first.
  TestDir();
  // Removes the directory unless the test failed.
  ~TestDir();

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

  // Writes `content` to `name` (relative to the directory), making parent
  // directories as needed.
  void write(const std::string& name, const std::string& content) const;
  // The whole content of `name`, or none when it does not exist.
  std::optional<std::string> read(const std::string& name) const;

  // Paths of a registry inside this directory: cfg/ holds the device
  // configuration file, Kxsane4.ini and models4/; temporary files go to tmp/.
  Paths paths() const;

 private:
  std::string path_;
};

// Runs `fn` with standard output captured; returns what it printed.
template <typename Fn>
std::string capture_stdout(Fn fn);

}  // namespace kxsane::testing

#include <gtest/gtest.h>

template <typename Fn>
std::string kxsane::testing::capture_stdout(Fn fn) {
  ::testing::internal::CaptureStdout();
  fn();
  std::fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}
