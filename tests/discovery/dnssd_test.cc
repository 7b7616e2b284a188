#include "discovery/dnssd.h"

#include <gtest/gtest.h>

namespace kxsane {
namespace {

TEST(DnssdSighting, ModelTextsWordsAndAnnouncedFromTxtValues) {
  using Txt = std::vector<std::pair<std::string, std::string>>;
  const struct {
    Txt txt;
    std::vector<std::string> texts;
    std::string words;
    std::string announced;
  } kCases[] = {
      {{{"ty", "Kestrel KX-100"}, {"product", "(KX-100P)"}, {"mdl", "KX-100"}},
       {"KX-100", "KX-100P", "Kestrel KX-100"},
       "Kestrel KX-100",
       "KX-100"},
      {{{"usb_MFG", "Kestrel"}, {"MDL", "KX-9"}, {"mdl", "later"}}, {"KX-9"}, "", "Kestrel KX-9"},
      {{{"ty", "Acme 3000"}}, {"Acme 3000"}, "Acme 3000", "Acme 3000"},
      {{{"product", "(P)"}}, {"P"}, "", "P"},
      {{{"mdl", std::string(300, 'x')}}, {std::string(255, 'x')}, "", std::string(255, 'x')},
      {{}, {}, "", ""},
  };
  for (const auto& c : kCases) {
    const Sighting s = sighting_from_dnssd({"_uscan._tcp", "kx", "kx.local", "10.0.0.1", c.txt});
    EXPECT_EQ(s.model_texts, c.texts);
    EXPECT_EQ(s.model_words, c.words);
    EXPECT_EQ(s.announced, c.announced);
    EXPECT_EQ(s.address, "10.0.0.1");
  }
}

TEST(DnssdSighting, PrinterServicesAreScannersOnlyWithScanTAndTakeTheirUsbModel) {
  using Txt = std::vector<std::pair<std::string, std::string>>;
  const Txt kScanning = {
      {"SCAN", "t"}, {"usb_MFG", "Kestrel"}, {"usb_MDL", "KX-300"}, {"mdl", "x"}};
  const struct {
    const char* service;
    Txt txt;
    bool scanner;
    std::vector<std::string> texts;
  } kCases[] = {
      {"_ipp._tcp", kScanning, true, {"KX-300"}},
      {"_ipps._tcp", {{"Scan", "F"}, {"usb_MDL", "KX-300"}}, false, {"KX-300"}},
      {"_printer._tcp", {{"usb_MDL", "KX-300"}}, false, {"KX-300"}},
      {"_ipp._tcp", {{"Scan", "True"}}, false, {}},
      {"_uscan._tcp", {{"mdl", "KX-100"}, {"usb_MDL", "x"}}, true, {"KX-100"}},
      {"_http._tcp", kScanning, false, {"x"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.service);
    const DnssdRecord record{c.service, "kx", "kx.local", "10.0.0.1", c.txt};
    EXPECT_EQ(is_scanner_record(record), c.scanner);
    EXPECT_EQ(sighting_from_dnssd(record).model_texts, c.texts);
  }
  EXPECT_EQ(sighting_from_dnssd({"_ipp._tcp", "", "", "", kScanning}).announced, "Kestrel KX-300");
}

}  // namespace
}  // namespace kxsane
