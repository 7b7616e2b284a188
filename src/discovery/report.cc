#include "discovery/report.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "common/shell_command.h"

namespace kxsane {

namespace {

// Length of the UTF-8 sequence `lead` starts, 0 for a byte that starts none.
std::size_t sequence_length(unsigned char lead) {
  if (lead < 0x80)
    return 1;
  if (lead >= 0xC2 && lead <= 0xDF)
    return 2;
  if (lead >= 0xE0 && lead <= 0xEF)
    return 3;
  if (lead >= 0xF0 && lead <= 0xF4)
    return 4;
  return 0;
}

// Whether the `length` bytes at `s` are a valid UTF-8 sequence: continuation
// bytes, no overlong form, no surrogate, nothing above U+10FFFF.
bool valid_sequence(const unsigned char* s, std::size_t length) {
  for (std::size_t i = 1; i < length; ++i) {
    if ((s[i] & 0xC0) != 0x80)
      return false;
  }
  if (length == 3)
    return !(s[0] == 0xE0 && s[1] < 0xA0) && !(s[0] == 0xED && s[1] >= 0xA0);
  if (length == 4)
    return !(s[0] == 0xF0 && s[1] < 0x90) && !(s[0] == 0xF4 && s[1] >= 0x90);
  return true;
}

// Whether the valid three-byte sequence at `s` is a character that makes text
// display other than it is stored: a bidirectional embedding, override or
// isolate (U+202A..U+202E, U+2066..U+2069), a line or paragraph separator
// (U+2028, U+2029), or a byte order mark (U+FEFF).
bool is_deceptive_format(const unsigned char* s) {
  const unsigned code = (s[0] & 0x0Fu) << 12 | (s[1] & 0x3Fu) << 6 | (s[2] & 0x3Fu);
  return (code >= 0x2028 && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069) || code == 0xFEFF;
}

// A value from the network as one shell word.
std::string quoted(const std::string& text) {
  return shell_word(printable(text));
}

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i)
    out += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  return out;
}

std::string scanner_count(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " scanner" : " scanners");
}

std::string comment_for(const FoundScanner& s) {
  const std::string host = s.host.empty() ? "" : " (" + quoted(s.host) + ")";
  if (!s.refused.empty())
    return "# refused " + s.address + host + ": " + s.refused;
  if (s.registered && s.seen()) {
    return "# " + quoted(s.name) + " is registered; seen at " + s.address + host;
  }
  if (s.registered) {
    const std::string where = !s.address.empty() ? s.address : "nodename " + quoted(s.host);
    return "# " + quoted(s.name) + " is registered (" + where + ") but was not seen";
  }
  return "# no known model at " + s.address + host + ", which announces " +
         (s.announced.empty() ? "no model" : quoted(s.announced));
}

}  // namespace

std::string printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = sequence_length(bytes[i]);
    if (length == 0 || i + length > text.size() || !valid_sequence(bytes + i, length)) {
      out += '?';
      ++i;
      continue;
    }
    const bool c0_or_del = length == 1 && (bytes[i] < 0x20 || bytes[i] == 0x7F);
    const bool c1 = length == 2 && bytes[i] == 0xC2 && bytes[i + 1] < 0xA0;
    const bool format = length == 3 && is_deceptive_format(bytes + i);
    if (!c0_or_del && !c1 && !format)
      out.append(text, i, length);
    i += length;
  }
  return out;
}

std::string add_command(const FoundScanner& scanner) {
  return "kxsaneconfig4 -a " + quoted("name=" + scanner.name) + " " +
         quoted("model=" + scanner.model.value_or("")) + " " + quoted("ip=" + scanner.address);
}

std::string text_report(const std::vector<FoundScanner>& scanners,
                        const std::vector<std::string>& labels,
                        const std::vector<std::string>& subnets, double seconds, bool commands) {
  std::size_t seen = 0;
  for (const FoundScanner& s : scanners) seen += s.seen() && s.refused.empty() ? 1 : 0;
  char time[32];
  std::snprintf(time, sizeof time, "%.2f", seconds);
  std::string out = "# " + scanner_count(seen) + " found in " + time + " s over " + listed(labels);
  if (!subnets.empty())
    out += ", and at every address of " + listed(subnets);
  out += "\n";
  for (const FoundScanner& s : scanners) {
    if (!s.is_new()) {
      out += comment_for(s) + "\n";
    } else if (commands) {
      out += add_command(s) + "\n";
    }
  }
  return out;
}

std::string json_report(const std::vector<FoundScanner>& scanners) {
  nlohmann::json list = nlohmann::json::array();
  for (const FoundScanner& s : scanners) {
    nlohmann::json services = nlohmann::json::array();
    for (const std::string& service : s.services) services.push_back(printable(service));
    list.push_back({
        {"name", printable(s.name)},
        {"model", s.model ? nlohmann::json(printable(*s.model)) : nlohmann::json(nullptr)},
        {"announced", printable(s.announced)},
        {"address", s.address},
        {"host", printable(s.host)},
        {"services", services},
        {"registered", s.registered},
        {"refused", s.refused.empty() ? nlohmann::json(nullptr) : nlohmann::json(s.refused)},
    });
  }
  return list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace kxsane
