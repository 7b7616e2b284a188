// Finding scanners over DNS-SD (multicast DNS), through the system's Avahi
// daemon.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "common/status.h"
#include "discovery/sighting.h"

namespace kxsane {

// The service types a scanner announces itself under, in the order their
// sightings are preferred.
inline constexpr const char* kScannerServiceTypes[] = {"_uscan._tcp", "_uscans._tcp",
                                                       "_scanner._tcp"};

// One resolved service instance, as the daemon handed it over. Any bytes.
struct DnssdRecord {
  std::string service;                                   // the service type
  std::string name;                                      // the instance name
  std::string host;                                      // "kx1.local"
  std::string address;                                   // dotted IPv4
  std::vector<std::pair<std::string, std::string>> txt;  // key, value, as the daemon lists them
};

// The sighting a resolved instance makes: the model texts tried for an exact
// match are the TXT values "mdl", "product" without its parentheses and "ty"
// (the empty ones left out), the words searched are "ty", and the announced
// make and model are "usb_MFG" and "mdl" (else "ty", else the product). TXT
// keys are compared without regard to case; the first of a key counts. Every
// text is cut by capped_text().
Sighting sighting_from_dnssd(const DnssdRecord& record);

// At most this many instances are resolved in one run: a LAN that announces
// more is not a LAN of scanners, and memory stays bounded.
inline constexpr std::size_t kMaxDnssdInstances = 1024;

// Browses every scanner service type on every interface over IPv4 and
// resolves each instance, appending one sighting per resolved instance to
// `out`. Returns once every browse has reported all it has for now and every
// resolve has answered, or at `deadline`, whichever comes first (what was
// found until then is kept). An error only when the daemon cannot be reached
// (no daemon, no system bus), with what to start or install.
Status find_dnssd(std::chrono::steady_clock::time_point deadline, std::vector<Sighting>* out);

}  // namespace kxsane
