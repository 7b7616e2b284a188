#include "registry/device_list.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/device_line.h"
#include "support/test_dir.h"

namespace kxsane {
namespace {

using kxsane::testing::TestDir;

// Every field of a record, for whole-record comparisons.
std::string fields_of(const DeviceRecord& record) {
  std::string out;
  for (const auto& field : record.fields) out += std::string("[") + field + "]";
  return out;
}

std::string parsed(const std::string& line) {
  DeviceRecord record;
  if (!parse_device_line(line, record))
    return "none";
  return fields_of(record);
}

// Each line and the fields it reads as ("none": no record at all).
TEST(DeviceLineParsing, EachLineReadsAsItsFields) {
  const struct {
    const char* why;
    const char* line;
    const char* fields;
  } kCases[] = {
      {"address form", "DEVICE=office , \"M-1\" , 0x4ab:0x123 , IP-ADDRESS=10.0.0.5 \n",
       "[office][\"M-1\"][10.0.0.5][][0x4ab:0x123]"},
      {"node name form", "DEVICE=lab , \"M-2\" , Unknown , NODENAME=KXN_00012 \n",
       "[lab][\"M-2\"][][KXN_00012][Unknown]"},
      {"commas without blanks read like the spaced form",
       "DEVICE=office,\"M-1\",0x4ab:0x123,IP-ADDRESS=10.0.0.5\n",
       "[office][\"M-1\"][10.0.0.5][][0x4ab:0x123]"},
      {"a carriage return never reaches a field", "DEVICE=a , \"M\" , Unknown , NODENAME=n \r\n",
       "[a][\"M\"][][n][Unknown]"},
      {"a carriage return right after a field", "DEVICE=a , \"M\" , Unknown , NODENAME=n\r\n",
       "[a][\"M\"][][n][Unknown]"},
      {"comment", "# DEVICE=a , \"M\" , Unknown , NODENAME=n \n", "none"},
      {"section", "[section]\n", "none"},
      {"blank line", "\n", "none"},
      {"no equals sign", "no equals sign here\n", "none"},
      {"logging line", "log=/tmp/kx_sane.log , 1 , w\n", "none"},
      {"nothing", "", "none"},
      {"carriage return alone", "\r\n", "none"},
      {"other line with equals", "x=y\n", "[][][][][]"},
      {"no key", "DEVICE=a , \"M\" , Unknown\n", "[][][][][]"},
      {"not DEVICE= at the start", "name=a , \"M\" , Unknown , NODENAME=n\n", "[][][][][]"},
      {"second separator without its comma: only the name",
       "DEVICE=a \"M\" , Unknown , IP-ADDRESS=1.2.3.4\n", "[a][][][][]"},
      {"\"=\" too early: IP-ADDRESS= misses",
       "DEVICE=a , \"M\" , U , NODENAME=n IP-ADDRESS=1.2.3.4\n", "[a][\"M\"][][][U]"},
      {"a fourth comma stays, part of the address", "DEVICE=a,\"M\",U,IP-ADDRESS=1.2.3.4,x\n",
       "[a][\"M\"][1.2.3.4,x][][U]"},
      // After two insertions a comma is expanded only while its position
      // plus four stays below the line's original length: the third comma
      // stands at 23, so 27 characters keep "b,cde" one token and 28 split it.
      {"third comma past the original length", "DEVICE=a,\"M\",NODENAME=b,c",
       "[a][\"M\"][][][NODENAME=b,c]"},
      {"third comma at the original length", "DEVICE=a,\"M\",NODENAME=b,cde",
       "[a][\"M\"][][][NODENAME=b,cde]"},
      {"third comma within the original length", "DEVICE=a,\"M\",NODENAME=b,cdef",
       "[a][\"M\"][][][NODENAME=b]"},
  };
  for (const auto& c : kCases) EXPECT_EQ(parsed(c.line), c.fields) << c.why;
}

TEST(DeviceLineParsing, LongTokensAreTruncatedTo63Characters) {
  const std::string name(100, 'n');
  const std::string node(70, 'k');
  DeviceRecord record;
  ASSERT_TRUE(
      parse_device_line("DEVICE=" + name + " , \"M\" , U , NODENAME=" + node + " \n", record));
  EXPECT_EQ(std::string(record.fields[kFriendlyName]), name.substr(0, 63));
  EXPECT_EQ(std::string(record.fields[kNodeName]), node.substr(0, 63));
  EXPECT_EQ(std::string(record.fields[kModelName]), "\"M\"");
}

TEST(DeviceLineParsing, TheKeyIsChosenByWhatTheLineHoldsAnywhere) {
  // "IP-ADDRESS=" inside a name selects the address form, whose key then
  // misses where "NODENAME=" stands.
  EXPECT_EQ(parsed("DEVICE=xIP-ADDRESS=y , \"M\" , U , NODENAME=n\n"),
            "[xIP-ADDRESS=y][\"M\"][][][U]");
  EXPECT_EQ(parsed("DEVICE=a , \"M\" , U , NODENAME=n ; IP-ADDRESS=z\n"), "[a][\"M\"][][][U]");
  EXPECT_EQ(parsed("DEVICE=a , \"M\" , U , NODENAME=nIP-ADDRESS=z\n"), "[a][\"M\"][][][U]");
  // A key after a mismatch still keeps the fields read before it.
  EXPECT_EQ(parsed("DEVICE=a , \"M\" U NODENAME=n\n"), "[a][\"M\"][][][]");
  EXPECT_EQ(parsed("DEVICE=a , \"M\" , U , HOST=h\n"), "[][][][][]");
  EXPECT_EQ(parsed("DEVICE=a , \"M\" , U , HOST=h NODENAME=\n"), "[a][\"M\"][][][U]");
}

class DeviceListTest : public ::testing::Test {
 protected:
  TestDir dir;
  std::string cfg = "cfg/kxsanenetdevice4.cfg";
  DeviceList devices{dir.paths().device_config};

