// Made-up SNMP agents for the end-to-end tests, run on the scanner side of
// the test LAN:
//
//   snmp_responder DEVICES
//
// DEVICES holds one agent a line:
// "ADDRESS|KIND|COMMUNITY|SYSNAME|SYSDESCR|HRDEVICEDESCR|DEVICEID". An
// agent answers a GET under its COMMUNITY sent to its ADDRESS, and one sent
// to a broadcast address, from ADDRESS, with the values of its line (an
// empty one left out). KIND says how it behaves:
//   agent        as an agent should
//   routed       on a network past a router: answers no broadcast
//   oversized    each value padded to 1,000 bytes, and sysName an INTEGER
// (A real snmpd answers a broadcast from the broadcast address, and its
// sendto fails.) Returns once the agents listen, leaving them to run in the
// background until they are killed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Agent {
  std::string address, kind, community, sys_name, sys_descr, device_descr, device_id;
  int socket = -1;
};

[[noreturn]] void fail(const std::string& what) {
  std::cerr << "snmp_responder: " << what << ": " << std::strerror(errno) << "\n";
  std::exit(1);
}

int bound_socket(const std::string& dotted) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(161);
  if (inet_pton(AF_INET, dotted.c_str(), &address.sin_addr) != 1)
    fail("bad address " + dotted);
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    fail("cannot bind " + dotted);
  return fd;
}

std::string tlv(unsigned char type, const std::string& value) {
  std::string out(1, static_cast<char>(type));
  if (value.size() < 128) {
    out += static_cast<char>(value.size());
  } else {
    out += '\x82';
    out += static_cast<char>(value.size() >> 8);
    out += static_cast<char>(value.size() & 0xFF);
  }
  return out + value;
}

// The request's community and request-id field (as its BER bytes), read
// from the finder's GET; nothing for anything else.
struct Request {
  std::string community, request_id;
};

// Reads one TLV at `at`: its type, and its value's start and length.
bool read_tlv(const std::string& in, std::size_t& at, unsigned char& type, std::size_t& length) {
  if (at + 2 > in.size())
    return false;
  type = static_cast<unsigned char>(in[at]);
  std::size_t size = static_cast<unsigned char>(in[at + 1]);
  at += 2;
  if (size & 0x80) {
    const std::size_t bytes = size & 0x7F;
    size = 0;
    for (std::size_t i = 0; i < bytes && at < in.size(); ++i, ++at)
      size = size << 8 | static_cast<unsigned char>(in[at]);
  }
  length = size;
  return at + length <= in.size();
}

std::optional<Request> read_request(const std::string& in) {
  std::size_t at = 0, length = 0;
  unsigned char type = 0;
  Request request;
  if (!read_tlv(in, at, type, length) || type != 0x30 || !read_tlv(in, at, type, length) ||
      type != 0x02)
    return std::nullopt;
  at += length;  // the version
  if (!read_tlv(in, at, type, length) || type != 0x04)
    return std::nullopt;
  request.community = in.substr(at, length);
  at += length;
  if (!read_tlv(in, at, type, length) || type != 0xA0)
    return std::nullopt;
  const std::size_t id_start = at;
  if (!read_tlv(in, at, type, length) || type != 0x02)
    return std::nullopt;
  request.request_id = in.substr(id_start, at + length - id_start);
  return request;
}

std::string oid(const std::vector<unsigned>& arcs) {
  std::string out(1, static_cast<char>(arcs[0] * 40 + arcs[1]));
  for (std::size_t i = 2; i < arcs.size(); ++i) {
    if (arcs[i] >= 128)
      out += static_cast<char>(0x80 | (arcs[i] >> 7));
    out += static_cast<char>(arcs[i] & 0x7F);
  }
  return tlv(0x06, out);
}

std::string answer(const Agent& agent, const Request& request, std::size_t pad) {
  const auto value = [&](const std::string& text) {
    return tlv(0x04, text + std::string(pad > text.size() ? pad - text.size() : 0, '.'));
  };
  std::string binds;
  const auto add = [&](const std::vector<unsigned>& name, const std::string& text) {
    if (!text.empty())
      binds += tlv(0x30, oid(name) + value(text));
  };
  if (agent.kind == "oversized") {
    binds += tlv(0x30, oid({1, 3, 6, 1, 2, 1, 1, 5, 0}) + tlv(0x02, "\x07"));
  } else {
    add({1, 3, 6, 1, 2, 1, 1, 5, 0}, agent.sys_name);
  }
  add({1, 3, 6, 1, 2, 1, 1, 1, 0}, agent.sys_descr);
  add({1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 3, 1}, agent.device_descr);
  add({1, 3, 6, 1, 4, 1, 2699, 1, 2, 1, 2, 1, 1, 3, 1}, agent.device_id);
  return tlv(0x30, tlv(0x02, "\x01") + tlv(0x04, request.community) +
                       tlv(0xA2, request.request_id + tlv(0x02, std::string(1, '\0')) +
                                     tlv(0x02, std::string(1, '\0')) + tlv(0x30, binds)));
}

void respond(const Agent& agent, const Request& request, const sockaddr_in& to) {
  if (request.community != agent.community)
    return;
  const std::string text = answer(agent, request, agent.kind == "oversized" ? 1000 : 0);
  sendto(agent.socket, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&to),
         sizeof to);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: snmp_responder DEVICES\n";
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
  const int on = 1;
  setsockopt(broadcasts, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  const pid_t agents_process = fork();
  if (agents_process < 0)
    fail("cannot fork");
  if (agents_process > 0)
    return 0;

  for (;;) {
    std::vector<pollfd> waiting = {{broadcasts, POLLIN, 0}};
    for (const Agent& agent : agents) waiting.push_back({agent.socket, POLLIN, 0});
    if (poll(waiting.data(), waiting.size(), -1) < 0)
      continue;
    for (std::size_t i = 0; i < waiting.size(); ++i) {
      if (!(waiting[i].revents & POLLIN))
        continue;
      char buffer[4096];
      sockaddr_in from{};
      socklen_t from_size = sizeof from;
      const ssize_t size = recvfrom(waiting[i].fd, buffer, sizeof buffer, 0,
                                    reinterpret_cast<sockaddr*>(&from), &from_size);
      const auto request = size > 0
                               ? read_request(std::string(buffer, static_cast<std::size_t>(size)))
                               : std::nullopt;
      if (!request)
        continue;
      if (i > 0) {
        respond(agents[i - 1], *request, from);
        continue;
      }
      for (const Agent& agent : agents) {
        if (agent.kind != "routed")
          respond(agent, *request, from);
      }
    }
  }
}
