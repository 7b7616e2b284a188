#include "discovery/dnssd.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/simple-watch.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <memory>

namespace kxsane {

namespace {

bool same_key(const std::string& key, const char* wanted) {
  return key.size() == std::strlen(wanted) &&
         std::equal(key.begin(), key.end(), wanted, [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

std::string txt_value(const DnssdRecord& record, const char* key) {
  for (const auto& [k, v] : record.txt) {
    if (same_key(k, key))
      return capped_text(v);
  }
  return "";
}

// "(KX-100)" -> "KX-100"; a product without its parentheses stays as it is.
std::string without_parentheses(std::string product) {
  if (product.size() >= 2 && product.front() == '(' && product.back() == ')')
    return product.substr(1, product.size() - 2);
  return product;
}

}  // namespace

Sighting sighting_from_dnssd(const DnssdRecord& record) {
  Sighting sighting;
  sighting.service = capped_text(record.service);
  sighting.name = capped_text(record.name);
  sighting.host = capped_text(record.host);
  sighting.address = capped_text(record.address);
  const std::string mdl = txt_value(record, "mdl");
  const std::string product = without_parentheses(txt_value(record, "product"));
  const std::string ty = txt_value(record, "ty");
  for (const std::string* text : {&mdl, &product, &ty}) {
    if (!text->empty())
      sighting.model_texts.push_back(*text);
  }
  sighting.model_words = ty;
  const std::string make = txt_value(record, "usb_MFG");
  if (!mdl.empty()) {
    sighting.announced = make.empty() ? mdl : make + " " + mdl;
  } else {
    sighting.announced = !ty.empty() ? ty : product;
  }
  return sighting;
}

namespace {

// One run of browsing and resolving, driven by Avahi's simple poll loop on
// the calling thread.
class DnssdRun {
 public:
  explicit DnssdRun(std::vector<Sighting>* out) : out_(out) {}
  ~DnssdRun() {
    // Freeing the client frees its browsers and resolvers.
    if (client_ != nullptr)
      avahi_client_free(client_);
    if (poll_ != nullptr)
      avahi_simple_poll_free(poll_);
  }

  Status run(std::chrono::steady_clock::time_point deadline) {
    poll_ = avahi_simple_poll_new();
    if (poll_ == nullptr)
      return Status::Failed("DNS-SD: out of memory");
    int error = 0;
    client_ = avahi_client_new(avahi_simple_poll_get(poll_), static_cast<AvahiClientFlags>(0),
                               &DnssdRun::on_client, this, &error);
    if (client_ == nullptr) {
      return Status::Failed(std::string("DNS-SD: cannot reach the Avahi daemon (") +
                            avahi_strerror(error) +
                            "): start avahi-daemon and the system bus (dbus), or install the "
                            "avahi-daemon package");
    }
    for (const char* type : kScannerServiceTypes) {
      AvahiServiceBrowser* browser =
          avahi_service_browser_new(client_, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, type, nullptr,
                                    static_cast<AvahiLookupFlags>(0), &DnssdRun::on_browse, this);
      if (browser != nullptr)
        browsing_.push_back(browser);
    }
    while (!done() && !failed_) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0)
        break;
      if (avahi_simple_poll_iterate(
              poll_, static_cast<int>(std::min<long long>(left.count(), INT_MAX))) != 0)
        break;
    }
    return failed_ ? Status::Failed("DNS-SD: the Avahi daemon went away: " + failure_)
                   : Status::Ok();
  }

 private:
  bool done() const { return browsing_.empty() && resolving_ == 0; }

  static void on_client(AvahiClient* client, AvahiClientState state, void* self) {
    auto* run = static_cast<DnssdRun*>(self);
    if (state == AVAHI_CLIENT_FAILURE) {
      run->failed_ = true;
      run->failure_ = avahi_strerror(avahi_client_errno(client));
    }
  }

  static void on_browse(AvahiServiceBrowser* browser, AvahiIfIndex interface,
                        AvahiProtocol protocol, AvahiBrowserEvent event, const char* name,
                        const char* type, const char* domain, AvahiLookupResultFlags, void* self) {
    auto* run = static_cast<DnssdRun*>(self);
    switch (event) {
      case AVAHI_BROWSER_NEW:
        if (run->started_ < kMaxDnssdInstances &&
            avahi_service_resolver_new(run->client_, interface, protocol, name, type, domain,
                                       AVAHI_PROTO_INET, static_cast<AvahiLookupFlags>(0),
                                       &DnssdRun::on_resolve, self) != nullptr) {
          ++run->started_;
          ++run->resolving_;
        }
        break;
      case AVAHI_BROWSER_ALL_FOR_NOW:
      case AVAHI_BROWSER_FAILURE:
        // A browser that has reported all it has for now, or failed, is
        // waited for no longer (whichever it says first, and once).
        std::erase(run->browsing_, browser);
        break;
      default:
        break;
    }
  }

  static void on_resolve(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol,
                         AvahiResolverEvent event, const char* name, const char* type, const char*,
                         const char* host, const AvahiAddress* address, uint16_t,
                         AvahiStringList* txt, AvahiLookupResultFlags, void* self) {
    auto* run = static_cast<DnssdRun*>(self);
    if (event == AVAHI_RESOLVER_FOUND && address != nullptr && address->proto == AVAHI_PROTO_INET) {
      char dotted[AVAHI_ADDRESS_STR_MAX];
      avahi_address_snprint(dotted, sizeof dotted, address);
      DnssdRecord record{type ? type : "", name ? name : "", host ? host : "", dotted, {}};
      for (AvahiStringList* item = txt; item != nullptr; item = avahi_string_list_get_next(item)) {
        char* key = nullptr;
        char* value = nullptr;
        size_t size = 0;
        if (avahi_string_list_get_pair(item, &key, &value, &size) != 0)
          continue;
        record.txt.emplace_back(key, value != nullptr ? std::string(value, size) : "");
        avahi_free(key);
        avahi_free(value);
      }
      run->out_->push_back(sighting_from_dnssd(record));
    }
    avahi_service_resolver_free(resolver);
    --run->resolving_;
  }

  std::vector<Sighting>* out_;
  AvahiSimplePoll* poll_ = nullptr;
  AvahiClient* client_ = nullptr;
  std::vector<AvahiServiceBrowser*> browsing_;  // until all-for-now
  int resolving_ = 0;
  std::size_t started_ = 0;
  bool failed_ = false;
  std::string failure_;
};

}  // namespace

Status find_dnssd(std::chrono::steady_clock::time_point deadline, std::vector<Sighting>* out) {
  DnssdRun run(out);
  return run.run(deadline);
}

}  // namespace kxsane
