// Made-up WS-Discovery devices for the end-to-end tests, run on the scanner
// side of the test LAN:
//
//   wsd_responder INTERFACE DEVICES HTTP_LOG
//
// DEVICES holds one device a line: "ADDRESS|KIND|MAKE|MODEL|FRIENDLY NAME".
// Every device answers each scanner Probe to the multicast group, and each
// one sent to its ADDRESS alone (once per MessageID), with a ProbeMatches
// from ADDRESS, and the metadata Get on port 5357 of that address. KIND
// says how it behaves:
//   scanner          as a scanner should
//   printer          answers with the print device type only
//   foreign          answers with a RelatesTo of another message
//   oversized        answers with a datagram of 40 KiB
//   malformed        answers with XML that does not parse
//   silent           never answers the metadata Get (holds the connection)
//   huge-metadata    answers the Get with 80 KiB
//   elsewhere=ADDR   announces its metadata on ADDR instead of its own
//   forged           forged with ADDRESS as its source: never answers a Probe
//                    sent to ADDRESS alone, which its forger does not see
//   routed           on a network past a router, which multicast does not
//                    cross: answers only a Probe sent to ADDRESS alone
// Each metadata request is logged to HTTP_LOG as the address it reached.
// Returns once the devices listen, leaving them to run in the background
// until they are killed.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <pugixml.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kHttpPort = 5357;

struct Device {
  std::string address, kind, make, model, friendly;
  int socket = -1;
  // A "late" device keeps quiet until SIGUSR1, then says Hello.
  bool awake = true;
};

volatile sig_atomic_t g_wake = 0;
volatile sig_atomic_t g_move = 0;

[[noreturn]] void fail(const std::string& what) {
  std::cerr << "wsd_responder: " << what << ": " << std::strerror(errno) << "\n";
  std::exit(1);
}

std::string escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

sockaddr_in ipv4(const std::string& dotted, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, dotted.c_str(), &address.sin_addr) != 1)
    fail("bad address " + dotted);
  return address;
}

int bound_socket(int type, const sockaddr_in& address) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    fail("cannot bind");
  }
  return fd;
}

const char* kEnvelopeStart =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\""
    " xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
    " xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\""
    " xmlns:sc=\"http://schemas.microsoft.com/windows/2006/08/wdp/scan\""
    " xmlns:pr=\"http://schemas.microsoft.com/windows/2006/08/wdp/print\""
    " xmlns:m=\"http://schemas.xmlsoap.org/ws/2004/09/mex\""
    " xmlns:p=\"http://schemas.xmlsoap.org/ws/2006/02/devprof\">";

std::string probe_matches(const Device& device, std::size_t index, const std::string& relates_to) {
  const std::string endpoint = "urn:uuid:00000000-0000-4000-8000-" + std::to_string(100000 + index);
  std::string xaddr_host = device.address;
  if (device.kind.rfind("elsewhere=", 0) == 0)
    xaddr_host = device.kind.substr(10);
  std::string text = std::string(kEnvelopeStart) +
                     "<s:Header><a:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/"
                     "ProbeMatches</a:Action><a:RelatesTo>" +
                     (device.kind == "foreign" ? "urn:uuid:someone-else" : relates_to) +
                     "</a:RelatesTo></s:Header><s:Body><d:ProbeMatches><d:ProbeMatch>"
                     "<a:EndpointReference><a:Address>" +
                     endpoint + "</a:Address></a:EndpointReference><d:Types>" +
                     (device.kind == "printer" ? "pr:PrintDeviceType" : "sc:ScanDeviceType") +
                     "</d:Types><d:XAddrs>http://" + xaddr_host + ":" + std::to_string(kHttpPort) +
                     "/" + endpoint.substr(9) + "</d:XAddrs>";
  if (device.kind == "oversized")
    text += "<d:Scopes>" + std::string(std::size_t{40} * 1024, 'x') + "</d:Scopes>";
  text += "</d:ProbeMatch></d:ProbeMatches></s:Body></s:Envelope>";
  if (device.kind == "malformed")
    text.resize(text.size() - 40);
  return text;
}

