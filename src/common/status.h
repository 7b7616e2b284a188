// How the project carries "this failed, and why" from the place that knows to
// the place that prints.
#pragma once

#include <string>
#include <utility>

namespace kxsane {

class Status {
 public:
  static Status Ok() { return Status(); }
  static Status Error(std::string message) { return Status(Code::kError, std::move(message)); }
  // A failure that only says the file asked for does not exist.
  static Status NotFound(std::string message) {
    return Status(Code::kNotFound, std::move(message));
  }

  bool ok() const { return code_ == Code::kOk; }
  bool not_found() const { return code_ == Code::kNotFound; }
  // Why it failed; empty for success.
  const std::string& message() const { return message_; }

 private:
  enum class Code { kOk, kError, kNotFound };
  Status() = default;
  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}

  Code code_ = Code::kOk;
  std::string message_;
};

}  // namespace kxsane
