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

}  // namespace
}  // namespace kxsane
