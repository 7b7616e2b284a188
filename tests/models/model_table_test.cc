#include "models/model_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "models/descramble.h"
#include "support/test_dir.h"

namespace kxsane {
namespace {

using kxsane::testing::capture_stdout;
using kxsane::testing::TestDir;

constexpr std::uint32_t kDefaultVendor = KXSANE_DEFAULT_VENDOR_ID_FOR_TESTS;

// Every field but the vendor ID, in one comparable line:
// "product|series,type,type_param|re,we|name|cm0,cm1,cm2".
std::string describe(const ModelRecord& r) {
  char text[512];
  std::snprintf(text, sizeof text, "0x%x|%d,%d,%d|%d,%d|%s|%s,%s,%s", r.product_id, r.series,
                r.type, r.type_param, r.re, r.we, r.name, r.cm[0], r.cm[1], r.cm[2]);
  return text;
}

ModelRecord parse(const std::string& line) {
  ModelRecord record;
  parse_model_line(line, record);
  return record;
}

// A line that carries nothing: every number missing.
constexpr char kAllDefaults[] = "0xffff|655,35,65535|65535,65535||,,";

TEST(ModelLine, FieldsAndTheirDefaults) {
  struct Case {
    const char* line;
    const char* expected;
  } cases[] = {
      {"0x123\n", "0x123|655,35,65535|65535,65535||,,"},
      {" 0x4AB:0x123 , 503, 7, \"M 1\", 2, 3, a, b, c, ignored\r\n",
       "0x123|5,3,7|2,3|\"M1\"|a,b,c"},
      {"0x1,,,,,,,,", "0x1|0,0,0|-1,-1||,,"},
      {"0x1,5,", "0x1|0,5,0|65535,65535||,,"},
      {"0x1,-7,-3,Plain,4", "0x1|0,-7,-3|4,65535|Plain|,,"},
      {"0x1,-250,+9,n,12abc,x9", "0x1|-2,-50,9|12,-1|n|,,"},
      {"\r\n", kAllDefaults},
      {"", kAllDefaults},
  };
  for (const Case& c : cases) EXPECT_EQ(describe(parse(c.line)), c.expected) << c.line;
}

TEST(ModelLine, IdTextForms) {
  struct Case {
    const char* id;
    std::uint32_t vendor, product;
  } cases[] = {
      {"0x123", kDefaultVendor, 0x123},    {"0x4AB:0x123", 0x4AB, 0x123},
      {"0X123", kDefaultVendor, 0xFFFF},   {"123", kDefaultVendor, 0xFFFF},
      {"0x12:0X34", kDefaultVendor, 0x12}, {"0x12:0x", 0x12, 0xFFFF},
      {"0x:0x5", kDefaultVendor, 0xFFFF},  {"0x1g", kDefaultVendor, 0x1},
      {"0x", kDefaultVendor, 0xFFFF},      {"0x0x1f", kDefaultVendor, 0x1f},
  };
  for (const Case& c : cases) {
    const ModelRecord r = parse(std::string(c.id) + ",1");
    EXPECT_EQ(r.vendor_id, c.vendor) << c.id;
    EXPECT_EQ(r.product_id, c.product) << c.id;
  }
}

TEST(ModelLine, OutOfRangeNumbersWrapToTheirLow32Bits) {
  // TYPE 2^32 + 99; RE beyond 64 bits (clamped, all ones); WE 2^31.
  EXPECT_EQ(describe(parse("0x1,4294967395,-4294967297,n,99999999999999999999999,2147483648")),
            "0x1|0,99,-1|-1,-2147483648|n|,,");
  EXPECT_EQ(describe(parse("0x1,1,1,n,-99999999999999999999999")), "0x1|0,1,1|0,65535|n|,,");
  EXPECT_EQ(parse("0x123456789").product_id, 0x23456789u);
  EXPECT_EQ(parse("0x-1").product_id, 0xFFFFFFFFu);
  EXPECT_EQ(parse("0x100000000000000001").product_id, 0xFFFFFFFFu);
}

TEST(ModelLine, OverlongTextsAreTruncated) {
  const std::string name(300, 'n');
  const std::string cm(100, 'c');
  const ModelRecord r = parse("0x1,1,1," + name + ",1,1," + cm + "," + cm + "," + cm);
  EXPECT_EQ(std::string(r.name), name.substr(0, 127));
  for (const char* text : r.cm) EXPECT_EQ(std::string(text), cm.substr(0, 63));

  // Only the first 49 characters of the ID text count.
  EXPECT_EQ(parse("0x" + std::string(47, '0') + "12345").product_id, 0u);
  const ModelRecord late_colon = parse("0x" + std::string(46, '0') + "7:0x5");
  EXPECT_EQ(late_colon.product_id, 7u);
  EXPECT_EQ(late_colon.vendor_id, kDefaultVendor);

  const ModelRecord huge = parse(std::string(1 << 20, ','));
  EXPECT_EQ(describe(huge), "0xffff|0,0,0|-1,-1||,,");
}

class ModelFile : public ::testing::Test {
 protected:
  int read(const std::string& content) {
    dir_.write("cfg/Kxsane4.ini", content);
    return table_.read_model_file(paths_.main_model_file);
  }
  std::string record(std::size_t i) const { return describe(table_.records().at(i)); }

