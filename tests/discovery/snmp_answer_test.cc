#include "discovery/snmp_answer.h"

#include <gtest/gtest.h>

#include "discovery/snmp_message.h"

namespace kxsane {
namespace {

using testing::SnmpVariable;
using testing::write_snmp;

const std::vector<oid> kSysName = {1, 3, 6, 1, 2, 1, 1, 5, 0};
const std::vector<oid> kSysDescr = {1, 3, 6, 1, 2, 1, 1, 1, 0};
const std::vector<oid> kDeviceDescr = {1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 3, 1};
const std::vector<oid> kDeviceId = {1, 3, 6, 1, 4, 1, 2699, 1, 2, 1, 2, 1, 1, 3, 1};

std::string answer(std::vector<SnmpVariable> variables, int command = SNMP_MSG_RESPONSE,
                   long version = SNMP_VERSION_2c) {
  std::string bytes = write_snmp({command, version, "public", 0x1234, std::move(variables)});
  EXPECT_NE(bytes, "") << "the test's answer could not be written";
  return bytes;
}

TEST(SnmpAnswer, ReadsTheFourTextsAndNothingElse) {
  const std::string all = answer({{kSysName, ASN_OCTET_STR, "kx1"},
                                  {kSysDescr, ASN_OCTET_STR, "Kestrel KX-100"},
                                  {kDeviceDescr, ASN_OCTET_STR, "KX-100 scanner"},
                                  {kDeviceId, ASN_OCTET_STR, "MFG:Kestrel;MDL:KX-100;"}});
  const long seven = 7;
  const struct {
    const char* fault;
    std::string datagram;
    std::optional<SnmpAnswer> answer;
  } kCases[] = {
      {"a value is lost", all,
       SnmpAnswer{0x1234, "kx1", "Kestrel KX-100", "KX-100 scanner", "MFG:Kestrel;MDL:KX-100;"}},
      {"an over-long text is kept whole",
       answer({{kSysDescr, ASN_OCTET_STR, std::string(900, 'd')}}),
       SnmpAnswer{0x1234, "", std::string(255, 'd'), "", ""}},
      {"a wrongly typed value is taken",
       answer({{kSysName, ASN_INTEGER,
                std::string(reinterpret_cast<const char*>(&seven), sizeof seven)},
               {kDeviceDescr, ASN_OCTET_STR, "KX"}}),
       SnmpAnswer{0x1234, "", "", "KX", ""}},
      {"another variable is taken", answer({{{1, 3, 6, 1, 2, 1, 1, 6, 0}, ASN_OCTET_STR, "x"}}),
       std::nullopt},
      {"an exception is taken", answer({{kSysName, SNMP_NOSUCHOBJECT, ""}}), std::nullopt},
      {"a request is taken for an answer", answer({{kSysName, ASN_OCTET_STR, "kx"}}, SNMP_MSG_GET),
       std::nullopt},
      {"an SNMPv1 answer is taken",
       answer({{kSysName, ASN_OCTET_STR, "kx"}}, SNMP_MSG_RESPONSE, SNMP_VERSION_1), std::nullopt},
      {"a cut datagram is read", all.substr(0, 60), std::nullopt},
      {"a datagram over the cap is read",
       answer({{kSysName, ASN_OCTET_STR, std::string(kMaxSnmpAnswerBytes, 'n')}}), std::nullopt},
      {"a length past the end is followed", "\x30\x82\xFF\xFF\x02\x01\x01", std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.fault);
    const std::optional<SnmpAnswer> answer = parse_snmp_answer(c.datagram);
    EXPECT_EQ(answer.has_value(), c.answer.has_value());
    if (!answer || !c.answer)
      continue;
    EXPECT_EQ(answer->request_id, c.answer->request_id);
    EXPECT_EQ(answer->sys_name, c.answer->sys_name);
    EXPECT_EQ(answer->sys_descr, c.answer->sys_descr);
    EXPECT_EQ(answer->device_descr, c.answer->device_descr);
    EXPECT_EQ(answer->device_id, c.answer->device_id);
  }
}

TEST(SnmpSighting, ModelTextsFromTheDeviceIdThenTheDeviceDescription) {
  const struct {
    SnmpAnswer answer;
    std::vector<std::string> texts;
    std::string announced;
  } kCases[] = {
      {{0, "kx1", "Kestrel scanner", "KX-100 Series", "MFG:Kestrel;MDL:KX-100;CMD:PCL;"},
       {"KX-100", "KX-100 Series"},
       "Kestrel KX-100"},
      {{0, "", "", "", "manufacturer: Acme ;model: AX 3 ;mdl"}, {"AX 3"}, "Acme AX 3"},
      {{0, "", "", "KX-200", "MDL:;"}, {"KX-200"}, "KX-200"},
      {{0, "sw", "Switch 24-port KX", "", ""}, {}, "Switch 24-port KX"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.answer.device_id);
    const Sighting s = sighting_from_snmp(c.answer, "10.0.0.7");
    EXPECT_EQ(s.service, "snmp");
    EXPECT_EQ(s.model_texts, c.texts);
    EXPECT_EQ(s.model_words, c.answer.sys_descr);
    EXPECT_EQ(s.announced, c.announced);
    EXPECT_EQ(s.name, c.answer.sys_name);
  }
}

}  // namespace
}  // namespace kxsane
