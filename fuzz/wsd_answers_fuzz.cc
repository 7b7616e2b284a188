// Property: whatever a device sends over WS-Discovery, the readers keep only
// capped texts and plain endpoint addresses, and a metadata URL never names
// a host other than the one that answered.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "discovery/wsd_messages.h"
#include "shell_words.h"

using kxsane::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  in_addr sender{};
  inet_pton(AF_INET, "10.0.0.5", &sender);
  const std::string prefix = "http://10.0.0.5:";

  if (const auto answer = kxsane::parse_probe_matches(bytes)) {
    check(!answer->relates_to.empty() && answer->relates_to.size() <= kxsane::kMaxWsdTextBytes);
    for (const kxsane::ProbeMatch& match : answer->matches) {
      check(!match.endpoint.empty() && match.endpoint.size() <= kxsane::kMaxWsdTextBytes);
      check(match.endpoint.find_first_of("<>&\"' ") == std::string::npos);
      for (const std::string& xaddr : match.xaddrs) {
        if (const auto url = kxsane::metadata_url(xaddr, sender)) {
          check(url->compare(0, prefix.size(), prefix) == 0);
          check(url->find_first_of(" \r\n\t") == std::string::npos);
        }
      }
    }
  }
  if (const auto description = kxsane::parse_metadata(bytes)) {
    for (const std::string* text :
         {&description->manufacturer, &description->model_name, &description->friendly_name}) {
      check(text->size() <= kxsane::kMaxWsdTextBytes);
    }
  }
  if (const auto url = kxsane::metadata_url(bytes, sender)) {
    check(url->compare(0, prefix.size(), prefix) == 0);
  }
  return 0;
}