  TestDir dir_;
  Paths paths_ = dir_.paths();
  ModelTable table_{paths_.models_dir, paths_.main_model_file};
};

TEST_F(ModelFile, ReadsOnlyTheModelLinesOfTheSection) {
  EXPECT_EQ(read("0x9,1\n"
                 "[Support Model] trailing text\n"
                 "# comment\n"
                 "  \t# indented comment\n"
                 " \t \n"
                 "\n"
                 "  \t0x1,1\n"
                 "0x2,2\n"
                 "  [Next Section]\n"
                 "0x3,3\n"
                 "[Support Model]\n"
                 "0x4,4\n"),
            2);
  ASSERT_EQ(table_.size(), 2u);
  EXPECT_EQ(record(0), "0x1|0,1,65535|65535,65535||,,");
  EXPECT_EQ(record(1), "0x2|0,2,65535|65535,65535||,,");
}

TEST_F(ModelFile, HeaderMustStandAsWrittenInTheFirstColumn) {
  const std::string scrambled_header = *scramble_line("[Support Model]");
  for (const std::string& header : {std::string(" [Support Model]"), std::string("[support model]"),
                                    std::string("[Support ModelX]"), scrambled_header}) {
    EXPECT_EQ(read(header + "\n0x1,1\n"), 0) << header;
  }
  EXPECT_EQ(read("0x1,1\n"), 0);
  EXPECT_EQ(table_.size(), 0u);
  EXPECT_EQ(table_.read_model_file(dir_.file("missing.ini")), 0);
}

TEST_F(ModelFile, CrLfEmptyLinesBecomeDefaultRecords) {
  EXPECT_EQ(read("[Support Model]\r\n0x1,2\r\n\r\n# c\r\n"), 2);
  EXPECT_EQ(record(0), "0x1|0,2,65535|65535,65535||,,");
  EXPECT_EQ(record(1), kAllDefaults);
}

TEST_F(ModelFile, ScrambledLinesAreUnscrambledFirst) {
  EXPECT_EQ(read("[Support Model]\n" + *scramble_line("0x5,101,2,\"S\",3,4,x,y,z") + "\n" + "@\n" +
                 *scramble_line("  # comment") + "\n" + "@\x90" + *scramble_line("0x7") + "\n" +
                 " " + *scramble_line("0x8") + "\n" + *scramble_line("0x6,1") + "\r\n" +
                 *scramble_line("[End]") + "\n" + "0x9\n"),
            4);
  ASSERT_EQ(table_.size(), 4u);
  EXPECT_EQ(record(0), "0x5|1,1,2|3,4|\"S\"|x,y,z");
  EXPECT_EQ(record(1), kAllDefaults);  // nothing after the mark is readable
  EXPECT_EQ(record(2), kAllDefaults);  // an indented "@" is no mark
  EXPECT_EQ(record(3), "0x6|0,1,65535|65535,65535||,,");
}

TEST_F(ModelFile, LastLineOfBlanksWithoutLineBreakIsARecord) {
  EXPECT_EQ(read("[Support Model]\n0x1\n  \t"), 2);
  EXPECT_EQ(record(1), kAllDefaults);
}

TEST_F(ModelFile, NulByteEndsWhatTheLineSays) {
  constexpr char kContent[] = "[Support Model]\n0x5\0,9\n0x6,7\n";
  EXPECT_EQ(read(std::string(kContent, sizeof kContent - 1)), 2);
  EXPECT_EQ(record(0), "0x5|655,35,65535|65535,65535||,,");
  EXPECT_EQ(record(1), "0x6|0,7,65535|65535,65535||,,");
}

TEST_F(ModelFile, LongLinesArriveInPiecesOf1023Characters) {
  const std::string head = "0x1,1,1,";
  const std::string filler(1023 - head.size(), 'n');
  EXPECT_EQ(read("[Support Model]\n" + head + filler + "#tail is a comment\n" +  //
                 head + filler + "0x2,2\n" +                                     //
                 std::string(1022, ' ') + "\n" +                                 // one piece
                 head + filler + "\n" +                                          // then "\n"
                 head + filler + "[ends the section\n" + "0x3\n"),
            5);
  EXPECT_EQ(record(0), "0x1|0,1,1|65535,65535|" + filler.substr(0, 127) + "|,,");
  EXPECT_EQ(record(2), "0x2|0,2,65535|65535,65535||,,");
  EXPECT_EQ(table_.size(), 5u);
}

TEST_F(ModelFile, LinesAcrossReadChunksAreWhole) {
  std::string content = "[Support Model]\n";
  constexpr int kLines = 20000;
  for (int i = 0; i < kLines; ++i) {
    content += "0x" + std::to_string(i) + "," + std::string(static_cast<std::size_t>(i % 37), ' ') +
               "1," + std::to_string(i) + "\n";
  }
  ASSERT_EQ(read(content), kLines);
  for (int i = 0; i < kLines; ++i) {
    const ModelRecord& r = table_.records()[static_cast<std::size_t>(i)];
    ASSERT_EQ(r.type_param, i);
    ASSERT_EQ(r.product_id, std::stoul(std::to_string(i), nullptr, 16));
  }
}

TEST(ModelTable, FileNameFilter) {
  for (const char* good : {"a.ini", "abcd.ini", "x.ini.ini"}) EXPECT_TRUE(is_model_file_name(good));
  for (const char* bad : {".ini", ".hidden.ini", "b.INI", "c.ini.bak", "ini", "", "a.in"})
    EXPECT_FALSE(is_model_file_name(bad)) << bad;
  EXPECT_FALSE(is_model_file_name(nullptr));
}

TEST(ModelTable, LoadsFilteredModelFilesThenTheMainFile) {
  TestDir dir;
  const Paths paths = dir.paths();
  for (const char* name : {"a.ini", ".hidden.ini", "b.INI", "c.ini.bak"})
    dir.write(std::string("cfg/models4/") + name, std::string("[Support Model]\n0x1,1,1,") + name);
  dir.write("cfg/Kxsane4.ini", "[Support Model]\n0x2,1,1,main\n");
  ModelTable table(paths.models_dir, paths.main_model_file);
  EXPECT_EQ(table.load_model_table(), 0);
  ASSERT_EQ(table.size(), 2u);
  EXPECT_STREQ(table.records()[0].name, "a.ini");
  EXPECT_STREQ(table.records()[1].name, "main");
  EXPECT_EQ(table.load_model_table(), -1);
  EXPECT_EQ(table.size(), 2u);
}

TEST(ModelTable, LoadThatFindsNothingReadsAgainNextTime) {
  TestDir dir;
  const Paths paths = dir.paths();
  ModelTable table(paths.models_dir + "-missing", paths.main_model_file);
  EXPECT_EQ(table.load_model_table(), 0);
  EXPECT_EQ(table.size(), 0u);
  dir.write("cfg/Kxsane4.ini", "[Support Model]\n0x2\n");
  EXPECT_EQ(table.load_model_table(), 0);
  EXPECT_EQ(table.size(), 1u);
}

// A model file whose read fails part way (/proc/self/mem reads EIO) leaves
// the table loaded in part, and says so; a missing file is no failure.
TEST(ModelTable, LoadStatusNamesTheFileReadInPart) {
  TestDir dir;
  const Paths paths = dir.paths();
  dir.write("cfg/Kxsane4.ini", "[Support Model]\n0x2,1,1,main\n");
  std::filesystem::create_symlink("/proc/self/mem", dir.file("cfg/models4/bad.ini"));
  ModelTable table(paths.models_dir, paths.main_model_file);
  EXPECT_EQ(table.load().message(), paths.models_dir + "/bad.ini: Input/output error");
  EXPECT_EQ(table.size(), 1u);
  table.free_model_table();
  std::filesystem::remove(dir.file("cfg/models4/bad.ini"));
  EXPECT_TRUE(table.load().ok());
}

class ModelLookup : public ::testing::Test {
 protected:
  void write(const std::string& lines) {
    dir_.write("cfg/Kxsane4.ini", "[Support Model]\n" + lines);
  }

