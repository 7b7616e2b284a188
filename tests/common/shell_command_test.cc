#include "common/shell_command.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace kxsane {
namespace {

TEST(ShellCommand, PlainValuesStandUnquotedInTheTexts) {
  EXPECT_EQ(ping_command("10.0.0.5"), "ping 10.0.0.5 -w 10\n");
  EXPECT_EQ(ping_command("KXN_0012-a.lan"), "ping KXN_0012-a.lan -w 10\n");
  EXPECT_EQ(uniq_command("/tmp/kxsane_tempfile4_Ab12Z9", "/etc/x//k.cfg"),
            "uniq /tmp/kxsane_tempfile4_Ab12Z9 > /etc/x//k.cfg");
  EXPECT_EQ(remove_device_command("/tmp/t", "Office_2-b", "/etc/c.cfg"),
            "cat /tmp/t | sed s/'DEVICE=Office_2-b .*$'// | uniq > /etc/c.cfg");
  EXPECT_EQ(logging_off_command("/tmp/t", "/etc/c.cfg"),
            "cat /tmp/t | sed s/'log=.*'// | uniq > /etc/c.cfg");
  EXPECT_EQ(cat_command("/etc/opt/kestrel/scanner/kxscan4//Kxsane4.ini"),
            "cat /etc/opt/kestrel/scanner/kxscan4//Kxsane4.ini");
  EXPECT_EQ(cat_entry_command("/etc/m//models4", "a.ini"), "cat /etc/m//models4/a.ini");
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
  EXPECT_EQ(cat_entry_command("/d", "-x;y.ini"), "cat '/d/-x;y.ini'");
}

TEST(ShellCommand, RemoveNameIsEscapedForSedAndShell) {
  EXPECT_EQ(remove_device_command("/t", "a.b*[c]^$\\/&", "/o"),
            "cat /t | sed s/'DEVICE=a\\.b\\*\\[c\\]\\^\\$\\\\\\/& .*$'// | uniq > /o");
  EXPECT_EQ(remove_device_command("/t", "it's", "/o"),
            "cat /t | sed s/'DEVICE=it'\\''s .*$'// | uniq > /o");
  EXPECT_EQ(remove_device_command("/t", "a\nb", "/o"), std::nullopt);
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
