#include "discovery/wsd_messages.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <pugixml.hpp>

namespace kxsane {
namespace {

constexpr const char* kNamespaces =
    " xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\""
    " xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
    " xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\""
    " xmlns:sc=\"http://schemas.microsoft.com/windows/2006/08/wdp/scan\""
    " xmlns:m=\"http://schemas.xmlsoap.org/ws/2004/09/mex\""
    " xmlns:p=\"http://schemas.xmlsoap.org/ws/2006/02/devprof\"";

std::string envelope(const std::string& header, const std::string& body) {
  return std::string("<s:Envelope") + kNamespaces + "><s:Header>" + header + "</s:Header><s:Body>" +
         body + "</s:Body></s:Envelope>";
}

std::string match(const std::string& endpoint, const std::string& types,
                  const std::string& xaddrs) {
  return "<d:ProbeMatch><a:EndpointReference><a:Address>" + endpoint +
         "</a:Address></a:EndpointReference><d:Types>" + types + "</d:Types><d:XAddrs>" + xaddrs +
         "</d:XAddrs></d:ProbeMatch>";
}

std::string probe_matches(const std::string& matches) {
  return envelope("<a:RelatesTo>urn:uuid:ours</a:RelatesTo>",
                  "<d:ProbeMatches>" + matches + "</d:ProbeMatches>");
}

std::string metadata(const std::string& sections) {
  return envelope("", "<m:Metadata>" + sections + "</m:Metadata>");
}

std::string section(const std::string& content) {
  return "<m:MetadataSection>" + content + "</m:MetadataSection>";
}

in_addr ipv4(const char* dotted) {
  in_addr address{};
  inet_pton(AF_INET, dotted, &address);
  return address;
}

TEST(WsdProbeMatches, KeepsOnlyScannersWithPlainEndpoints) {
  const std::string scanner = match("urn:uuid:1", "sc:ScanDeviceType", "http://10.0.0.5:80/a");
  const std::string printer_ns =
      " xmlns:sc=\"http://schemas.microsoft.com/windows/2006/08/wdp/print\"";
  const struct {
    const char* fault;
    std::string datagram;
    std::optional<std::vector<std::string>> endpoints;
  } cases[] = {
      {"a scanner is lost", probe_matches(scanner), {{"urn:uuid:1"}}},
      {"a printer is kept",
       probe_matches(match("urn:uuid:2", "p:Device sc:PrintDeviceType", "") + scanner),
       {{"urn:uuid:1"}}},
      {"a scan type among others is missed",
       probe_matches(match("urn:uuid:3", "p:Device  sc:ScanDeviceType\n", "")),
       {{"urn:uuid:3"}}},
      {"the prefix is compared instead of its namespace",
       probe_matches("<d:ProbeMatch" + printer_ns + ">" +
                     match("urn:uuid:4", "sc:ScanDeviceType", "").substr(14)),
       {{}}},
      {"an endpoint with markup goes into our Get",
       probe_matches(match("urn:&lt;x", "sc:ScanDeviceType", "") +
                     match("urn:a b", "sc:ScanDeviceType", "")),
       {{}}},
      {"a document type's entity is expanded",
       "<!DOCTYPE s:Envelope [<!ENTITY e SYSTEM \"http://10.0.0.9/\">]>" +
           probe_matches(match("&e;", "sc:ScanDeviceType", "")),
       {{}}},
      {"a SOAP 1.1 envelope is read",
       "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"/>", std::nullopt},
      {"an answer without RelatesTo is read",
       envelope("", "<d:ProbeMatches>" + scanner + "</d:ProbeMatches>"), std::nullopt},
      {"malformed XML is read", probe_matches(scanner).substr(0, 200), std::nullopt},
      {"a Probe is taken for an answer", envelope("<a:RelatesTo>x</a:RelatesTo>", "<d:Probe/>"),
       std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    const auto read = parse_probe_matches(c.datagram);
    ASSERT_EQ(read.has_value(), c.endpoints.has_value());
    if (!read)
      continue;
    EXPECT_EQ(read->relates_to, "urn:uuid:ours");
    std::vector<std::string> endpoints;
    for (const ProbeMatch& m : read->matches) endpoints.push_back(m.endpoint);
    EXPECT_EQ(endpoints, *c.endpoints);
  }
}

TEST(WsdProbeMatches, ReadsDefaultNamespacesAndSplitsXAddrs) {
  const std::string datagram =
      "<Envelope xmlns=\"http://www.w3.org/2003/05/soap-envelope\"><Header>"
      "<RelatesTo xmlns=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\"> urn:uuid:ours "
      "</RelatesTo></Header><Body>"
      "<ProbeMatches xmlns=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"><ProbeMatch>"
      "<EndpointReference xmlns=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\">"
      "<Address>urn:uuid:9</Address></EndpointReference>"
      "<Types xmlns:x=\"http://schemas.microsoft.com/windows/2006/08/wdp/scan\">x:ScanDeviceType"
      "</Types><XAddrs> https://10.0.0.5/ \n http://10.0.0.5:5357/d </XAddrs>"
      "</ProbeMatch></ProbeMatches></Body></Envelope>";
  const auto read = parse_probe_matches(datagram);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->relates_to, "urn:uuid:ours");
  ASSERT_EQ(read->matches.size(), 1u);
  EXPECT_EQ(read->matches[0].xaddrs,
            (std::vector<std::string>{"https://10.0.0.5/", "http://10.0.0.5:5357/d"}));
}

TEST(WsdMetadata, ReadsModelAndFriendlyName) {
  const std::string model =
      "<p:ThisModel><p:Manufacturer xml:lang=\"de\">Acme</p:Manufacturer>"
      "<p:Manufacturer>Other</p:Manufacturer><p:ModelName> KX-100 </p:ModelName></p:ThisModel>";
  const std::string device = "<p:ThisDevice><p:FriendlyName>Office</p:FriendlyName></p:ThisDevice>";
  const std::string long_name = std::string(kMaxWsdTextBytes - 1, 'n') + "\xC3\xA9";
  const struct {
    const char* fault;
    std::string answer;
    std::optional<DeviceDescription> expected;
  } cases[] = {
      {"sections are not all read", metadata(section(model) + section(device)),
       DeviceDescription{"Acme", "KX-100", "Office"}},
      {"a missing device section fails the answer", metadata(section(model)),
       DeviceDescription{"Acme", "KX-100", ""}},
      {"a long name is kept whole or cut inside a character",
       metadata(section("<p:ThisDevice><p:FriendlyName>" + long_name +
                        "</p:FriendlyName></p:ThisDevice>")),
       DeviceDescription{"", "", std::string(kMaxWsdTextBytes - 1, 'n')}},
      {"a model outside a section is read", metadata(model + section("<p:ThisDevice/>")),
       DeviceDescription{}},
      {"an answer without Metadata is read", envelope("", section(model)), std::nullopt},
      {"a fault is read", envelope("", "<s:Fault/>"), std::nullopt},
      {"garbage is read", "\x01\xff<<", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    const auto read = parse_metadata(c.answer);
    ASSERT_EQ(read.has_value(), c.expected.has_value());
    if (!read)
      continue;
    EXPECT_EQ(read->manufacturer, c.expected->manufacturer);
    EXPECT_EQ(read->model_name, c.expected->model_name);
    EXPECT_EQ(read->friendly_name, c.expected->friendly_name);
  }
}

TEST(WsdMetadataUrl, FetchesOnlyPlainHttpOnTheAnsweringAddress) {
  const struct {
    const char* xaddr;
    std::optional<std::string> url;
  } cases[] = {
      {"http://10.0.0.5:5357/dev", "http://10.0.0.5:5357/dev"},
      {"HTTP://10.0.0.5", "http://10.0.0.5:80/"},
      {"http://10.0.0.5?q=1#frag", "http://10.0.0.5:80/?q=1"},
      {"https://10.0.0.5/", std::nullopt},
      {"http://10.0.0.6/", std::nullopt},
      {"http://scanner.local/", std::nullopt},
      {"http://10.0.0.6@10.0.0.5/", std::nullopt},
      {"http://10.0.0.5@10.0.0.6/", std::nullopt},
      {"http://10.0.0.5:1024/", "http://10.0.0.5:1024/"},
      {"http://10.0.0.5:0/", std::nullopt},
      {"http://10.0.0.5:22/ssh-probe", std::nullopt},
      {"http://10.0.0.5:1023/", std::nullopt},
      {"http://10.0.0.5:65536/", std::nullopt},
      {"http://10.0.0.5:80x/", std::nullopt},
      {"http://10.0.0.5:/", std::nullopt},
      {"http://10.0.0.5/a\x7f", std::nullopt},
      {"file:///etc/shadow", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.xaddr);
    EXPECT_EQ(metadata_url(c.xaddr, ipv4("10.0.0.5")), c.url);
  }
}

TEST(WsdSighting, OffersTheModelNameThenMakeAndModel) {
  const struct {
    std::optional<DeviceDescription> description;
    Sighting expected;
  } cases[] = {
      {DeviceDescription{"Acme", "KX 1", "Office"},
       {"wsd", "Office", "", "10.0.0.5", {"KX 1", "Acme KX 1"}, "Acme KX 1", "Acme KX 1"}},
      {DeviceDescription{"", "KX 1", ""}, {"wsd", "", "", "10.0.0.5", {"KX 1"}, "KX 1", "KX 1"}},
      {DeviceDescription{"Acme", "", ""}, {"wsd", "", "", "10.0.0.5", {}, "Acme", "Acme"}},
      {std::nullopt, {"wsd", "", "", "10.0.0.5", {}, "", ""}},
  };
  for (const auto& c : cases) {
    const Sighting got = wsd_sighting(c.description, "10.0.0.5");
    EXPECT_EQ(got.service, c.expected.service);
    EXPECT_EQ(got.name, c.expected.name);
    EXPECT_EQ(got.address, c.expected.address);
    EXPECT_EQ(got.model_texts, c.expected.model_texts);
    EXPECT_EQ(got.model_words, c.expected.model_words);
    EXPECT_EQ(got.announced, c.expected.announced);
  }
}

TEST(WsdRequests, AreWellFormedAndCarryTheirIds) {
  const std::string id = new_message_id();
  EXPECT_NE(id, new_message_id());
  EXPECT_EQ(id.size(), 45u);
  for (const std::string& text : {probe_message(id), metadata_request(id, "urn:uuid:dev")}) {
    pugi::xml_document document;
    ASSERT_TRUE(document.load_string(text.c_str()));
    EXPECT_EQ(document.select_node("//*[local-name()='MessageID']").node().child_value(), id);
  }
  pugi::xml_document probe;
  probe.load_string(probe_message(id).c_str());
  EXPECT_STREQ(probe.select_node("//*[local-name()='Types']").node().child_value(),
               "wscn:ScanDeviceType");
}

}  // namespace
}  // namespace kxsane
