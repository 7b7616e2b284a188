#include "models/descramble.h"

#include <gtest/gtest.h>

#include <set>

namespace kxsane {
namespace {

TEST(Descramble, TableKeepsControlsAndPermutesPrintables) {
  std::set<unsigned char> printables;
  for (unsigned b = 0; b < 0x80; ++b) {
    const unsigned char mapped = descramble_byte(static_cast<unsigned char>(b));
    if (b < 0x20) {
      EXPECT_EQ(mapped, b);
    } else {
      EXPECT_GE(mapped, 0x20);
      printables.insert(mapped);
    }
  }
  EXPECT_EQ(printables.size(), 96u);
  EXPECT_EQ(descramble_byte(0x20), '8');
  EXPECT_EQ(descramble_byte(0x21), 'M');
  EXPECT_EQ(descramble_byte(0x7F), '[');
  EXPECT_EQ(descramble_byte(0x80), 0);
  EXPECT_EQ(descramble_byte(0xFF), 0);
}

TEST(Descramble, UnscrambleDropsTheMarkAndStopsAtUnmappableBytes) {
  struct Case {
    std::string scrambled, plain;
  } cases[] = {
      {"@\n", "\n"},
      {"@ !\r\n", "8M\r\n"},
      {"@ \x80!", "8"},
      {"@\xff !", ""},
      {std::string("@ \0!", 4), "8"},
      {"no mark", "no mark"},
      {" @ ", " @ "},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string line = c.scrambled;
    unscramble_line(line);
    EXPECT_EQ(line, c.plain) << c.scrambled;
    std::string buffer = c.scrambled;
    unscramble_line(buffer.data());
    EXPECT_STREQ(buffer.c_str(), c.plain.c_str()) << c.scrambled;
  }
}

TEST(Descramble, ScrambleRoundTripsEveryEncodableByte) {
  std::string all;
  for (int b = 1; b < 0x80; ++b) all += static_cast<char>(b);
  std::optional<std::string> scrambled = scramble_line(all);
  ASSERT_TRUE(scrambled);
  EXPECT_EQ(scrambled->size(), all.size() + 1);
  unscramble_line(*scrambled);
  EXPECT_EQ(*scrambled, all);
  EXPECT_EQ(scramble_line("8M"), "@ !");
}

TEST(Descramble, ScrambleRefusesBytesItCannotEncode) {
  EXPECT_FALSE(scramble_line("ab\x80"));
  EXPECT_FALSE(scramble_line("\xc3\xa9"));
  EXPECT_FALSE(scramble_line(std::string("a\0b", 3)));
}

}  // namespace
}  // namespace kxsane
