#include "models/descramble.h"

#include <cstddef>

namespace kxsane {

namespace {

constexpr std::array<unsigned char, 128> make_descramble_table() {
  // What each scrambled byte 0x20..0x7F reads as, in byte order. These are
  // fixed: shipped model files were scrambled with exactly this table.
  constexpr unsigned char kPrintable[96] = {
      0x38, 0x4D, 0x67, 0x6D, 0x5D, 0x2E, 0x73, 0x22, 0x7B, 0x37, 0x46, 0x3C, 0x50, 0x6C,
      0x2B, 0x26, 0x36, 0x3A, 0x72, 0x5A, 0x52, 0x6F, 0x79, 0x30, 0x51, 0x4C, 0x3D, 0x43,
      0x2D, 0x6B, 0x48, 0x32, 0x75, 0x70, 0x4A, 0x4E, 0x24, 0x53, 0x41, 0x71, 0x6A, 0x60,
      0x66, 0x64, 0x78, 0x7E, 0x7C, 0x61, 0x58, 0x54, 0x39, 0x7A, 0x3F, 0x2C, 0x29, 0x74,
      0x20, 0x5C, 0x62, 0x65, 0x56, 0x7F, 0x77, 0x23, 0x4B, 0x5F, 0x34, 0x25, 0x63, 0x2F,
      0x35, 0x33, 0x7D, 0x40, 0x49, 0x5E, 0x47, 0x69, 0x31, 0x45, 0x76, 0x21, 0x68, 0x57,
      0x44, 0x27, 0x42, 0x3E, 0x59, 0x4F, 0x6E, 0x55, 0x28, 0x3B, 0x2A, 0x5B,
  };
  std::array<unsigned char, 128> table{};
  for (std::size_t b = 0; b < 0x20; ++b) table[b] = static_cast<unsigned char>(b);
  for (std::size_t b = 0x20; b < 0x80; ++b) table[b] = kPrintable[b - 0x20];
  return table;
}

// The inverse of the table, for the authoring tool.
constexpr std::array<unsigned char, 128> make_scramble_table() {
  const std::array<unsigned char, 128> forward = make_descramble_table();
  std::array<unsigned char, 128> inverse{};
  for (std::size_t b = 0; b < 0x80; ++b) inverse[forward[b]] = static_cast<unsigned char>(b);
  return inverse;
}

constexpr std::array<unsigned char, 128> kScrambleTable = make_scramble_table();

// A typo in the table would make some plain byte unreachable; refuse to build.
constexpr bool tables_are_inverse() {
  const std::array<unsigned char, 128> forward = make_descramble_table();
  for (std::size_t b = 0; b < 0x80; ++b) {
    if (forward[kScrambleTable[b]] != b)
      return false;
  }
  return true;
}
static_assert(tables_are_inverse(), "the descramble table must be a permutation");

}  // namespace

const std::array<unsigned char, 128> kDescrambleTable = make_descramble_table();

unsigned char descramble_byte(unsigned char b) {
  return b < 0x80 ? kDescrambleTable[b] : 0;
}

void unscramble_line(char* line) {
  if (line == nullptr || line[0] != '@')
    return;
  char* out = line;
  for (const char* in = line + 1;; ++in) {
    const unsigned char plain = descramble_byte(static_cast<unsigned char>(*in));
    if (plain == 0)
      break;
    *out++ = static_cast<char>(plain);
  }
  *out = '\0';
}

void unscramble_line(std::string& line) {
  if (line.empty() || line[0] != '@')
    return;
  std::size_t out = 0;
  for (std::size_t in = 1; in < line.size(); ++in) {
    const unsigned char plain = descramble_byte(static_cast<unsigned char>(line[in]));
    if (plain == 0)
      break;
    line[out++] = static_cast<char>(plain);
  }
  line.resize(out);
}

std::optional<std::string> scramble_line(const std::string& plain) {
  std::string scrambled = "@";
  scrambled.reserve(plain.size() + 1);
  for (const char c : plain) {
    const auto b = static_cast<unsigned char>(c);
    if (b == 0 || b >= 0x80)
      return std::nullopt;
    scrambled += static_cast<char>(kScrambleTable[b]);
  }
  return scrambled;
}

}  // namespace kxsane