  TestDir dir_;
  Paths paths_ = dir_.paths();
  ModelTable table_{paths_.models_dir, paths_.main_model_file};
};

TEST_F(ModelLookup, NameLookupsUseTheTableAsItStands) {
  write("0x1:0x10,1,1,\"A\"\n0x2:0x20,1,1,\"A\"\n0x3:0x30,1,1,\"B\"\n");
  std::uint32_t vendor = 7, product = 7;
  EXPECT_EQ(table_.model_exists("\"A\""), 0);  // not loaded
  EXPECT_EQ(table_.model_ids("\"A\"", &vendor, &product), 0);
  table_.load_model_table();
  EXPECT_EQ(table_.model_exists("\"A\""), 1);
  EXPECT_EQ(table_.model_exists("A"), 0);
  EXPECT_EQ(table_.model_exists(nullptr), 0);
  EXPECT_EQ(table_.model_ids("\"A\"", &vendor, &product), 1);
  EXPECT_EQ(vendor, 0x1u);
  EXPECT_EQ(product, 0x10u);
  EXPECT_EQ(table_.model_ids("\"C\"", &vendor, &product), 0);
}

TEST_F(ModelLookup, DetailLinesShowMissingAndEmptyNumbersApart) {
  write("0x4ab:0x123,503,7,\"M\",1,2,a,b,c\n0x5\n0x6,1,1,\"E\",,\n");
  table_.load_model_table();
  char vendor[16];
  std::snprintf(vendor, sizeof vendor, "0x%x", kDefaultVendor);
  std::string lines;
  for (const ModelRecord& record : table_.records()) lines += model_detail_line(record);
  EXPECT_EQ(lines,
            "MODEL:\"M\",ID:0x4ab:0x123,TYPE:3,7,RE:0x1,WE:0x2 CM:a,b,c\n"
            "MODEL:,ID:" +
                std::string(vendor) +
                ":0x5,TYPE:35,65535,RE:0xffff,WE:0xffff CM:,,\n"
                "MODEL:\"E\",ID:" +
                std::string(vendor) + ":0x6,TYPE:1,1,RE:0xffffffff,WE:0xffffffff CM:,,\n");
}

TEST_F(ModelLookup, CachedLookupsLoadFindAndFallBackToTheDefault) {
  write("0x1:0x10,1,1,\"A\"\n0x2:0x20,1,1,\"B\"\n0x3:0x20,1,1,\"C\"\n");
  EXPECT_STREQ(table_.model_by_product(0x20).name, "\"B\"");  // loads the table
  EXPECT_EQ(table_.size(), 3u);
  EXPECT_STREQ(table_.model_by_product(0x20).name, "\"B\"");
  EXPECT_EQ(&table_.model_by_product(0x99), &default_model_record());
  EXPECT_STREQ(table_.model_by_index(2).name, "\"C\"");
  EXPECT_STREQ(table_.model_by_index(0).name, "\"A\"");
  EXPECT_EQ(&table_.model_by_index(3), &default_model_record());
  // Every index of 0 or less names the first record, also after a miss.
  EXPECT_STREQ(table_.model_by_index(-1).name, "\"A\"");
  EXPECT_STREQ(table_.model_by_index(-5).name, "\"A\"");

  ModelRecord copy;
  EXPECT_EQ(table_.copy_model_by_product(&copy, 0x10), &copy);
  EXPECT_EQ(std::memcmp(&copy, &table_.records()[0], sizeof copy), 0);
  table_.copy_model_by_product(&copy, 0x77);
  EXPECT_EQ(std::memcmp(&copy, &default_model_record(), sizeof copy), 0);
}

TEST_F(ModelLookup, CachesNeverAnswerFromAFreedTable) {
  write("0x1:0x10,1,1,\"Old\"\n");
  EXPECT_STREQ(table_.model_by_product(0x10).name, "\"Old\"");
  EXPECT_STREQ(table_.model_by_index(0).name, "\"Old\"");
  ModelRecord copy;
  table_.copy_model_by_product(&copy, 0x10);
  table_.free_model_table();
  EXPECT_EQ(table_.size(), 0u);

  write("0x1:0x10,1,1,\"New\"\n");
  EXPECT_STREQ(table_.model_by_product(0x10).name, "\"New\"");
  EXPECT_STREQ(table_.model_by_index(0).name, "\"New\"");
  EXPECT_STREQ(table_.copy_model_by_product(&copy, 0x10)->name, "\"New\"");
}

TEST_F(ModelLookup, FlattenedListStopsCopyingAtTheFirstTextThatDoesNotFit) {
  write("0x4ab:0x123,503,7,\"M\"\n0x1:0x2,-7,0,\"Long Name\"\n");
  const std::string first = "5,0x4ab,0x123,3,7,\"M\"";
  const std::string second = "0,0x1,0x2,-7,0,\"LongName\"";
  const std::size_t full = first.size() + 1 + second.size() + 1;

  std::size_t total = 0;
  int count = 0;
  table_.model_list_size(&total, &count);  // loads the table
  EXPECT_EQ(total, full);
  EXPECT_EQ(count, 2);

  std::string buffer(full, 'x');
  EXPECT_EQ(table_.model_list_text(buffer.data(), full, &total), 2);
  EXPECT_EQ(buffer, first + '\0' + second + '\0');

  buffer.assign(full, 'x');
  table_.model_list_fill(buffer.data(), full - 1);
  EXPECT_EQ(buffer, first + '\0' + std::string(second.size() + 1, 'x'));
}

}  // namespace
}  // namespace kxsane
