#include "discovery/wsd_devices.h"

#include <fstream>
#include <sstream>

namespace kxsane::lan {

std::string start_wsd_devices(const Lan& lan, const std::string& responder, const std::string& work,
                              const std::string& devices, const std::vector<std::string>& extra) {
  std::ofstream(work + "/devices") << devices;
  std::string script = "set -e\n";
  std::vector<std::string> addresses = extra;
  std::istringstream lines(devices);
  for (std::string line; std::getline(lines, line);)
    addresses.push_back(line.substr(0, line.find('|')));
  for (const std::string& address : addresses) {
    script += "ip addr add " + address + "/24 dev kxlan1\n";
  }
  script += ": > '" + work + "/http.log'\n'" + responder + "' kxlan1 '" + work + "/devices' '" +
            work + "/http.log' > '" + work + "/responder.out' 2>&1\n";
  const ShellResult started = lan.scanner_shell(script);
  return started.status == 0 ? "" : "the WS-Discovery devices did not start: " + started.out;
}

std::string start_snmp_agents(const Lan& lan, const std::string& responder, const std::string& work,
                              const std::string& agents) {
  std::ofstream(work + "/agents") << agents;
  std::string script = "set -e\n";
  std::istringstream lines(agents);
  for (std::string line; std::getline(lines, line);)
    script += "ip addr replace " + line.substr(0, line.find('|')) + "/24 dev kxlan1\n";
  script += "'" + responder + "' '" + work + "/agents' > '" + work + "/snmp.out' 2>&1\n";
  const ShellResult started = lan.scanner_shell(script);
  return started.status == 0 ? "" : "the SNMP agents did not start: " + started.out;
}

}  // namespace kxsane::lan
