#include "discovery/snmp_answer.h"

// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
// clang-format on

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace kxsane {

namespace {

struct Variable {
  oid name[16];
  std::size_t length;
  std::string SnmpAnswer::*value;
};

const Variable kVariables[] = {
    {{1, 3, 6, 1, 2, 1, 1, 5, 0}, 9, &SnmpAnswer::sys_name},
    {{1, 3, 6, 1, 2, 1, 1, 1, 0}, 9, &SnmpAnswer::sys_descr},
    {{1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 3, 1}, 12, &SnmpAnswer::device_descr},
    {{1, 3, 6, 1, 4, 1, 2699, 1, 2, 1, 2, 1, 1, 3, 1}, 15, &SnmpAnswer::device_id},
};

struct PduFreer {
  void operator()(netsnmp_pdu* pdu) const { snmp_free_pdu(pdu); }
};
using UniquePdu = std::unique_ptr<netsnmp_pdu, PduFreer>;

// The library logs to standard error while no log handler is registered:
// one that drops everything keeps a malformed answer from printing.
void silence_library() {
  static std::once_flag once;
  std::call_once(once, [] { netsnmp_register_loghandler(NETSNMP_LOGHANDLER_NONE, LOG_DEBUG); });
}

bool ascii_equal(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto fold = [](char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
           return fold(x) == fold(y);
         });
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string snmp_request(std::string_view community, std::int32_t request_id) {
  if (community.size() > kMaxCommunity)
    return "";
  silence_library();
  const UniquePdu pdu(snmp_pdu_create(SNMP_MSG_GET));
  if (!pdu)
    return "";
  for (const Variable& variable : kVariables)
    snmp_add_null_var(pdu.get(), variable.name, variable.length);
  pdu->reqid = request_id;
  pdu->version = SNMP_VERSION_2c;
  std::string community_text(community);
  netsnmp_session session;
  snmp_sess_init(&session);
  session.version = SNMP_VERSION_2c;
  session.community = reinterpret_cast<u_char*>(community_text.data());
  session.community_len = community_text.size();

  // The encoder may grow the buffer with realloc; it may also write from its
  // end backwards, and then the message is its last `length` bytes.
  std::size_t size = 1024;
  auto* buffer = static_cast<u_char*>(std::malloc(size));
  std::size_t length = 0;
  std::string datagram;
  if (buffer != nullptr && snmp_build(&buffer, &size, &length, &session, pdu.get()) == 0) {
    const bool from_end =
        netsnmp_ds_get_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_REVERSE_ENCODE) != 0;
    const u_char* start = from_end ? buffer + size - length : buffer;
    datagram.assign(reinterpret_cast<const char*>(start), length);
  }
  std::free(buffer);
  return datagram;
}

std::optional<SnmpAnswer> parse_snmp_answer(std::string_view datagram) {
  if (datagram.empty() || datagram.size() > kMaxSnmpAnswerBytes)
    return std::nullopt;
  silence_library();
  // The decoder takes writable bytes.
  std::string bytes(datagram);
  u_char community[kMaxCommunity * 4];
  std::size_t community_length = sizeof community;
  long version = -1;
  std::size_t length = bytes.size();
  u_char* pdu_start = snmp_comstr_parse(reinterpret_cast<u_char*>(bytes.data()), &length, community,
                                        &community_length, &version);
  if (pdu_start == nullptr || version != SNMP_VERSION_2c)
    return std::nullopt;
  const UniquePdu pdu(snmp_pdu_create(SNMP_MSG_RESPONSE));
  if (!pdu || snmp_pdu_parse(pdu.get(), pdu_start, &length) != 0 ||
      pdu->command != SNMP_MSG_RESPONSE) {
    return std::nullopt;
  }
  SnmpAnswer answer;
  answer.request_id = static_cast<std::int32_t>(pdu->reqid);
  bool any = false;
  for (const netsnmp_variable_list* v = pdu->variables; v != nullptr; v = v->next_variable) {
    if (v->type != ASN_OCTET_STR || (v->val.string == nullptr && v->val_len != 0))
      continue;
    for (const Variable& variable : kVariables) {
      if (snmp_oid_compare(v->name, v->name_length, variable.name, variable.length) != 0)
        continue;
      const std::string_view value(reinterpret_cast<const char*>(v->val.string), v->val_len);
      answer.*variable.value = capped_text(value);
      any = true;
    }
  }
  if (!any)
    return std::nullopt;
  return answer;
}

std::string device_id_value(std::string_view device_id, std::string_view key,
                            std::string_view long_key) {
  std::string_view long_value;
  while (!device_id.empty()) {
    const std::size_t end = std::min(device_id.find(';'), device_id.size());
    const std::string_view field = device_id.substr(0, end);
    device_id.remove_prefix(std::min(end + 1, device_id.size()));
    const std::size_t colon = field.find(':');
    if (colon == std::string_view::npos)
      continue;
    const std::string_view name = trimmed(field.substr(0, colon));
    const std::string_view value = trimmed(field.substr(colon + 1));
    if (ascii_equal(name, key))
      return std::string(value);
    if (long_value.empty() && ascii_equal(name, long_key))
      long_value = value;
  }
  return std::string(long_value);
}

Sighting sighting_from_snmp(const SnmpAnswer& answer, const std::string& address) {
  Sighting sighting;
  sighting.service = "snmp";
  sighting.name = answer.sys_name;
  sighting.address = address;
  const std::string mdl = device_id_value(answer.device_id, "MDL", "MODEL");
  const std::string make = device_id_value(answer.device_id, "MFG", "MANUFACTURER");
  for (const std::string* text : {&mdl, &answer.device_descr}) {
    if (!text->empty())
      sighting.model_texts.push_back(*text);
  }
  sighting.model_words = answer.sys_descr;
  if (!mdl.empty()) {
    sighting.announced = make.empty() ? mdl : make + " " + mdl;
  } else {
    sighting.announced = !answer.device_descr.empty() ? answer.device_descr : answer.sys_descr;
  }
  return sighting;
}

}  // namespace kxsane
