// Asks devices for their WS-Discovery metadata over HTTP, all side by side:
// a POST of the Get to a URL that metadata_url made (plain http on the
// numeric address of the device that answered), with no proxy, no redirect,
// no other protocol, and at most kMaxAnswerBytes of answer.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/status.h"

namespace kxsane {

inline constexpr std::size_t kMaxAnswerBytes = std::size_t{64} * 1024;

class MetadataFetcher {
 public:
  using Clock = std::chrono::steady_clock;
  // What one fetch brought: the key it was started with, and the answer's
  // body; nothing when it failed, timed out, was not a 200 or was too large.
  using Answer = std::pair<std::size_t, std::optional<std::string>>;

  MetadataFetcher();
  ~MetadataFetcher();
  MetadataFetcher(const MetadataFetcher&) = delete;
  MetadataFetcher& operator=(const MetadataFetcher&) = delete;

  // An error when the HTTP client could not be set up.
  Status status() const;

  // Starts posting `request` to `url`, given up after `timeout`.
  void start(std::size_t key, const std::string& url, std::string request,
             std::chrono::milliseconds timeout);

  // Moves the fetches on, waiting until one of them or the descriptor `fd`
  // (-1: none) has something to do, or at most until `until`.
  void wait(int fd, Clock::time_point until);

  // The fetches that ended since the last call.
  std::vector<Answer> take_finished();

  // True while a fetch runs.
  bool busy() const { return !transfers_.empty(); }

 private:
  struct Transfer;

  // Ends a transfer: takes it out of the running ones and frees it.
  void finish(Transfer* transfer, std::optional<std::string> body);

  void* multi_ = nullptr;  // the client's CURLM
  std::vector<std::unique_ptr<Transfer>> transfers_;
  std::vector<Answer> finished_;
};

}  // namespace kxsane
