// Properties of what the finder makes of announced records: any instance
// name, host name and TXT values become a scanner whose printed text is one
// comment or one "kxsaneconfig4 -a" command per line, which the shell takes
// word for word (a valid suggested name, the matched model, the address),
// with no control character anywhere (nor one that reorders or breaks the
// line where shown), and JSON that reads back.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "discovery/addresses.h"
#include "discovery/dnssd.h"
#include "discovery/report.h"
#include "discovery/survey.h"
#include "shell_words.h"

using kxsane::fuzz::check;

namespace {

// Fields are separated by NUL bytes: service-type selector, instance name,
// host name, then TXT "key=value" entries.
std::vector<std::string> fields_of(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      fields.emplace_back();
    } else {
      fields.back() += static_cast<char>(data[i]);
    }
  }
  return fields;
}

bool has_control(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      return true;
  }
  // The bidirectional controls, the line and paragraph separators, the BOM.
  for (const char* format : {"\u202A", "\u202B", "\u202C", "\u202D", "\u202E", "\u2066", "\u2067",
                             "\u2068", "\u2069", "\u2028", "\u2029", "\uFEFF"}) {
    if (text.find(format) != std::string::npos)
      return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> fields = fields_of(data, size);
  fields.resize(std::max<std::size_t>(fields.size(), 3));
  kxsane::DnssdRecord record;
  record.service = kxsane::kScannerServiceTypes[fields[0].size() % 3];
  record.name = fields[1];
  record.host = fields[2];
  record.address = "10.0.0." + std::to_string(fields[0].size() % 256);
  for (std::size_t i = 3; i < fields.size(); ++i) {
    const std::size_t equals = fields[i].find('=');
    record.txt.emplace_back(fields[i].substr(0, equals),
                            equals == std::string::npos ? "" : fields[i].substr(equals + 1));
  }
  const std::vector<std::string> models = {"KX-100", "KX 200", "x;$(id)", "'"};
  const std::vector<kxsane::RegisteredScanner> registered = {{"lab", "KX-100", "", "kx"}};
  // The machine at 10.0.0.1 on 10.0.0.0/24: some addresses are refused.
  const std::vector<kxsane::Ipv4Network> networks = {{0x0A000001, 0xFFFFFF00}};
  const auto found =
      kxsane::survey({kxsane::sighting_from_dnssd(record)}, models, registered, networks);
  check(found.size() == 1 || found.size() == 2);  // one scanner seen, one registered

  const std::string text = kxsane::text_report(found, {"DNS-SD"}, {}, 0.5, true);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    check(!has_control(line));  // no control character in a printed line
    if (line.rfind("# ", 0) == 0)
      continue;
    const auto words = kxsane::fuzz::shell_words(line);
    check(words && words->size() == 5);  // a command line is five literal words
    check((*words)[0] == "kxsaneconfig4" && (*words)[1] == "-a");  // only kxsaneconfig4 -a runs
    const std::string name = (*words)[2].substr(5);
    check((*words)[2].rfind("name=", 0) == 0 && kxsane::is_valid_friendly_name(name) &&
          name.size() <= kxsane::kMaxSuggestedName);                   // a valid suggested name
    check((*words)[4] == "ip=" + record.address);                      // the announcing address
    check(kxsane::address_refusal(record.address, networks).empty());  // one a scanner can have
  }
  const auto json = nlohmann::json::parse(kxsane::json_report(found));
  check(json.size() == found.size());  // JSON lists every scanner
  return 0;
}
