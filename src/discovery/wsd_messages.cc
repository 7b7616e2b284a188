#include "discovery/wsd_messages.h"

#include <arpa/inet.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <pugixml.hpp>
#include <random>
#include <utility>

namespace kxsane {
namespace {

constexpr std::string_view kSoapNs = "http://www.w3.org/2003/05/soap-envelope";
constexpr std::string_view kAddressingNs = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
constexpr std::string_view kDiscoveryNs = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
constexpr std::string_view kScanNs = "http://schemas.microsoft.com/windows/2006/08/wdp/scan";
constexpr std::string_view kMexNs = "http://schemas.xmlsoap.org/ws/2004/09/mex";
constexpr std::string_view kDeviceProfileNs = "http://schemas.xmlsoap.org/ws/2006/02/devprof";

// A device may list several transport addresses; only the first acceptable
// one is used, so a few are plenty.
constexpr std::size_t kMaxXAddrs = 8;

// The namespace URI that `prefix` (empty: the default namespace) is bound to
// where `node` stands; empty when it is bound nowhere.
std::string_view namespace_uri(pugi::xml_node node, std::string_view prefix) {
  const std::string attribute = prefix.empty() ? "xmlns" : "xmlns:" + std::string(prefix);
  for (; node.type() == pugi::node_element; node = node.parent()) {
    if (const pugi::xml_attribute bound = node.attribute(attribute.c_str()))
      return bound.value();
  }
  return {};
}

// True when the qualified name `qname`, read where `scope` stands, names
// `local` in the namespace `uri`.
bool names(pugi::xml_node scope, std::string_view qname, std::string_view uri,
           std::string_view local) {
  const std::size_t colon = qname.find(':');
  const std::string_view prefix = colon == qname.npos ? std::string_view() : qname.substr(0, colon);
  const std::string_view own = colon == qname.npos ? qname : qname.substr(colon + 1);
  return own == local && namespace_uri(scope, prefix) == uri;
}

bool is_element(pugi::xml_node node, std::string_view uri, std::string_view local) {
  return node.type() == pugi::node_element && names(node, node.name(), uri, local);
}

// The first child element of `parent` named `local` in `uri`; a null node if
// there is none.
pugi::xml_node child(pugi::xml_node parent, std::string_view uri, std::string_view local) {
  for (const pugi::xml_node node : parent.children()) {
    if (is_element(node, uri, local))
      return node;
  }
  return {};
}

constexpr bool is_xml_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Splits `text` at XML white space.
std::vector<std::string_view> words(std::string_view text) {
  std::vector<std::string_view> found;
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && is_xml_space(text[at])) ++at;
    const std::size_t start = at;
    while (at < text.size() && !is_xml_space(text[at])) ++at;
    if (at > start)
      found.push_back(text.substr(start, at - start));
  }
  return found;
}

// The element's text without surrounding white space, cut by capped_text().
std::string text_of(pugi::xml_node node) {
  std::string_view text = node.child_value();
  while (!text.empty() && is_xml_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_xml_space(text.back())) text.remove_suffix(1);
  return capped_text(text);
}

// A URI that can go into a message of ours as it is: printable ASCII
// without quotes or markup characters.
bool is_plain_uri(std::string_view text) {
  if (text.empty() || text.size() > kMaxWsdTextBytes)
    return false;
  for (const char c : text) {
    if (c <= ' ' || c > '~' || c == '<' || c == '>' || c == '&' || c == '"' || c == '\'') {
      return false;
    }
  }
  return true;
}

// The SOAP 1.2 envelope at the root of `document`, if that is what it holds.
pugi::xml_node envelope(pugi::xml_document& document, std::string_view bytes) {
  if (!document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default))
    return {};
  const pugi::xml_node root = document.document_element();
  return is_element(root, kSoapNs, "Envelope") ? root : pugi::xml_node();
}

