#include "discovery/dnssd.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/simple-watch.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
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

bool is_printer_service(const std::string& type) {
  return std::any_of(std::begin(kPrinterServiceTypes), std::end(kPrinterServiceTypes),
                     [&](const char* printer) { return type == printer; });
}

// "(KX-100)" -> "KX-100"; a product without its parentheses stays as it is.
std::string without_parentheses(std::string product) {
  if (product.size() >= 2 && product.front() == '(' && product.back() == ')')
    return product.substr(1, product.size() - 2);
  return product;
}

}  // namespace

std::vector<const char*> browsed_service_types() {
  std::vector<const char*> types(std::begin(kScannerServiceTypes), std::end(kScannerServiceTypes));
  types.insert(types.end(), std::begin(kPrinterServiceTypes), std::end(kPrinterServiceTypes));
  return types;
}

bool is_scanner_record(const DnssdRecord& record) {
  if (!is_printer_service(record.service)) {
    return std::any_of(std::begin(kScannerServiceTypes), std::end(kScannerServiceTypes),
                       [&](const char* scanner) { return record.service == scanner; });
  }
  const std::string scan = txt_value(record, "Scan");
  return scan.size() == 1 && (scan[0] == 'T' || scan[0] == 't');
}

Sighting sighting_from_dnssd(const DnssdRecord& record) {
  Sighting sighting;
  sighting.service = capped_text(record.service);
  sighting.name = capped_text(record.name);
  sighting.host = capped_text(record.host);
  sighting.address = capped_text(record.address);
  const std::string mdl = txt_value(record, is_printer_service(record.service) ? "usb_MDL" : "mdl");
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

DnssdRecord resolved_record(const char* type, const char* name, const char* host,
                            const AvahiAddress& address, AvahiStringList* txt) {
  char dotted[AVAHI_ADDRESS_STR_MAX];
  avahi_address_snprint(dotted, sizeof dotted, &address);
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
  return record;
}

namespace {

using Clock = std::chrono::steady_clock;

// An announced instance, as a browser reported it.
struct Announced {
  AvahiIfIndex interface;
  AvahiProtocol protocol;
  std::string name, type, domain;
  bool retried = false;
};

struct Resolving {
  AvahiServiceResolver* resolver;
  Clock::time_point give_up;
  Announced announced;
};

// One run of browsing and resolving, driven by Avahi's simple poll loop on
// the calling thread. The callbacks only take what the daemon reports; the
// loop makes every call into the daemon, so that it looks at the deadline
// before each.
class DnssdRun {
 public:
  explicit DnssdRun(Findings& out) : out_(out) {}
  ~DnssdRun() {
    // Freeing the client frees its browsers and resolvers.
    if (client_ != nullptr)
      avahi_client_free(client_);
    if (poll_ != nullptr)
      avahi_simple_poll_free(poll_);
  }

  Status run(Clock::time_point deadline) {
    // What the caller is told should a call into the daemon never return.
    out_.unfinished("the Avahi daemon stopped answering");
    Status status = search(deadline);
    out_.unfinished(status.ok() ? left_over() : "");
    return status;
  }

 private:
  Status search(Clock::time_point deadline) {
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
    for (const char* type : browsed_service_types()) {
      AvahiServiceBrowser* browser =
          avahi_service_browser_new(client_, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, type, nullptr,
                                    static_cast<AvahiLookupFlags>(0), &DnssdRun::on_browse, this);
      if (browser != nullptr)
        browsing_.push_back(browser);
    }
    out_.searching();
    for (Clock::time_point now = Clock::now(); now < deadline && !failed_; now = Clock::now()) {
      give_up_overdue(now);
      start_waiting(deadline);
      if (done())
        break;
      const Clock::time_point wake =
          resolving_.empty() ? deadline : std::min(deadline, resolving_.front().give_up);
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
      if (avahi_simple_poll_iterate(
              poll_, static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX))) != 0)
        break;
    }
    return failed_ ? Status::Failed("DNS-SD: the Avahi daemon went away: " + failure_)
                   : Status::Ok();
  }

  bool done() const { return browsing_.empty() && waiting_.empty() && resolving_.empty(); }

  // Why the run ended before it was done; empty when it was.
  std::string left_over() const {
    if (const std::size_t left = waiting_.size() + resolving_.size(); left > 0)
      return std::to_string(left) + " announced instances not resolved before the timeout";
    if (!browsing_.empty())
      return "the Avahi daemon had not listed every instance before the timeout";
    return "";
  }

  // Resolvers are started in turn, so the first is the first to expire. A
  // daemon that is only slow (a LAN of a thousand scanners) may answer a
  // name the second time: a name given up on is tried once more, behind
  // every name that waits.
  void give_up_overdue(Clock::time_point now) {
    while (!resolving_.empty() && resolving_.front().give_up <= now) {
      avahi_service_resolver_free(resolving_.front().resolver);
      if (!resolving_.front().announced.retried) {
        resolving_.front().announced.retried = true;
        waiting_.push_back(std::move(resolving_.front().announced));
      }
      resolving_.pop_front();
    }
  }

  void start_waiting(Clock::time_point deadline) {
    while (resolving_.size() < kMaxResolving && !waiting_.empty() && Clock::now() < deadline) {
      Announced next = std::move(waiting_.front());
      waiting_.pop_front();
      AvahiServiceResolver* resolver =
          avahi_service_resolver_new(client_, next.interface, next.protocol, next.name.c_str(),
                                     next.type.c_str(), next.domain.c_str(), AVAHI_PROTO_INET,
                                     static_cast<AvahiLookupFlags>(0), &DnssdRun::on_resolve, this);
      if (resolver != nullptr)
        resolving_.push_back({resolver, Clock::now() + kResolveTimeout, std::move(next)});
    }
  }

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
        if (run->taken_ < kMaxDnssdWaiting && run->found_ < kMaxDnssdInstances) {
          ++run->taken_;
          run->waiting_.push_back(
              {interface, protocol, name ? name : "", type ? type : "", domain ? domain : ""});
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
    if (event == AVAHI_RESOLVER_FOUND && address != nullptr && address->proto == AVAHI_PROTO_INET &&
        run->found_ < kMaxDnssdInstances) {
      const DnssdRecord record = resolved_record(type, name, host, *address, txt);
      if (is_scanner_record(record)) {
        ++run->found_;
        run->out_.add(sighting_from_dnssd(record));
        if (run->found_ == kMaxDnssdInstances)
          run->waiting_.clear();
      }
    }
    std::erase_if(run->resolving_,
                  [resolver](const Resolving& r) { return r.resolver == resolver; });
    avahi_service_resolver_free(resolver);
  }

  Findings& out_;
  AvahiSimplePoll* poll_ = nullptr;
  AvahiClient* client_ = nullptr;
  std::vector<AvahiServiceBrowser*> browsing_;  // until all-for-now
  std::deque<Announced> waiting_;
  std::deque<Resolving> resolving_;  // in the order they were started
  std::size_t taken_ = 0;            // names taken into waiting_
  std::size_t found_ = 0;            // instances resolved
  bool failed_ = false;
  std::string failure_;
};

}  // namespace

Status find_dnssd(Clock::time_point deadline, Findings& out) {
  DnssdRun run(out);
  return run.run(deadline);
}

void use_standard_system_bus() {
  if (geteuid() == 0)
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace kxsane
