#pragma once

#include <cstddef>
#include <string>

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

// True when `text` is a plain host name or IPv4 address that may be handed to
// a command: non-empty, only A-Z a-z 0-9 '.' '-' '_', not starting with '-'.
bool is_plain_host(const std::string& text);

// Copies at most `size` - 1 bytes of `src` into `dst` and terminates it.
// `size` must be at least 1.
void copy_truncated(char* dst, std::size_t size, const char* src, std::size_t length);

}  // namespace kxsane