// The Hello a late device multicasts when it wakes, as a device joining the
// network says it.
std::string hello(const Device& device, std::size_t index, int number) {
  const std::string endpoint = "urn:uuid:00000000-0000-4000-8000-" + std::to_string(100000 + index);
  return std::string(kEnvelopeStart) +
         "<s:Header><a:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/Hello</a:Action>"
         "<d:AppSequence InstanceId=\"1\" MessageNumber=\"" +
         std::to_string(number) +
         "\"/></s:Header><s:Body><d:Hello>"
         "<a:EndpointReference><a:Address>" +
         endpoint +
         "</a:Address></a:EndpointReference><d:Types>sc:ScanDeviceType</d:Types>"
         "<d:XAddrs>http://" +
         device.address + ":" + std::to_string(kHttpPort) + "/" + endpoint.substr(9) +
         "</d:XAddrs></d:Hello></s:Body></s:Envelope>";
}

std::string metadata(const Device& device) {
  std::string body = std::string(kEnvelopeStart) +
                     "<s:Body><m:Metadata><m:MetadataSection><p:ThisModel><p:Manufacturer>" +
                     escaped(device.make) + "</p:Manufacturer><p:ModelName>" +
                     escaped(device.model) +
                     "</p:ModelName></p:ThisModel></m:MetadataSection>"
                     "<m:MetadataSection><p:ThisDevice><p:FriendlyName>" +
                     escaped(device.friendly) +
                     "</p:FriendlyName></p:ThisDevice></m:MetadataSection></m:Metadata>";
  if (device.kind == "huge-metadata")
    body += "<!--" + std::string(std::size_t{80} * 1024, 'x') + "-->";
  body += "</s:Body></s:Envelope>";
  return "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// The MessageID of a Probe that asks for scanners; empty for anything else.
std::string scanner_probe_id(const std::string& datagram) {
  pugi::xml_document document;
  if (!document.load_buffer(datagram.data(), datagram.size()))
    return {};
  const std::string types = document.select_node("//*[local-name()='Types']").node().child_value();
  if (types.find("ScanDeviceType") == std::string::npos)
    return {};
  return document.select_node("//*[local-name()='MessageID']").node().child_value();
}

// `only`: the device the Probe was sent to alone.
void answer_probe(int listener, std::vector<Device>& devices, std::set<std::string>& seen,
                  const Device* only) {
  char buffer[65536];
  sockaddr_in from{};
  socklen_t from_size = sizeof from;
  const ssize_t size =
      recvfrom(listener, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &from_size);
  if (size <= 0)
    return;
  const std::string id = scanner_probe_id(std::string(buffer, static_cast<std::size_t>(size)));
  if (id.empty() || !seen.insert(id).second)
    return;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const bool skipped =
        only ? only != &devices[i] || only->kind == "forged" : devices[i].kind == "routed";
    if (skipped || !devices[i].awake)
      continue;
    const std::string text = probe_matches(devices[i], i, id);
    sendto(devices[i].socket, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&from),
           from_size);
  }
}

