// How the project carries "this failed, and why" from the place that knows to
// the place that prints.
#pragma once

#include <string>
#include <utility>

namespace kxsane {

class Status {
 public:
  static Status Ok() { return Status(); }
  static Status Error(std::string message) { return Status(std::move(message)); }

  bool ok() const { return !failed_; }
  // Why it failed; empty for success.
  const std::string& message() const { return message_; }

 private:
  Status() = default;
  explicit Status(std::string message) : failed_(true), message_(std::move(message)) {}

  bool failed_ = false;
  std::string message_;
};

}  // namespace kxsane
