// The one SNMP exchange the finder has: an SNMPv2c GET for the four values
// that name a device, and the reader of its answer. Both go through
// net-snmp's message encoder and decoder only: the library is never
// initialised, so it reads no configuration file, no MIB and none of its
// environment variables, writes nothing, and logs nothing. Why the library
// and not an encoder of our own: bench/README.md (snmp_startup_bench.sh).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "discovery/search_scope.h"
#include "discovery/sighting.h"

namespace kxsane {

// The largest SNMP answer read; a larger one is dropped unread.
inline constexpr std::size_t kMaxSnmpAnswerBytes = std::size_t{8} * 1024;

// The values a device answered, each as its OCTET STRING bytes cut by
// capped_text(); empty when the device left it out, answered it with an
// exception or with another type.
struct SnmpAnswer {
  std::int32_t request_id = 0;
  std::string sys_name;      // sysName.0
  std::string sys_descr;     // sysDescr.0
  std::string device_descr;  // hrDeviceDescr.1
  std::string device_id;     // the IEEE 1284 device ID of the PWG port monitor MIB
};

// The GET request for sysName.0, sysDescr.0, hrDeviceDescr.1 and the device
// ID, as one datagram; empty when it cannot be encoded (a community longer
// than kMaxCommunity).
std::string snmp_request(std::string_view community, std::int32_t request_id);

// The answer in `datagram` when it is an SNMPv2c GetResponse (any
// community) that holds at least one of the values asked for as an OCTET
// STRING; nothing for anything else, however malformed. Variables with
// other names are ignored.
std::optional<SnmpAnswer> parse_snmp_answer(std::string_view datagram);

// The value of `key` in an IEEE 1284 device ID ("MFG:Kestrel;MDL:KX-100;"),
// keys compared without regard to ASCII case and blanks around the value
// dropped; empty when absent. `long_key` ("MANUFACTURER", "MODEL") is taken
// when `key` is absent.
std::string device_id_value(std::string_view device_id, std::string_view key,
                            std::string_view long_key);

// The sighting (service "snmp") an answer from `address` makes: its model
// texts are the device ID's MDL and hrDeviceDescr.1 (the empty ones left
// out), its words sysDescr.0, its name sysName.0, and what it announces
// MFG and MDL (else hrDeviceDescr.1, else sysDescr.0).
Sighting sighting_from_snmp(const SnmpAnswer& answer, const std::string& address);

}  // namespace kxsane