void answer_get(int listener, const std::vector<Device>& devices, std::ofstream& log,
                std::vector<int>& held) {
  const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (connection < 0)
    return;
  sockaddr_in local{};
  socklen_t local_size = sizeof local;
  getsockname(connection, reinterpret_cast<sockaddr*>(&local), &local_size);
  char dotted[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &local.sin_addr, dotted, sizeof dotted);
  log << dotted << std::endl;

  const timeval patience{2, 0};
  setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  std::string request;
  char buffer[4096];
  while (request.find("Envelope>") == std::string::npos) {
    const ssize_t got = read(connection, buffer, sizeof buffer);
    if (got <= 0)
      break;
    request.append(buffer, static_cast<std::size_t>(got));
  }
  for (const Device& device : devices) {
    if (device.address != dotted)
      continue;
    if (device.kind == "silent") {
      held.push_back(connection);
      return;
    }
    const std::string answer = metadata(device);
    if (write(connection, answer.data(), answer.size()) < 0)
      break;
  }
  close(connection);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: wsd_responder INTERFACE DEVICES HTTP_LOG\n";
    return 2;
  }
  std::vector<Device> devices;
  std::ifstream list(argv[2]);
  for (std::string line; std::getline(list, line);) {
    std::istringstream fields(line);
    Device device;
    std::getline(fields, device.address, '|');
    std::getline(fields, device.kind, '|');
    std::getline(fields, device.make, '|');
    std::getline(fields, device.model, '|');
    std::getline(fields, device.friendly);
    // Where a Probe sent to the device alone arrives.
    device.socket = bound_socket(SOCK_DGRAM, ipv4(device.address, 3702));
    device.awake = device.kind != "late";
    devices.push_back(device);
  }
  std::ofstream log(argv[3], std::ios::app);

  const int probes = bound_socket(SOCK_DGRAM, ipv4("0.0.0.0", 3702));
  ip_mreqn group{};
  inet_pton(AF_INET, "239.255.255.250", &group.imr_multiaddr);
  group.imr_ifindex = static_cast<int>(if_nametoindex(argv[1]));
  if (setsockopt(probes, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) != 0) {
    fail("cannot join the discovery group");
  }
  const int gets = bound_socket(SOCK_STREAM, ipv4("0.0.0.0", kHttpPort));
  if (listen(gets, 128) != 0)
    fail("cannot listen");
  const pid_t devices_process = fork();
  if (devices_process < 0)
    fail("cannot fork");
  if (devices_process > 0)
    return 0;

  struct sigaction wake {};
  wake.sa_handler = [](int) { g_wake = 1; };
  sigaction(SIGUSR1, &wake, nullptr);
  struct sigaction move {};
  move.sa_handler = [](int) { g_move = 1; };
  sigaction(SIGUSR2, &move, nullptr);
  std::set<std::string> seen;
  std::vector<int> held;
  for (;;) {
    // SIGUSR1 wakes the late devices; SIGUSR2 moves each device of kind
    // "mover=ADDRESS" there. Either way the device says Hello.
    const bool wake_now = g_wake != 0;
    const bool move_now = g_move != 0;
    g_wake = 0;
    g_move = 0;
    for (std::size_t i = 0; i < devices.size(); ++i) {
      Device& device = devices[i];
      int number = 1;
      if (wake_now && !device.awake) {
        device.awake = true;
      } else if (move_now && device.kind.rfind("mover=", 0) == 0) {
        close(device.socket);
        device.address = device.kind.substr(6);
        device.kind = "scanner";
        device.socket = bound_socket(SOCK_DGRAM, ipv4(device.address, 3702));
        number = 2;
      } else {
        continue;
      }
      const in_addr from = ipv4(device.address, 0).sin_addr;
      setsockopt(device.socket, IPPROTO_IP, IP_MULTICAST_IF, &from, sizeof from);
      const std::string text = hello(device, i, number);
      const sockaddr_in group = ipv4("239.255.255.250", 3702);
      sendto(device.socket, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&group),
             sizeof group);
    }
    std::vector<pollfd> waiting = {{probes, POLLIN, 0}, {gets, POLLIN, 0}};
    for (const Device& device : devices) waiting.push_back({device.socket, POLLIN, 0});
    if (poll(waiting.data(), waiting.size(), -1) < 0)
      continue;
    if (waiting[0].revents & POLLIN)
      answer_probe(probes, devices, seen, nullptr);
    if (waiting[1].revents & POLLIN)
      answer_get(gets, devices, log, held);
    for (std::size_t i = 0; i < devices.size(); ++i) {
      if (waiting[i + 2].revents & POLLIN)
        answer_probe(devices[i].socket, devices, seen, &devices[i]);
    }
  }
}
