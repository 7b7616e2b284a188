// The descramble table of scrambled model lines, shared by the reader and the
// authoring tool.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace kxsane {

// Entry for every byte below 0x80: control characters map to themselves,
// 0x20..0x7F to a permutation of 0x20..0x7F.
extern const std::array<unsigned char, 128> kDescrambleTable;

// The table's byte for `b`; NUL for bytes of 0x80 and above.
unsigned char descramble_byte(unsigned char b);

// Unscrambles a line that begins with "@" in place: every following byte is
// mapped and moved one place left; a byte that maps to NUL ends the line.
void unscramble_line(std::string& line);
// The same for a NUL-terminated line; the reader's hot path, no allocation.
void unscramble_line(char* line);

// The scrambled form "@" + encoded bytes of `plain`, or none when `plain`
// holds a byte of 0x80 or above (or a NUL), which cannot be encoded.
std::optional<std::string> scramble_line(const std::string& plain);

}  // namespace kxsane
