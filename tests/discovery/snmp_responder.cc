// Made-up SNMP agents for the end-to-end tests, run on the scanner side of
// the test LAN:
//
//   snmp_responder AGENTS
//
// AGENTS holds one agent a line:
// "ADDRESS|KIND|COMMUNITY|SYSNAME|SYSDESCR|HRDEVICEDESCR|DEVICEID". An
// agent answers a GET under its COMMUNITY sent to its ADDRESS, or to a
// broadcast address, from ADDRESS, with the values of its line (the empty
// ones left out). KIND says how it behaves:
//   agent        as an agent should
//   routed       on a network past a router: answers no broadcast
//   oversized    each value padded to 1,000 bytes, and sysName an INTEGER
// (A real snmpd answers a broadcast from the broadcast address, and its
// sendto fails.) Returns once the agents listen, leaving them to run in the
// background until they are killed.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "discovery/snmp_message.h"

namespace {

using kxsane::testing::SnmpMessage;

struct Agent {
  std::string address, kind, community, sys_name, sys_descr, device_descr, device_id;
  int socket = -1;
};

int bound_socket(const std::string& dotted) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(161);
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  if (inet_pton(AF_INET, dotted.c_str(), &address.sin_addr) != 1 || fd < 0 ||
      bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    std::cerr << "snmp_responder: cannot bind " << dotted << ": " << std::strerror(errno) << "\n";
    std::exit(1);
  }
  return fd;
}

void respond(const Agent& agent, const SnmpMessage& request, const sockaddr_in& to) {
  if (request.command != SNMP_MSG_GET || request.community != agent.community)
    return;
  const std::size_t pad = agent.kind == "oversized" ? 1000 : 0;
  SnmpMessage answer{SNMP_MSG_RESPONSE, SNMP_VERSION_2c, agent.community, request.request_id, {}};
  const std::string* values[] = {&agent.sys_name, &agent.sys_descr, &agent.device_descr,
                                 &agent.device_id};
  for (std::size_t i = 0; i < request.variables.size() && i < std::size(values); ++i) {
    std::string value = *values[i];
    if (!value.empty())
      value.resize(std::max(pad, value.size()), '.');
    if (i == 0 && pad > 0) {
      const long seven = 7;
      answer.variables.push_back(
          {request.variables[i].name, ASN_INTEGER,
           std::string(reinterpret_cast<const char*>(&seven), sizeof seven)});
    } else if (!value.empty()) {
      answer.variables.push_back({request.variables[i].name, ASN_OCTET_STR, value});
    }
  }
  const std::string bytes = kxsane::testing::write_snmp(answer);
  sendto(agent.socket, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
         sizeof to);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: snmp_responder AGENTS\n";
    return 2;
  }
  std::vector<Agent> agents;
  std::ifstream list(argv[1]);
  for (std::string line; std::getline(list, line);) {
    std::istringstream fields(line);
    Agent agent;
    for (std::string* field : {&agent.address, &agent.kind, &agent.community, &agent.sys_name,
                               &agent.sys_descr, &agent.device_descr, &agent.device_id})
      std::getline(fields, *field, '|');
    agent.socket = bound_socket(agent.address);
    agents.push_back(agent);
  }
  // What is sent to no agent's own address: the broadcasts.
  const int broadcasts = bound_socket("0.0.0.0");
  if (fork() != 0)
    return 0;
  for (;;) {
    std::vector<pollfd> waiting = {{broadcasts, POLLIN, 0}};
    for (const Agent& agent : agents) waiting.push_back({agent.socket, POLLIN, 0});
    if (poll(waiting.data(), waiting.size(), -1) < 0)
      continue;
    for (std::size_t i = 0; i < waiting.size(); ++i) {
      char buffer[4096];
      sockaddr_in from{};
      socklen_t from_size = sizeof from;
      const ssize_t size = (waiting[i].revents & POLLIN)
                               ? recvfrom(waiting[i].fd, buffer, sizeof buffer, 0,
                                          reinterpret_cast<sockaddr*>(&from), &from_size)
                               : -1;
      const auto request =
          size > 0 ? kxsane::testing::read_snmp(std::string(buffer, size)) : std::nullopt;
      for (std::size_t a = 0; request && a < agents.size(); ++a) {
        if (i == a + 1 || (i == 0 && agents[a].kind != "routed"))
          respond(agents[a], *request, from);
      }
    }
  }
}
