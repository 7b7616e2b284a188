#include "models/descramble.h"

#include <gtest/gtest.h>

namespace kxsane {
namespace {

TEST(Descramble, EveryByteReadsAsItsFixedValue) {
  // What the scrambled bytes 0x20..0x7F read as, sixteen a row. Shipped
  // model files were scrambled with exactly these: two neighbours swapped
  // would still round-trip, and misread every such file.
  constexpr char kPrintable[] =
      "8Mgm].s\"{7F<Pl+&"
      "6:rZRoy0QL=C-kH2"
      "upJN$SAqj`fdx~|a"
      "XT9z?,)t \\beV\x7F"
      "w#"
      "K_4%c/53}@I^Gi1E"
      "v!hWD'B>YOnU(;*[";
  static_assert(sizeof kPrintable == 96 + 1);
  for (unsigned b = 0; b < 0x100; ++b) {
    // Control characters read as themselves; bytes from 0x80 on end a line.
    const unsigned expected =
        b < 0x20 ? b : (b < 0x80 ? static_cast<unsigned char>(kPrintable[b - 0x20]) : 0);
    EXPECT_EQ(descramble_byte(static_cast<unsigned char>(b)), expected) << "byte " << b;
  }
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
