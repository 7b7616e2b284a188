// SNMP messages written and read with net-snmp's encoder and decoder, for
// the reader's tests and the test agents (snmp_responder.cc).
#pragma once

// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
// clang-format on

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace kxsane::testing {

struct SnmpVariable {
  std::vector<oid> name;
  u_char type = ASN_OCTET_STR;
  std::string value;  // its bytes (an ASN_INTEGER: a long's)
};

struct SnmpMessage {
  int command = SNMP_MSG_RESPONSE;
  long version = SNMP_VERSION_2c;
  std::string community = "public";
  long request_id = 0x1234;
  std::vector<SnmpVariable> variables;
};

inline std::string write_snmp(const SnmpMessage& message) {
  netsnmp_pdu* pdu = snmp_pdu_create(message.command);
  pdu->reqid = message.request_id;
  pdu->version = message.version;
  for (const SnmpVariable& v : message.variables)
    snmp_pdu_add_variable(pdu, v.name.data(), v.name.size(), v.type, v.value.data(),
                          v.value.size());
  std::string community = message.community;
  netsnmp_session session;
  snmp_sess_init(&session);
  session.version = message.version;
  session.community = reinterpret_cast<u_char*>(community.data());
  session.community_len = community.size();
  std::size_t size = 64 * 1024, length = 0;
  auto* buffer = static_cast<u_char*>(std::malloc(size));
  std::string bytes;
  if (snmp_build(&buffer, &size, &length, &session, pdu) == 0) {
    const bool from_end =
        netsnmp_ds_get_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_REVERSE_ENCODE);
    bytes.assign(reinterpret_cast<char*>(from_end ? buffer + size - length : buffer), length);
  }
  std::free(buffer);
  snmp_free_pdu(pdu);
  return bytes;
}

inline std::optional<SnmpMessage> read_snmp(std::string bytes) {
  u_char community[256];
  std::size_t community_length = sizeof community, length = bytes.size();
  SnmpMessage message;
  u_char* start = snmp_comstr_parse(reinterpret_cast<u_char*>(bytes.data()), &length, community,
                                    &community_length, &message.version);
  netsnmp_pdu* pdu = snmp_pdu_create(0);
  const bool read = start != nullptr && snmp_pdu_parse(pdu, start, &length) == 0;
  message.command = pdu->command;
  message.request_id = pdu->reqid;
  message.community.assign(reinterpret_cast<char*>(community), community_length);
  for (const netsnmp_variable_list* v = pdu->variables; v != nullptr; v = v->next_variable) {
    const char* value = reinterpret_cast<const char*>(v->val.string);
    message.variables.push_back({{v->name, v->name + v->name_length},
                                 v->type,
                                 value ? std::string(value, v->val_len) : ""});
  }
  snmp_free_pdu(pdu);
  return read ? std::optional(message) : std::nullopt;
}

}  // namespace kxsane::testing
