#include "discovery/wsd_metadata.h"

#include <curl/curl.h>
#include <poll.h>

#include <algorithm>
#include <mutex>

namespace kxsane {

struct MetadataFetcher::Transfer {
  Transfer(std::size_t key, std::string request) : key(key), request(std::move(request)) {}
  ~Transfer() {
    curl_easy_cleanup(easy);
    curl_slist_free_all(headers);
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  std::size_t key;
  std::string request;
  std::string body;
  CURL* easy = curl_easy_init();
  curl_slist* headers = nullptr;
};

namespace {

CURLM* as_multi(void* handle) {
  return static_cast<CURLM*>(handle);
}

// Keeps what fits in kMaxAnswerBytes; returning less than was given makes
// the client give up the transfer.
size_t keep_answer(char* data, size_t size, size_t count, void* user) {
  std::string& body = *static_cast<std::string*>(user);
  const size_t bytes = size * count;
  if (body.size() + bytes > kMaxAnswerBytes)
    return 0;
  body.append(data, bytes);
  return bytes;
}

}  // namespace

MetadataFetcher::MetadataFetcher() {
  static std::once_flag initialised;
  std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_NOTHING); });
  multi_ = curl_multi_init();
}

MetadataFetcher::~MetadataFetcher() {
  for (const auto& transfer : transfers_) {
    curl_multi_remove_handle(as_multi(multi_), transfer->easy);
  }
  transfers_.clear();
  if (multi_)
    curl_multi_cleanup(as_multi(multi_));
}

Status MetadataFetcher::status() const {
  return multi_ ? Status::Ok() : Status::Failed("WS-Discovery: cannot set up the HTTP client");
}

void MetadataFetcher::start(std::size_t key, const std::string& url, std::string request,
                            std::chrono::milliseconds timeout) {
  auto owned = std::make_unique<Transfer>(key, std::move(request));
  Transfer* transfer = owned.get();
  CURL* easy = transfer->easy;
  if (!multi_ || !easy) {
    finished_.emplace_back(key, std::nullopt);
    return;
  }
  transfer->headers =
      curl_slist_append(nullptr, "Content-Type: application/soap+xml; charset=utf-8");
  const long timeout_ms = std::max<long>(1, timeout.count());
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  // The URL names the device by its numeric address: nothing to resolve, and
  // nothing else (proxy, redirect, other protocol) may take the connection
  // elsewhere.
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(easy, CURLOPT_IPRESOLVE, CURL_IPRESOLVE_V4);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeout_ms);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, timeout_ms);
  curl_easy_setopt(easy, CURLOPT_MAXFILESIZE, static_cast<long>(kMaxAnswerBytes));
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, keep_answer);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer->body);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer->headers);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, transfer->request.c_str());
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(transfer->request.size()));
  curl_easy_setopt(easy, CURLOPT_PRIVATE, transfer);
  if (curl_multi_add_handle(as_multi(multi_), easy) != CURLM_OK) {
    finished_.emplace_back(key, std::nullopt);
    return;
  }
  transfers_.push_back(std::move(owned));
}

void MetadataFetcher::wait(int fd, Clock::time_point until) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
  curl_waitfd extra{fd, CURL_WAIT_POLLIN, 0};
  curl_multi_poll(as_multi(multi_), &extra, fd < 0 ? 0 : 1,
                  static_cast<int>(std::max<long>(0, left.count())), nullptr);
  int still_running = 0;
  curl_multi_perform(as_multi(multi_), &still_running);

  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(as_multi(multi_), &queued)) {
    if (message->msg != CURLMSG_DONE)
      continue;
    Transfer* transfer = nullptr;
    curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
    long code = 0;
    curl_easy_getinfo(message->easy_handle, CURLINFO_RESPONSE_CODE, &code);
    const bool answered = message->data.result == CURLE_OK && code == 200;
    finish(transfer, answered ? std::optional(std::move(transfer->body)) : std::nullopt);
  }
}

void MetadataFetcher::finish(Transfer* transfer, std::optional<std::string> body) {
  finished_.emplace_back(transfer->key, std::move(body));
  curl_multi_remove_handle(as_multi(multi_), transfer->easy);
  std::erase_if(transfers_, [&](const auto& owned) { return owned.get() == transfer; });
}

std::vector<MetadataFetcher::Answer> MetadataFetcher::take_finished() {
  return std::exchange(finished_, {});
}

}  // namespace kxsane
