#include "common/text.h"

#include <gtest/gtest.h>

namespace kxsane {
namespace {

TEST(FriendlyName, LettersDigitsHyphenAndUnderscoreOnly) {
  for (const char* good : {"a", "Office-2_b", "0", "-", "_x", "ZZ9"})
    EXPECT_TRUE(is_valid_friendly_name(good)) << good;
  for (const char* bad :
       {"", "a.b", "a b", "a\tb", "a/b", "a=b", "a,b", "\xc3\xa4", "\xe9", "a\n", "\"a\""})
    EXPECT_FALSE(is_valid_friendly_name(bad)) << bad;
}

TEST(Ipv4, AcceptsDottedQuadsUpTo255WithLeadingZeros) {
  for (const char* good : {"1.2.3.4", "0.0.0.0", "255.255.255.255", "010.001.000.001",
                           "192.168.100.200", "00000000000000000000001.2.3.4"})
    EXPECT_TRUE(is_valid_ipv4(good)) << good;
}

TEST(Ipv4, RejectsEverythingElse) {
  for (const char* bad : {
           "1.2.3",            // three numbers
           "256.1.1.1",        // out of range
           "1.2.3.256",        // out of range in the last place
           "1..2.3",           // empty number
           "1.2.3.4.5",        // four dots
           ".1.2.3.4",         // leading dot
           "1.2.3.4.",         // trailing dot
           "1.2.3.",           // trailing dot, short
           "",                 //
           "a.b.c.d",          //
           "1.2.3.4a",         // trailing garbage a scan would ignore
           "+1.2.3.4",         // sign a scan would accept
           "1.2.-3.4",         //
           " 1.2.3.4",         // blank a scan would skip
           "1.2.3.4 ",         //
           "4294967297.1.1.1"  // wraps to 1 in a 32-bit scan
       })
    EXPECT_FALSE(is_valid_ipv4(bad)) << bad;
}

}  // namespace
}  // namespace kxsane
