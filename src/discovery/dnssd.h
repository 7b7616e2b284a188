// Finding scanners over DNS-SD (multicast DNS), through the system's Avahi
// daemon.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "common/status.h"
#include "discovery/protocols.h"
#include "discovery/sighting.h"

struct AvahiAddress;
struct AvahiStringList;

namespace kxsane {

// The service types a scanner announces itself under, in the order their
// sightings are preferred.
inline constexpr const char* kScannerServiceTypes[] = {"_uscan._tcp", "_uscans._tcp",
                                                       "_scanner._tcp"};
// The printer service types a multifunction device announces, many of them
// with no scanner service type of their own: an instance of one is a
// scanner's only when its TXT record says so (is_scanner_record).
inline constexpr const char* kPrinterServiceTypes[] = {"_ipp._tcp", "_ipps._tcp", "_printer._tcp",
                                                       "_pdl-datastream._tcp"};

// Every service type browsed: the scanner types, then the printer types.
std::vector<const char*> browsed_service_types();

// One resolved service instance, as the daemon handed it over. Any bytes.
struct DnssdRecord {
  std::string service;                                   // the service type
  std::string name;                                      // the instance name
  std::string host;                                      // "kx1.local"
  std::string address;                                   // dotted IPv4
  std::vector<std::pair<std::string, std::string>> txt;  // key, value, as the daemon lists them
};

// Whether a resolved instance is a scanner's: one of a scanner service
// type, or of a printer service type whose TXT record holds "Scan=T" (key
// and value without regard to case).
bool is_scanner_record(const DnssdRecord& record);

// The sighting a resolved instance makes: the model texts tried for an exact
// match are the TXT values "mdl" ("usb_MDL" for a printer service type),
// "product" without its parentheses and "ty" (the empty ones left out), the
// words searched are "ty", and the announced make and model are "usb_MFG"
// and that model (else "ty", else the product). TXT keys are compared
// without regard to case; the first of a key counts. Every text is cut by
// capped_text().
Sighting sighting_from_dnssd(const DnssdRecord& record);

// The record of an instance the daemon resolved: its IPv4 address printed,
// its TXT pairs in order (a key without value gets an empty one).
DnssdRecord resolved_record(const char* type, const char* name, const char* host,
                            const AvahiAddress& address, AvahiStringList* txt);

// At most this many instances are resolved in one run: a LAN that announces
// more is not a LAN of scanners, and memory stays bounded.
inline constexpr std::size_t kMaxDnssdInstances = 1024;
// At most this many announced names wait to be resolved; later ones are
// not taken.
inline constexpr std::size_t kMaxDnssdWaiting = 4096;
// Names are resolved in the order they were announced, at most this many at
// a time, each given up after kResolveTimeout: names that never resolve
// cannot keep one that does from its turn.
inline constexpr std::size_t kMaxResolving = 64;
inline constexpr std::chrono::milliseconds kResolveTimeout{1000};

// Browses every scanner service type on every interface over IPv4 and
// resolves each instance, handing one sighting per resolved instance to
// `out` as it comes. Returns once every browse has reported all it has for
// now and every name has been resolved or given up, or at `deadline`,
// whichever comes first (then `out` says what was left). An error only when
// the daemon cannot be reached (no daemon, no system bus), with what to
// start or install. Every call into the daemon waits for its answer: one
// that stopped answering keeps this from returning.
Status find_dnssd(std::chrono::steady_clock::time_point deadline, Findings& out);

// Run as root, the finder reaches the daemon over the system bus at its
// standard address only, never at one the caller's environment names
// (DBUS_SYSTEM_BUS_ADDRESS is dropped): whoever starts a root process must
// not choose whom it trusts. It changes the environment: call it before any
// thread starts.
void use_standard_system_bus();

}  // namespace kxsane
