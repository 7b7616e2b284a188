// Made-up WS-Discovery devices and SNMP agents on a test LAN: the test
// responders (wsd_responder.cc, snmp_responder.cc) started on the scanner
// side.
#pragma once

#include <string>
#include <vector>

#include "discovery/lan.h"

namespace kxsane::lan {

// Puts the address of every device of `devices` (the responder's lines,
// "ADDRESS|KIND|MAKE|MODEL|FRIENDLY NAME") and the `extra` addresses on the
// scanner side's link, and starts `responder` there. Returns once the
// devices listen: empty, or what failed. Each metadata request they receive
// is logged to WORK/http.log as the address it reached; `work` must exist.
std::string start_wsd_devices(const Lan& lan, const std::string& responder, const std::string& work,
                              const std::string& devices,
                              const std::vector<std::string>& extra = {});

// Puts the address of every agent of `agents` (snmp_responder's lines,
// "ADDRESS|KIND|COMMUNITY|...") on the scanner side's link, where it may be
// already, and starts `responder` there. Returns once the agents listen:
// empty, or what failed. `work` must exist.
std::string start_snmp_agents(const Lan& lan, const std::string& responder, const std::string& work,
                              const std::string& agents);

}  // namespace kxsane::lan
