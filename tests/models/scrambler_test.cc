#include "models/scrambler.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "models/descramble.h"
#include "models/model_table.h"
#include "support/test_dir.h"

namespace kxsane {
namespace {

using kxsane::testing::TestDir;

constexpr char kPlain[] =
    "; vendor notes\n"
    "0x1,1,1,\"Before\"\n"
    "[Support Model]\r\n"
    "# comment\n"
    "  0x4ab:0x123 , 503, 7, \"M 1\", 2, 3, a, b, c\n"
    "\n"
    "0x2,1\r\n"
    "\r\n"
    "   \t0x3,-7,,\"Odd,\n"
    "[Other]\n"
    "0x9,9,9,\"After\"\n";

std::string scrambled(const std::string& plain) {
  const Result<std::string> out = scramble_model_file(plain);
  EXPECT_TRUE(out.ok()) << out.status().message();
  return out.ok() ? *out : "";
}

std::string details_of(const TestDir& dir, const std::string& name, const std::string& content) {
  dir.write(name, content);
  ModelTable table(dir.file("none"), dir.file(name));
  table.load_model_table();
  std::string lines;
  for (const ModelRecord& record : table.records()) lines += model_detail_line(record);
  return lines;
}

TEST(Scrambler, ScramblesOnlyTheModelLinesOfTheSection) {
  EXPECT_EQ(scrambled(kPlain),
            "; vendor notes\n"
            "0x1,1,1,\"Before\"\n"
            "[Support Model]\r\n"
            "# comment\n" +
                *scramble_line("  0x4ab:0x123 , 503, 7, \"M 1\", 2, 3, a, b, c") + "\n\n" +
                *scramble_line("0x2,1\r") + "\n" + *scramble_line("\r") + "\n" +
                *scramble_line("   \t0x3,-7,,\"Odd,") +
                "\n"
                "[Other]\n"
                "0x9,9,9,\"After\"\n");
}

TEST(Scrambler, ScrambledFileReadsLikeThePlainOneAndTurnsBack) {
  TestDir dir;
  const std::string plain_details = details_of(dir, "plain.ini", kPlain);
  EXPECT_EQ(std::count(plain_details.begin(), plain_details.end(), '\n'), 4);
  const std::string once = scrambled(kPlain);
  EXPECT_EQ(details_of(dir, "scrambled.ini", once), plain_details);
  EXPECT_EQ(scrambled(once), once);  // scrambled lines stay as they are

  EXPECT_EQ(unscramble_model_file(once).value(), kPlain);
}

TEST(Scrambler, RefusesWhatTheReaderCouldNotReadBack) {
  Status status =
      scramble_model_file("[Support Model]\n# caf\xc3\xa9 is fine here\n0x1,\xc3\xa9\n").status();
  EXPECT_EQ(status.message(),
            "line 3, column 5: byte 0xC3 cannot be scrambled: only bytes 0x01 to 0x7F can");
  status = scramble_model_file(std::string("[Support Model]\n0x1\0\n", 21)).status();
  EXPECT_NE(status.message().find("line 2, column 4: byte 0x00"), std::string::npos);
  status = scramble_model_file("[Support Model]\n" + std::string(1023, 'x')).status();
  EXPECT_NE(status.message().find("too long"), std::string::npos);
  EXPECT_TRUE(scramble_model_file("[Support Model]\n" + std::string(1022, 'x')).ok());
  status = scramble_model_file("[Support Model]\n" + std::string(1100, '#') + "\n").status();
  EXPECT_NE(status.message().find("1023-character pieces"), std::string::npos);

  status = unscramble_model_file("[Support Model]\n0x1\n@ \x80!\n").status();
  EXPECT_EQ(status.message(), "line 3, column 3: byte 0x80 cannot be part of a scrambled line");
  status = unscramble_model_file("[Support Model]\n" + *scramble_line("@0x1") + "\n").status();
  EXPECT_NE(status.message().find("begins with \"@\""), std::string::npos);
  // Outside the section nothing is converted, so nothing is refused.
  EXPECT_EQ(unscramble_model_file("@\xff\n[Support Model]\n[x]\n@\xff\n").value(),
            "@\xff\n[Support Model]\n[x]\n@\xff\n");
}

// Runs the authoring tool through the shell; returns its exit status.
int run_tool(const TestDir& dir, const std::string& args) {
  const std::string command =
      "cd '" + dir.path() + "' && '" + KXSANE_SCRAMBLE_BINARY + "' " + args + " >out 2>err";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ScrambleTool, ConvertsFilesBothWays) {
  TestDir dir;
  dir.write("plain.ini", kPlain);
  ASSERT_EQ(run_tool(dir, "plain.ini"), 0);
  EXPECT_EQ(dir.read("out"), scrambled(kPlain));
  EXPECT_EQ(dir.read("err"), "");
  ASSERT_EQ(run_tool(dir, "-o scrambled.ini < plain.ini"), 0);
  EXPECT_EQ(dir.read("scrambled.ini"), scrambled(kPlain));
  ASSERT_EQ(run_tool(dir, "-d - < scrambled.ini"), 0);
  EXPECT_EQ(dir.read("out"), kPlain);
}

TEST(ScrambleTool, FailsLoudlyAndLeavesNoOutputFile) {
  TestDir dir;
  dir.write("bad.ini", "[Support Model]\n0x1,\xe9\n");
  EXPECT_EQ(run_tool(dir, "-o result.ini bad.ini"), 1);
  EXPECT_EQ(dir.read("err"),
            "kxsanescramble4: bad.ini: line 2, column 5: byte 0xE9 cannot be scrambled: only bytes "
            "0x01 to 0x7F can\n");
  EXPECT_FALSE(dir.read("result.ini"));
  EXPECT_EQ(run_tool(dir, "missing.ini"), 1);
  EXPECT_EQ(dir.read("err"), "kxsanescramble4: missing.ini: No such file or directory\n");
  EXPECT_EQ(run_tool(dir, "a.ini b.ini"), 2);
  EXPECT_NE(dir.read("err")->find("Usage: kxsanescramble4"), std::string::npos);
  EXPECT_EQ(run_tool(dir, "-h"), 0);
  EXPECT_NE(dir.read("out")->find("-d "), std::string::npos);
}

}  // namespace
}  // namespace kxsane
