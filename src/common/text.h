#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kxsane {

// ASCII character classes, whatever the locale.
constexpr bool is_ascii_digit(char c) {
  return c >= '0' && c <= '9';
}
constexpr bool is_ascii_alnum(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || is_ascii_digit(c);
}

// Blanks as a formatted scan of the C locale knows them (isspace): space,
// tab, line feed, vertical tab, form feed and carriage return.
constexpr bool is_scan_blank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// The characters whitespace removal takes out: space, tab, line feed,
// carriage return and form feed (not the vertical tab).
inline bool is_stripped_whitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Removes every space, tab, line feed, carriage return and form feed from the
// NUL-terminated `text` in place, keeping the order of the other characters.
void strip_whitespace(char* text);
void strip_whitespace(std::string& text);

// A character a friendly name may hold: an ASCII letter, a digit, "-", "_".
constexpr bool is_friendly_name_char(char c) {
  return is_ascii_alnum(c) || c == '-' || c == '_';
}

// Whether `text` is a friendly name: non-empty, only characters that
// is_friendly_name_char takes.
bool is_valid_friendly_name(std::string_view text);

// Whether `text` is a dotted quad of four numbers 0..255 (leading zeros
// allowed), at least 7 characters, only digits and exactly three "." with no
// ".." and no "." at either end.
bool is_valid_ipv4(std::string_view text);

// Whether `text` is a plain host name or IPv4 address that may be handed to
// a command: non-empty, only A-Z a-z 0-9 '.' '-' '_', not starting with '-'.
bool is_plain_host(std::string_view text);

// Copies at most `size` - 1 bytes of `src` into `dst` and terminates it.
// `size` must be at least 1.
void copy_truncated(char* dst, std::size_t size, const char* src, std::size_t length);

}  // namespace kxsane
