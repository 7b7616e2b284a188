// Properties of what the watcher hears on the WS-Discovery group: any bytes
// either read as a Hello of a scan device or a Bye, with a plain endpoint
// address and a bounded list of transport addresses, or as nothing; and the
// AppSequence bookkeeping never takes the same message twice, nor one older
// than the last it took.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "discovery/watch.h"
#include "discovery/wsd_messages.h"
#include "shell_words.h"

using kxsane::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view datagram(reinterpret_cast<const char*>(data), size);
  const auto announcement = kxsane::parse_announcement(datagram);
  if (!announcement)
    return 0;
  const std::string& endpoint = announcement->device.endpoint;
  check(!endpoint.empty() && endpoint.size() <= kxsane::kMaxWsdTextBytes);
  for (const char c : endpoint) check(c > ' ' && c <= '~' && c != '<' && c != '&');
  check(announcement->device.xaddrs.size() <= 8);
  check(announcement->hello || announcement->device.xaddrs.empty());

  kxsane::AppSequenceBook book;
  const kxsane::AppSequence& sequence = announcement->sequence;
  check(book.is_fresh(endpoint, sequence));
  check(book.is_fresh(endpoint, sequence) == !sequence.present);  // a repeat is dropped
  if (sequence.present && sequence.instance > 0) {
    kxsane::AppSequence older = sequence;
    --older.instance;
    check(!book.is_fresh(endpoint, older));  // so is an older instance
  }
  return 0;
}
