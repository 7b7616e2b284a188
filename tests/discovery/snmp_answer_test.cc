#include "discovery/snmp_answer.h"

#include <gtest/gtest.h>

#include <vector>

namespace kxsane {
namespace {

// BER by hand, so that the reader is checked against bytes the library did
// not make.
std::string tlv(unsigned char type, const std::string& value) {
  std::string out(1, static_cast<char>(type));
  if (value.size() < 128) {
    out += static_cast<char>(value.size());
  } else {
    out += '\x82';
    out += static_cast<char>(value.size() >> 8);
    out += static_cast<char>(value.size() & 0xFF);
  }
  return out + value;
}

std::string integer(int value) {
  return tlv(0x02, value < 128 ? std::string(1, static_cast<char>(value))
                               : std::string{static_cast<char>(value >> 8),
                                             static_cast<char>(value & 0xFF)});
}

std::string oid(const std::vector<unsigned>& arcs) {
  std::string out(1, static_cast<char>(arcs[0] * 40 + arcs[1]));
  for (std::size_t i = 2; i < arcs.size(); ++i) {
    if (arcs[i] >= 128)
      out += static_cast<char>(0x80 | (arcs[i] >> 7));
    out += static_cast<char>(arcs[i] & 0x7F);
  }
  return tlv(0x06, out);
}

const std::vector<unsigned> kSysName = {1, 3, 6, 1, 2, 1, 1, 5, 0};
const std::vector<unsigned> kSysDescr = {1, 3, 6, 1, 2, 1, 1, 1, 0};
const std::vector<unsigned> kDeviceDescr = {1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 3, 1};
const std::vector<unsigned> kDeviceId = {1, 3, 6, 1, 4, 1, 2699, 1, 2, 1, 2, 1, 1, 3, 1};

std::string variable(const std::vector<unsigned>& name, const std::string& value) {
  return tlv(0x30, oid(name) + value);
}

std::string text(const std::string& value) {
  return tlv(0x04, value);
}

// A message of `version` with a PDU of `type` holding `binds`.
std::string message(const std::string& binds, unsigned char type = 0xA2, int version = 1,
                    int request_id = 0x1234) {
  return tlv(0x30, integer(version) + text("public") +
                       tlv(type, integer(request_id) + integer(0) + integer(0) + tlv(0x30, binds)));
}

TEST(SnmpAnswer, ReadsTheFourTextsAndNothingElse) {
  const std::string all = variable(kSysName, text("kx1")) +
                          variable(kSysDescr, text("Kestrel KX-100")) +
                          variable(kDeviceDescr, text("KX-100 scanner")) +
                          variable(kDeviceId, text("MFG:Kestrel;MDL:KX-100;"));
  const struct {
    const char* fault;
    std::string datagram;
    std::optional<SnmpAnswer> answer;
  } kCases[] = {
      {"a value is lost", message(all),
       SnmpAnswer{0x1234, "kx1", "Kestrel KX-100", "KX-100 scanner", "MFG:Kestrel;MDL:KX-100;"}},
      {"an over-long text is kept whole", message(variable(kSysDescr, text(std::string(900, 'd')))),
       SnmpAnswer{0x1234, "", std::string(255, 'd'), "", ""}},
      {"a wrongly typed value is taken",
       message(variable(kSysName, integer(7)) + variable(kDeviceDescr, text("KX"))),
       SnmpAnswer{0x1234, "", "", "KX", ""}},
      {"another variable is taken", message(variable({1, 3, 6, 1, 2, 1, 1, 6, 0}, text("x"))),
       std::nullopt},
      {"an exception is taken", message(variable(kSysName, tlv(0x80, ""))), std::nullopt},
      {"a request is taken for an answer", message(variable(kSysName, text("kx")), 0xA0),
       std::nullopt},
      {"an SNMPv1 answer is taken", message(variable(kSysName, text("kx")), 0xA2, 0), std::nullopt},
      {"a cut datagram is read", message(all).substr(0, 60), std::nullopt},
      {"a datagram over the cap is read",
       message(variable(kSysName, text(std::string(kMaxSnmpAnswerBytes, 'n')))), std::nullopt},
      {"a length past the end is followed", "\x30\x82\xFF\xFF" + integer(1), std::nullopt},
      {"nothing is an answer", "", std::nullopt},
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

TEST(SnmpAnswer, RequestAsksForTheFourValuesUnderItsCommunityAndId) {
  const std::string nulls = variable(kSysName, tlv(0x05, "")) + variable(kSysDescr, tlv(0x05, "")) +
                            variable(kDeviceDescr, tlv(0x05, "")) +
                            variable(kDeviceId, tlv(0x05, ""));
  EXPECT_EQ(snmp_request("public", 0x1234), message(nulls, 0xA0));
  EXPECT_EQ(snmp_request(std::string(kMaxCommunity + 1, 'c'), 1), "");
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
      {{0, "", "", "", "mdl:KX-9;MODEL:later;"}, {"KX-9"}, "KX-9"},
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