std::optional<ProbeMatch> read_probe_match(pugi::xml_node match) {
  const pugi::xml_node types = child(match, kDiscoveryNs, "Types");
  bool scanner = false;
  for (const std::string_view type : words(types.child_value())) {
    scanner = scanner || names(types, type, kScanNs, "ScanDeviceType");
  }
  const std::string_view endpoint =
      child(child(match, kAddressingNs, "EndpointReference"), kAddressingNs, "Address")
          .child_value();
  if (!scanner || !is_plain_uri(endpoint))
    return std::nullopt;

  ProbeMatch found{std::string(endpoint), {}};
  for (const std::string_view xaddr : words(child(match, kDiscoveryNs, "XAddrs").child_value())) {
    if (found.xaddrs.size() == kMaxXAddrs)
      break;
    if (xaddr.size() <= kMaxWsdTextBytes)
      found.xaddrs.emplace_back(xaddr);
  }
  return found;
}

void keep_first(std::string& kept, pugi::xml_node node) {
  if (kept.empty())
    kept = text_of(node);
}

}  // namespace

std::string new_message_id() {
  std::random_device source;
  std::array<unsigned char, 16> bytes;
  for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(source());
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  std::string id = "urn:uuid:";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10)
      id += '-';
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
    id += hex;
  }
  return id;
}

std::string probe_message(std::string_view message_id) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
      "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\""
      " xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
      " xmlns:wsd=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\""
      " xmlns:wscn=\"http://schemas.microsoft.com/windows/2006/08/wdp/scan\">"
      "<soap:Header>"
      "<wsa:To>urn:schemas-xmlsoap-org:ws:2005:04:discovery</wsa:To>"
      "<wsa:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</wsa:Action>"
      "<wsa:MessageID>";
  text += message_id;
  text +=
      "</wsa:MessageID>"
      "</soap:Header>"
      "<soap:Body><wsd:Probe><wsd:Types>wscn:ScanDeviceType</wsd:Types></wsd:Probe></soap:Body>"
      "</soap:Envelope>";
  return text;
}

std::string metadata_request(std::string_view message_id, std::string_view endpoint) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
      "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\""
      " xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\">"
      "<soap:Header>"
      "<wsa:To>";
  text += endpoint;
  text +=
      "</wsa:To>"
      "<wsa:Action>http://schemas.xmlsoap.org/ws/2004/09/transfer/Get</wsa:Action>"
      "<wsa:MessageID>";
  text += message_id;
  text +=
      "</wsa:MessageID>"
      "<wsa:ReplyTo><wsa:Address>"
      "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous"
      "</wsa:Address></wsa:ReplyTo>"
      "</soap:Header>"
      "<soap:Body/>"
      "</soap:Envelope>";
  return text;
}

std::optional<ProbeMatches> parse_probe_matches(std::string_view datagram) {
  pugi::xml_document document;
  const pugi::xml_node root = envelope(document, datagram);
  const pugi::xml_node matches = child(child(root, kSoapNs, "Body"), kDiscoveryNs, "ProbeMatches");
  ProbeMatches found;
  found.relates_to = text_of(child(child(root, kSoapNs, "Header"), kAddressingNs, "RelatesTo"));
  if (!matches || found.relates_to.empty())
    return std::nullopt;
  for (const pugi::xml_node match : matches.children()) {
    if (!is_element(match, kDiscoveryNs, "ProbeMatch"))
      continue;
    if (auto read = read_probe_match(match))
      found.matches.push_back(std::move(*read));
  }
  return found;
}

std::optional<DeviceDescription> parse_metadata(std::string_view answer) {
  pugi::xml_document document;
  const pugi::xml_node metadata =
      child(child(envelope(document, answer), kSoapNs, "Body"), kMexNs, "Metadata");
  if (!metadata)
    return std::nullopt;
  DeviceDescription found;
  for (const pugi::xml_node section : metadata.children()) {
    if (!is_element(section, kMexNs, "MetadataSection"))
      continue;
    for (const pugi::xml_node item : section.children()) {
      if (is_element(item, kDeviceProfileNs, "ThisModel")) {
        keep_first(found.manufacturer, child(item, kDeviceProfileNs, "Manufacturer"));
        keep_first(found.model_name, child(item, kDeviceProfileNs, "ModelName"));
      } else if (is_element(item, kDeviceProfileNs, "ThisDevice")) {
        keep_first(found.friendly_name, child(item, kDeviceProfileNs, "FriendlyName"));
      }
    }
  }
  return found;
}

