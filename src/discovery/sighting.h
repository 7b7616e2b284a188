// What one discovery protocol learnt about one service of one host on the
// LAN. Every text in it came from the network: untrusted, any bytes, any
// length (the protocol readers cap them), never printed or passed to a shell
// without cleaning and quoting.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kxsane {

// The most bytes of any one text a protocol keeps from an answer.
inline constexpr std::size_t kMaxSightingText = 255;

// `text` cut to kMaxSightingText bytes, never inside a UTF-8 sequence.
inline std::string capped_text(std::string_view text) {
  if (text.size() > kMaxSightingText) {
    std::size_t cut = kMaxSightingText;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text = text.substr(0, cut);
  }
  return std::string(text);
}

struct Sighting {
  // The service type for DNS-SD ("_uscan._tcp", "_ipp._tcp", ...), "wsd"
  // for WS-Discovery, "snmp" for SNMP.
  std::string service;
  // The instance name (DNS-SD) or the friendly name (WS-Discovery) the
  // scanner's suggested name is made from; may be empty.
  std::string name;
  // The host name as announced ("kx1.local"); may be empty.
  std::string host;
  // Dotted IPv4 address of the host; sightings of one address are one scanner.
  std::string address;
  // Texts tried in order for an exact match with a model of the table.
  std::vector<std::string> model_texts;
  // Text searched, without regard to case, for the longest model of the table
  // that occurs in it as whole words, when no text matched exactly.
  std::string model_words;
  // Make and model as the device announced them, shown to the admin.
  std::string announced;
};

}  // namespace kxsane
