// The WS-Discovery texts the finder sends and the answers it reads: a Probe
// for scanners, the ProbeMatches that come back over UDP, the metadata Get
// and its answer over HTTP. Everything read here came from the network: the
// readers take any bytes, return nothing for what does not parse, and cap
// every text they keep.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/sighting.h"

namespace kxsane {

// Longest text kept from an answer (an endpoint address, a name, a model);
// longer ones are cut, as every protocol cuts them.
inline constexpr std::size_t kMaxWsdTextBytes = kMaxSightingText;

// A fresh "urn:uuid:..." (random, version 4) for a message's MessageID.
std::string new_message_id();

// The SOAP 1.2 Probe for the type wscn:ScanDeviceType, sent to the
// WS-Discovery multicast group under `message_id`.
std::string probe_message(std::string_view message_id);

// The WS-Transfer Get that asks the device `endpoint` (its endpoint address,
// as parse_probe_matches returned it) for its metadata.
std::string metadata_request(std::string_view message_id, std::string_view endpoint);

struct ProbeMatch {
  // The device's endpoint address (a URI): the same device under every
  // address and in every answer.
  std::string endpoint;
  // The transport addresses as announced, in order; untrusted.
  std::vector<std::string> xaddrs;
};

struct ProbeMatches {
  // The MessageID of the Probe this message answers.
  std::string relates_to;
  // Only the matches whose Types name the scan device type and whose
  // endpoint address is a plain URI (printable ASCII, no quotes or markup).
  std::vector<ProbeMatch> matches;
};

// Reads one UDP datagram; nothing when it is not a SOAP 1.2 ProbeMatches
// message with a RelatesTo.
std::optional<ProbeMatches> parse_probe_matches(std::string_view datagram);

// What a device says about itself in its metadata; each text may be empty.
struct DeviceDescription {
  std::string manufacturer;   // ThisModel/Manufacturer
  std::string model_name;     // ThisModel/ModelName
  std::string friendly_name;  // ThisDevice/FriendlyName
};

// Reads the answer to a metadata Get; nothing when it is not a SOAP 1.2
// envelope whose body holds a Metadata element.
std::optional<DeviceDescription> parse_metadata(std::string_view answer);

// The URL the metadata may be fetched from: `xaddr` when it is an http://
// address whose host is the dotted IPv4 address `sender` (the one that sent
// the ProbeMatches), rebuilt from that address, the port and the path, so it
// cannot name any other host. Nothing for any other scheme, host, user part,
// a port other than 80 below 1024, or a path with characters outside
// printable ASCII.
std::optional<std::string> metadata_url(std::string_view xaddr, in_addr sender);

// The sighting of the device at `address`; `description` is nothing when it
// did not describe itself (then it is listed without a model).
Sighting wsd_sighting(const std::optional<DeviceDescription>& description, std::string address);

// Where a message stands among those its device sent: AppSequence's
// InstanceId (grows when the device restarts), SequenceId (empty when not
// given) and MessageNumber (grows with every message of the sequence).
struct AppSequence {
  bool present = false;
  std::uint64_t instance = 0;
  std::string sequence;
  std::uint64_t number = 0;
};

// A device saying it joins the network (Hello) or leaves it (Bye), as the
// multicast group hears it.
struct Announcement {
  bool hello = false;  // false: Bye
  // The endpoint address; for a Hello also its transport addresses (only
  // Hellos of scan devices are read).
  ProbeMatch device;
  AppSequence sequence;
};

// Reads one datagram heard on the multicast group; nothing when it is not a
// SOAP 1.2 Hello of a scan device or a Bye with a plain endpoint address.
std::optional<Announcement> parse_announcement(std::string_view datagram);

}  // namespace kxsane
