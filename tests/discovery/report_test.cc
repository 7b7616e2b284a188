#include "discovery/report.h"

#include <gtest/gtest.h>

namespace kxsane {
namespace {

TEST(Printable, DropsControlAndBidiCharactersAndMarksInvalidUtf8) {
  const struct {
    std::string text;
    std::string shown;
  } kCases[] = {
      {"\x1b[31mred\r\n", "[31mred"},
      {"a\x7f\tb", "ab"},
      {"\xc2\x9b"
       "2J",
       "2J"},
      {"Büro ✓", "Büro ✓"},
      {"\xff"
       "a",
       "?a"},
      {"\xc0\xaf", "??"},
      {"\xed\xa0\x80", "???"},
      {"x\xe2\x82", "x??"},
      {"\xf4\x90\x80\x80", "????"},
      {"Lab \u202Efdp.exe\u202C", "Lab fdp.exe"},  // reads reversed where shown
      {"\u202A\u202B\u202D\u2066\u2067\u2068a\u2069", "a"},
      {"\uFEFFone\u2028two\u2029", "onetwo"},
      {"\u2027\u202F\u2065\u206A\uFEFE", "\u2027\u202F\u2065\u206A\uFEFE"},  // neighbours kept
  };
  for (const auto& c : kCases) EXPECT_EQ(printable(c.text), c.shown) << c.text;
}

FoundScanner scanner(std::string name, std::optional<std::string> model, std::string address,
                     bool registered, bool seen, std::string refused = "") {
  FoundScanner s;
  s.refused = std::move(refused);
  s.name = std::move(name);
  s.model = std::move(model);
  s.address = std::move(address);
  s.host = "kx.local";
  s.announced = "Acme 'X'\n$(id)";
  s.registered = registered;
  if (seen)
    s.services = {"_uscan._tcp"};
  return s;
}

TEST(TextReport, FirstLineCountsWhatWasSeenAndNotRefusedAndNamesTheProtocols) {
  const std::vector<FoundScanner> scanners = {
      scanner("office", "KX-100", "10.0.0.1", false, true),
      scanner("lab", "KX-100", "10.0.0.2", true, false),
      scanner("loop", "KX-100", "127.0.0.1", false, true, "a loopback address"),
  };
  const struct {
    std::vector<std::string> labels;
    std::vector<std::string> subnets;
    std::vector<FoundScanner> scanners;
    std::string first_line;
  } kCases[] = {
      {{"DNS-SD"}, {}, scanners, "# 1 scanner found in 0.25 s over DNS-SD\n"},
      {{"DNS-SD", "WS-Discovery"},
       {},
       {},
       "# 0 scanners found in 0.25 s over DNS-SD and WS-Discovery\n"},
      {{"DNS-SD", "WS-Discovery", "SNMP"},
       {"10.78.0.0/24", "10.79.0.0/24"},
       {},
       "# 0 scanners found in 0.25 s over DNS-SD, WS-Discovery and SNMP, and at every address "
       "of 10.78.0.0/24 and 10.79.0.0/24\n"},
  };
  for (const auto& c : kCases) {
    const std::string report = text_report(c.scanners, c.labels, c.subnets, 0.25, true);
    EXPECT_EQ(report.substr(0, report.find('\n') + 1), c.first_line);
  }
}

TEST(TextReport, CommandsOnlyForNewMatchedAcceptedScannersAndQuotedComments) {
  const std::vector<FoundScanner> scanners = {
      scanner("office", "KX-100", "10.0.0.1", false, true),
      scanner("odd", std::nullopt, "10.0.0.3", false, true),
      scanner("lab", "KX-100", "10.0.0.2", true, true),
      scanner("loop", "KX-100", "127.0.0.1", false, true, "a loopback address"),
  };
  const std::string body =
      "# no known model at 10.0.0.3 (kx.local), which announces "
      "'Acme '\\''X'\\''$(id)'\n"
      "# lab is registered; seen at 10.0.0.2 (kx.local)\n"
      "# refused 127.0.0.1 (kx.local): a loopback address\n";
  const struct {
    bool commands;
    std::string lines;
  } kCases[] = {
      {true, "kxsaneconfig4 -a name=office model=KX-100 ip=10.0.0.1\n" + body},
      {false, body},
  };
  for (const auto& c : kCases) {
    const std::string report = text_report(scanners, {"DNS-SD"}, {}, 0, c.commands);
    EXPECT_EQ(report.substr(report.find('\n') + 1), c.lines);
  }
}

}  // namespace
}  // namespace kxsane