  std::string field(int index, int which) {
    char buffer[kDeviceFieldSize];
    const char* got = devices.device_field_by_index(index, which, buffer, sizeof buffer);
    EXPECT_EQ(got == nullptr, buffer[0] == '\0');
    return buffer;
  }
};

TEST_F(DeviceListTest, ReadsRecordsInFileOrder) {
  dir.write(cfg,
            "log=/tmp/kx_sane.log , 1 , w\n"
            "DEVICE=second , \"M-2\" , Unknown , NODENAME=KXN_1 \n"
            "# comment\n"
            "\n"
            "[section]\n"
            "DEVICE=first , \"M-1\" , 0x0:0x123 , IP-ADDRESS=10.0.0.5 \n"
            "x=y\n");
  EXPECT_TRUE(devices.load().ok());
  EXPECT_EQ(devices.device_count(), 3);
  EXPECT_EQ(field(0, kFriendlyName), "second");
  EXPECT_EQ(field(0, kNodeName), "KXN_1");
  EXPECT_EQ(field(1, kIpAddress), "10.0.0.5");
  EXPECT_EQ(field(1, kUsbIds), "0x0:0x123");
  EXPECT_EQ(field(2, kFriendlyName), "");
}

TEST_F(DeviceListTest, MissingFileCountsZeroAndIsReadAgainWhileEmpty) {
  EXPECT_TRUE(devices.load().not_found());
  EXPECT_EQ(devices.load_device_list(), -1);
  EXPECT_EQ(devices.device_count(), 0);
  EXPECT_EQ(field(0, kFriendlyName), "");
  dir.write(cfg, "DEVICE=a , \"M\" , U , NODENAME=n \n");
  EXPECT_EQ(devices.device_count(), 1);
}

TEST_F(DeviceListTest, NeverReadAgainOnceItHoldsARecord) {
  dir.write(cfg, "DEVICE=a , \"M\" , U , NODENAME=n \n");
  EXPECT_EQ(devices.device_count(), 1);
  dir.write(cfg, "DEVICE=a , \"M\" , U , NODENAME=n \nDEVICE=b , \"M\" , U , NODENAME=n \n");
  EXPECT_EQ(devices.device_count(), 1);
  devices.free_device_list();
  EXPECT_EQ(devices.device_count(), 2);
}

// A stream that yields one device line, then fails to read.
std::FILE* line_then_read_error() {
  cookie_io_functions_t io{};
  io.read = [](void* cookie, char* buffer, std::size_t size) -> ssize_t {
    static constexpr char kLine[] = "DEVICE=a , \"M\" , U , NODENAME=n \n";
    if ((*static_cast<int*>(cookie))++ > 0 || size < sizeof kLine) {
      errno = EIO;
      return -1;
    }
    std::memcpy(buffer, kLine, sizeof kLine - 1);
    return sizeof kLine - 1;
  };
  static int calls;
  calls = 0;
  return fopencookie(&calls, "r", io);
}

TEST_F(DeviceListTest, ReadErrorStopsTheLoadAndSaysWhyKeepingTheRecordsRead) {
  std::FILE* stream = line_then_read_error();
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(devices.read_device_stream(stream).status().message(),
            dir.paths().device_config + ": Input/output error");
  std::fclose(stream);
  EXPECT_EQ(devices.device_count(), 1);
  EXPECT_EQ(field(0, kFriendlyName), "a");
}

TEST_F(DeviceListTest, IndexOutOfRangeGivesNoneAndEmptyDestination) {
  dir.write(cfg, "DEVICE=a , \"M\" , U , NODENAME=n \n");
  char buffer[kDeviceFieldSize] = "garbage";
  EXPECT_EQ(devices.device_field_by_index(1, kFriendlyName, buffer, sizeof buffer), nullptr);
  EXPECT_STREQ(buffer, "");
  std::strcpy(buffer, "garbage");
  EXPECT_EQ(devices.device_field_by_index(0, 5, buffer, sizeof buffer), nullptr);
  EXPECT_STREQ(buffer, "");
  std::strcpy(buffer, "garbage");
  EXPECT_EQ(devices.device_field_by_index(0, -1, buffer, sizeof buffer), nullptr);
  EXPECT_STREQ(buffer, "");
}

TEST_F(DeviceListTest, NegativeIndexDoesNotLoadTheFile) {
  dir.write(cfg, "DEVICE=a , \"M\" , U , NODENAME=n \n");
  char buffer[kDeviceFieldSize] = "garbage";
  EXPECT_EQ(devices.device_field_by_index(-1, kFriendlyName, buffer, sizeof buffer), nullptr);
  EXPECT_STREQ(buffer, "");
  // Still empty: a later load finds the file as it is now.
  dir.write(cfg, "DEVICE=b , \"M\" , U , NODENAME=n \n");
  EXPECT_EQ(field(0, kFriendlyName), "b");
}

TEST_F(DeviceListTest, CopyRuleFillsTheRestWithNul) {
  dir.write(cfg, "DEVICE=ab , \"M\" , U , NODENAME=n \n");
  char buffer[kDeviceFieldSize];
  std::memset(buffer, 'x', sizeof buffer);
  ASSERT_EQ(devices.device_field_by_index(0, kFriendlyName, buffer, sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "ab");
  for (std::size_t i = 2; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], '\0') << i;
}

TEST_F(DeviceListTest, AllFieldsAtOnceMatchTheCopies) {
  dir.write(cfg,
            "DEVICE=a , \"M-1\" , 0x0:0x1 , NODENAME=n1 \n"
            "x=y\n"
            "DEVICE=b , \"M-2\" , Unknown , IP-ADDRESS=1.2.3.4 \n");
  std::string_view fields[kDeviceFieldCount];
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(devices.device_fields(i, fields));
    for (int f = 0; f < kDeviceFieldCount; ++f) EXPECT_EQ(fields[f], field(i, f)) << i << "," << f;
  }
  fields[0] = "untouched";
  EXPECT_FALSE(devices.device_fields(3, fields));
  EXPECT_FALSE(devices.device_fields(-1, fields));
  EXPECT_EQ(fields[0], "untouched");
}

TEST_F(DeviceListTest, LookupByName) {
  dir.write(cfg,
            "DEVICE=a , \"M-1\" , U , NODENAME=n1 \n"
            "DEVICE=b , \"M-2\" , U , IP-ADDRESS=1.2.3.4 \n"
            "DEVICE=b , \"M-3\" , U , IP-ADDRESS=1.2.3.5 \n");
  char buffer[200];
  EXPECT_EQ(devices.device_field_by_name("b", kModelName, buffer, sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "\"M-2\"");
  std::strcpy(buffer, "garbage");
  EXPECT_EQ(devices.device_field_by_name("B", kModelName, buffer, sizeof buffer), nullptr);
  EXPECT_STREQ(buffer, "");
}

TEST_F(DeviceListTest, LookupByNameFailsWhenTheFirstRecordHasNoName) {
  dir.write(cfg, "x=y\nDEVICE=b , \"M-2\" , U , IP-ADDRESS=1.2.3.4 \n");
  char buffer[200] = "untouched";
  EXPECT_EQ(devices.device_field_by_name("b", kModelName, buffer, sizeof buffer), nullptr);
  EXPECT_STREQ(buffer, "untouched");
}

TEST_F(DeviceListTest, LongLinesArriveInPiecesWithoutOverflow) {
  // A 200-character name still fits in the first 276-character piece with
  // its address: it is read, truncated to 63 characters.
  const std::string fits =
      "DEVICE=" + std::string(200, 'n') + " , \"M\" , U , IP-ADDRESS=1.2.3.4 \n";
  // With 293 characters the address falls into the second piece: the first
  // piece yields a record with empty fields, the second ("nnn… ,
  // IP-ADDRESS=…") does not begin with "DEVICE=" and yields another.
  const std::string split =
      "DEVICE=" + std::string(293, 'n') + " , \"M\" , U , IP-ADDRESS=1.2.3.4 \n";
  // 5000 commas: only the last piece holds an "=".
  dir.write(cfg, fits + split + std::string(5000, ',') + "=\n");
  EXPECT_EQ(devices.device_count(), 4);
  EXPECT_EQ(field(0, kFriendlyName), std::string(63, 'n'));
  EXPECT_EQ(field(0, kIpAddress), "1.2.3.4");
  for (int i = 1; i < 4; ++i) {
    for (int f = 0; f < kDeviceFieldCount; ++f) EXPECT_EQ(field(i, f), "") << i << "," << f;
  }
}

TEST_F(DeviceListTest, NulByteEndsWhatTheParserSeesOfAPiece) {
  const std::string first("DEVICE=a , \"M\" , U , NODE\0NAME=n \n", 34);
  dir.write(cfg, first + "DEVICE=b , \"M\" , U , NODENAME=n \n");
  EXPECT_EQ(devices.device_count(), 2);
  EXPECT_EQ(field(0, kFriendlyName), "");
  EXPECT_EQ(field(1, kFriendlyName), "b");
}

}  // namespace
}  // namespace kxsane
