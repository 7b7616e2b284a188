// How the project carries "this failed, and why" from the place that knows to
// the place that prints: an operation returns a Status, a function that
// produces something returns a Result (the value, or the Status that says
// why there is none), and a predicate returns bool. Only the front ends
// print a Status.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>

namespace kxsane {

class Status {
 public:
  // The few outcomes callers branch on.
  enum class Code {
    kOk,
    // The file (or the entry) asked for does not exist.
    kNotFound,
    // The request was not carried out because of what it asked: a value
    // that is not valid, a name that is taken. The message is the one the
    // user sees.
    kRefused,
    // The request could not be carried out: a read, a write, a child, the
    // lock failed. The message says what and why.
    kFailed,
  };

  static Status Ok() { return Status(); }
  static Status NotFound(std::string message) {
    return Status(Code::kNotFound, std::move(message));
  }
  static Status Refused(std::string message) { return Status(Code::kRefused, std::move(message)); }
  static Status Failed(std::string message) { return Status(Code::kFailed, std::move(message)); }

  bool ok() const { return code_ == Code::kOk; }
  bool not_found() const { return code_ == Code::kNotFound; }
  bool refused() const { return code_ == Code::kRefused; }
  Code code() const { return code_; }
  // Why it failed; empty for success.
  const std::string& message() const { return message_; }

  // The same outcome with `prefix` in front of the message.
  Status with_prefix(const std::string& prefix) const {
    return ok() ? *this : Status(code_, prefix + message_);
  }

 private:
  Status() = default;
  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}

  Code code_ = Code::kOk;
  std::string message_;
};

// A value, or the Status that says why there is none.
template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
  // `failure` must not be ok.
  Result(Status failure) : status_(std::move(failure)) {  // NOLINT(google-explicit-constructor)
    assert(!status_.ok());
  }

  bool ok() const { return value_.has_value(); }
  // Ok when there is a value.
  const Status& status() const { return status_; }

  // Only when ok().
  T& value() {
    assert(ok());
    return *value_;
  }
  const T& value() const {
    assert(ok());
    return *value_;
  }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

 private:
  std::optional<T> value_;
  Status status_ = Status::Ok();
};

}  // namespace kxsane
