#include "common/shell_command.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace kxsane {
namespace {

TEST(ShellCommand, PlainValuesStandUnquoted) {
  EXPECT_EQ(ping_command("10.0.0.5"), "ping 10.0.0.5 -w 10\n");
  EXPECT_EQ(ping_command("KXN_0012-a.lan"), "ping KXN_0012-a.lan -w 10\n");
  EXPECT_EQ(uniq_command("/tmp/kxsane_tempfile4_Ab12Z9"), "uniq /tmp/kxsane_tempfile4_Ab12Z9");
  EXPECT_EQ(remove_device_command("/tmp/t", "Office_2-b"),
            "cat /tmp/t | sed s/'DEVICE=Office_2-b .*$'// | uniq");
  EXPECT_EQ(logging_off_command("/tmp/t"), "cat /tmp/t | sed s/'log=.*'// | uniq");
}

TEST(ShellCommand, PingRefusesTargetsThatAreNotPlainHosts) {
  for (const char* target : {"$(touch X)", "a;b", "-f", "a b", "`id`", "a|b", "", "a\nb"}) {
    EXPECT_EQ(ping_command(target), std::nullopt) << target;
  }
}

TEST(ShellCommand, HostileWordsAreSingleQuoted) {
  EXPECT_EQ(shell_word("a b"), "'a b'");
  EXPECT_EQ(shell_word("$(touch X)"), "'$(touch X)'");
  EXPECT_EQ(shell_word("it's"), "'it'\\''s'");
  EXPECT_EQ(shell_word(""), "''");
  EXPECT_EQ(uniq_command("/d/-x;y"), "uniq '/d/-x;y'");
}

TEST(ShellCommand, RemoveNameIsEscapedForSedAndShell) {
  EXPECT_EQ(remove_device_command("/t", "a.b*[c]^$\\/&"),
            "cat /t | sed s/'DEVICE=a\\.b\\*\\[c\\]\\^\\$\\\\\\/& .*$'// | uniq");
  EXPECT_EQ(remove_device_command("/t", "it's"), "cat /t | sed s/'DEVICE=it'\\''s .*$'// | uniq");
  EXPECT_EQ(remove_device_command("/t", "a\nb"), std::nullopt);
}

TEST(Text, StripWhitespaceKeepsOtherCharactersInOrder) {
  char text[] = " a\tb\nc\rd\fe\vf ";
  strip_whitespace(text);
  EXPECT_STREQ(text, "abcde\vf");
  std::string s = "\"M 1\"\r\n";
  strip_whitespace(s);
  EXPECT_EQ(s, "\"M1\"");
}

TEST(Text, PlainHost) {
  EXPECT_TRUE(is_plain_host("KXN_00012"));
  EXPECT_TRUE(is_plain_host("10.0.0.5"));
  EXPECT_FALSE(is_plain_host("-f"));
  EXPECT_FALSE(is_plain_host(""));
  EXPECT_FALSE(is_plain_host("a:b"));
  EXPECT_FALSE(is_plain_host("h\xc3\xa9"));
}

}  // namespace
}  // namespace kxsane
