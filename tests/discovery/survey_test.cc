#include "discovery/survey.h"

#include <gtest/gtest.h>

namespace kxsane {
namespace {

const std::vector<std::string> kModels = {"KX",     "KX-30",     "KX-100",
                                          "KX-200", "KX-200Pro", "KX-200 MFP"};

TEST(MatchModel, ExactTextsFirstThenLongestWholeWordsWithoutRegardToCase) {
  const ModelMatcher matcher(kModels);
  const struct {
    std::vector<std::string> texts;
    std::string words;
    std::optional<std::string> model;
  } kCases[] = {
      {{"KX-200", "KX-100"}, "KX-100", "KX-200"},  // the first exact text wins
      {{"kx-100"}, "", std::nullopt},              // exact means exact case
      {{"Acme"}, "Kestrel kx-200pro Series", "KX-200Pro"},
      {{}, "Kestrel KX-200", "KX-200"},          // "KX" occurs too, but is shorter
      {{}, "Kestrel KX-2000", "KX"},             // "KX-200" is not a whole word here
      {{}, "Kestrel KX-300 color", "KX"},        // nor is "KX-30"
      {{}, "kestrel kx-200 mfp", "KX-200 MFP"},  // longer than "KX-200", which occurs too
      {{}, "KX-200 or KX-100", "KX-100"},        // of two as long, the first of the table
      {{}, "AKX-1000", std::nullopt},
      {{}, "", std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.words);
    EXPECT_EQ(matcher.match(c.texts, c.words), c.model);
  }
}

TEST(SuggestedName, RunsOfOtherBytesBecomeOneUnderscoreWithin32Characters) {
  const struct {
    std::string text;
    std::string name;
  } kCases[] = {
      {"Office KX", "Office_KX"},
      {"a  /$(b)", "a_b_"},
      {"Büro-1_x", "B_ro-1_x"},
      {std::string(40, 'k'), std::string(32, 'k')},
      {"", ""},
  };
  for (const auto& c : kCases) EXPECT_EQ(friendly_name_from(c.text), c.name) << c.text;
}

TEST(SuggestedName, TakenNamesGetTheFirstFreeSuffixWithinTheLimit) {
  const std::string long_name(32, 'k');
  const struct {
    std::string base;
    std::unordered_set<std::string> taken;
    std::string name;
  } kCases[] = {
      {"lab", {}, "lab"},
      {"lab", {"lab", "lab-2"}, "lab-3"},
      {long_name, {long_name}, std::string(30, 'k') + "-2"},
  };
  for (const auto& c : kCases) EXPECT_EQ(unique_name(c.base, c.taken), c.name) << c.base;
}

Sighting sighting(std::string service, std::string name, std::string host, std::string address,
                  std::string mdl) {
  return {std::move(service), std::move(name), std::move(host), std::move(address), {mdl}, "", mdl};
}

TEST(Survey, MergesByAddressReportsRegisteredAndNamesTheRest) {
  const std::vector<Sighting> sightings = {
      sighting("_scanner._tcp", "Twin scanner", "kx5.local", "10.0.0.5", "KX-100"),
      sighting("_uscan._tcp", "Twin", "kx5.local", "10.0.0.5", "KX-100"),
      sighting("_uscan._tcp", "Lab", "KX4.local", "10.0.0.40", "KX-200"),
      sighting("_uscan._tcp", "office", "kx3.local", "10.0.0.3", "Acme"),
      sighting("_uscan._tcp", "office", "kx2.local", "10.0.0.2", "KX-100"),
      sighting("_uscan._tcp", "nowhere", "kx9.local", "", "KX-100"),
      // Refused: neither lab (by its node name) nor the first "office-N".
      sighting("_uscan._tcp", "office", "kx4.local", "0.0.0.0", "KX-100"),
  };
  const std::vector<RegisteredScanner> registered = {
      {"office", "KX-100", "10.9.9.9", ""},
      {"lab", "KX-200", "", "kx4"},
      {"gone", "KX-100", "10.9.9.8", ""},
  };
  const struct {
    std::string name;
    std::optional<std::string> model;
    std::string address;
    std::vector<std::string> services;
    bool registered;
  } kExpected[] = {
      {"office-4", "KX-100", "0.0.0.0", {"_uscan._tcp"}, false},
      {"office-2", "KX-100", "10.0.0.2", {"_uscan._tcp"}, false},
      {"office-3", std::nullopt, "10.0.0.3", {"_uscan._tcp"}, false},
      {"Twin", "KX-100", "10.0.0.5", {"_uscan._tcp", "_scanner._tcp"}, false},
      {"lab", "KX-200", "10.0.0.40", {"_uscan._tcp"}, true},
      {"office", "KX-100", "10.9.9.9", {}, true},
      {"gone", "KX-100", "10.9.9.8", {}, true},
  };
  const std::vector<FoundScanner> found =
      survey(sightings, kModels, registered, {{0x0A000001, 0xFF000000}});  // 10.0.0.1/8
  ASSERT_EQ(found.size(), std::size(kExpected));
  EXPECT_FALSE(found[0].is_new());
  EXPECT_EQ(found[1].refused, "");
  for (std::size_t i = 0; i < found.size(); ++i) {
    SCOPED_TRACE(kExpected[i].address);
    EXPECT_EQ(found[i].name, kExpected[i].name);
    EXPECT_EQ(found[i].model, kExpected[i].model);
    EXPECT_EQ(found[i].address, kExpected[i].address);
    EXPECT_EQ(found[i].services, kExpected[i].services);
    EXPECT_EQ(found[i].registered, kExpected[i].registered);
  }
}

TEST(Survey, ModelFromTheFirstProtocolThatNamesOneAndSnmpAgentsOnlyWhenTheyDo) {
  const auto words = [](std::string service, std::string text) {
    return Sighting{std::move(service), "", "", "10.0.0.9", {}, std::move(text), ""};
  };
  const struct {
    const char* fault;
    std::vector<Sighting> sightings;  // all at 10.0.0.9
    std::optional<std::string> model;
    std::vector<std::string> services;  // empty: not listed
  } kCases[] = {
      {"a later protocol wins",
       {sighting("snmp", "", "", "10.0.0.9", "KX-100"),
        sighting("wsd", "", "", "10.0.0.9", "KX-200"),
        sighting("_uscan._tcp", "", "", "10.0.0.9", "Acme")},
       "KX-200",
       {"_uscan._tcp", "wsd", "snmp"}},
      {"an exact text of a later protocol beats words of an earlier one",
       {sighting("snmp", "", "", "10.0.0.9", "KX-200"), words("_ipp._tcp", "Kestrel KX-100")},
       "KX-100",
       {"_ipp._tcp", "snmp"}},
      {"a matching SNMP agent is dropped",
       {words("snmp", "Kestrel KX-100 v2")},
       "KX-100",
       {"snmp"}},
      {"an SNMP agent of no known model is listed",
       {words("snmp", "Linux 6.1 x86_64")},
       std::nullopt,
       {}},
      {"a WS-Discovery device of no known model is dropped",
       {words("wsd", "")},
       std::nullopt,
       {"wsd"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.fault);
    const std::vector<FoundScanner> found =
        survey(c.sightings, kModels, {}, {{0x0A000001, 0xFF000000}});
    ASSERT_EQ(found.size(), c.services.empty() ? 0u : 1u);
    if (found.empty())
      continue;
    EXPECT_EQ(found[0].model, c.model);
    EXPECT_EQ(found[0].services, c.services);
  }
}

}  // namespace
}  // namespace kxsane