std::optional<std::string> metadata_url(std::string_view xaddr, in_addr sender) {
  constexpr std::string_view kScheme = "http://";
  if (xaddr.size() > kMaxWsdTextBytes || xaddr.size() < kScheme.size())
    return std::nullopt;
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    if ((xaddr[i] | 0x20) != kScheme[i] && xaddr[i] != kScheme[i])
      return std::nullopt;
  }
  const std::string_view rest = xaddr.substr(kScheme.size());
  const std::size_t authority_end = std::min(rest.find_first_of("/?#"), rest.size());
  const std::string_view authority = rest.substr(0, authority_end);
  std::string path(rest.substr(authority_end, rest.find('#') - authority_end));
  if (path.empty() || path.front() != '/')
    path.insert(0, "/");
  for (const char c : path) {
    if (c <= ' ' || c > '~')
      return std::nullopt;
  }

  const std::size_t colon = authority.find(':');
  const std::string host(authority.substr(0, colon));
  unsigned port = 80;
  if (colon != authority.npos) {
    const std::string_view digits = authority.substr(colon + 1);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        port > 65535) {
      return std::nullopt;
    }
  }
  // The system's own services listen below 1024; a device's web service
  // listens on 80 or above 1023.
  if (port != 80 && port < 1024)
    return std::nullopt;
  in_addr named{};
  if (inet_pton(AF_INET, host.c_str(), &named) != 1 || named.s_addr != sender.s_addr) {
    return std::nullopt;
  }
  char dotted[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &sender, dotted, sizeof dotted);
  return "http://" + std::string(dotted) + ":" + std::to_string(port) + path;
}

Sighting wsd_sighting(const std::optional<DeviceDescription>& description, std::string address) {
  Sighting sighting;
  sighting.service = "wsd";
  sighting.address = std::move(address);
  if (!description)
    return sighting;
  const std::string& make = description->manufacturer;
  const std::string& model = description->model_name;
  sighting.name = description->friendly_name;
  sighting.announced = make.empty() || model.empty() ? make + model : make + " " + model;
  sighting.model_words = sighting.announced;
  if (!model.empty())
    sighting.model_texts.push_back(model);
  if (!make.empty() && !model.empty())
    sighting.model_texts.push_back(sighting.announced);
  return sighting;
}

std::optional<Announcement> parse_announcement(std::string_view datagram) {
  pugi::xml_document document;
  const pugi::xml_node root = envelope(document, datagram);
  const pugi::xml_node body = child(root, kSoapNs, "Body");
  Announcement found;
  if (const pugi::xml_node hello = child(body, kDiscoveryNs, "Hello")) {
    std::optional<ProbeMatch> device = read_probe_match(hello);
    if (!device)
      return std::nullopt;
    found.hello = true;
    found.device = std::move(*device);
  } else if (const pugi::xml_node bye = child(body, kDiscoveryNs, "Bye")) {
    const std::string_view endpoint =
        child(child(bye, kAddressingNs, "EndpointReference"), kAddressingNs, "Address")
            .child_value();
    if (!is_plain_uri(endpoint))
      return std::nullopt;
    found.device.endpoint = std::string(endpoint);
  } else {
    return std::nullopt;
  }
  const pugi::xml_node sequence =
      child(child(root, kSoapNs, "Header"), kDiscoveryNs, "AppSequence");
  if (sequence) {
    const auto number = [&](const char* name, std::uint64_t& value) {
      const std::string_view text = sequence.attribute(name).value();
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
      return !text.empty() && error == std::errc() && end == text.data() + text.size();
    };
    found.sequence.present = number("InstanceId", found.sequence.instance) &&
                             number("MessageNumber", found.sequence.number);
    found.sequence.sequence = capped_text(sequence.attribute("SequenceId").value());
  }
  return found;
}

}  // namespace kxsane
