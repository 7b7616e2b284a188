#include "common/text.h"

#include <algorithm>
#include <cstring>

namespace kxsane {

namespace {

bool is_host_char(char c) {
  return is_ascii_alnum(c) || c == '.' || c == '-' || c == '_';
}

}  // namespace

void strip_whitespace(char* text) {
  char* out = text;
  for (const char* in = text; *in != '\0'; ++in) {
    if (!is_stripped_whitespace(*in))
      *out++ = *in;
  }
  *out = '\0';
}

void strip_whitespace(std::string& text) {
  std::erase_if(text, is_stripped_whitespace);
}

bool is_valid_friendly_name(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), is_friendly_name_char);
}

bool is_valid_ipv4(std::string_view text) {
  if (text.size() < 7)
    return false;
  // Four runs of digits between three dots, each run a number up to 255
  // (leading zeros allowed). Nothing else: no sign, no blank, no empty run.
  int runs = 0;
  std::size_t at = 0;
  for (;;) {
    if (at == text.size() || !is_ascii_digit(text[at]))
      return false;
    unsigned value = 0;
    for (; at < text.size() && is_ascii_digit(text[at]); ++at) {
      value = value * 10 + static_cast<unsigned>(text[at] - '0');
      if (value > 255)
        return false;
    }
    ++runs;
    if (at == text.size())
      return runs == 4;
    if (text[at] != '.' || runs == 4)
      return false;
    ++at;
  }
}

bool is_plain_host(std::string_view text) {
  if (text.empty() || text.front() == '-')
    return false;
  for (char c : text) {
    if (!is_host_char(c))
      return false;
  }
  return true;
}

void copy_truncated(char* dst, std::size_t size, const char* src, std::size_t length) {
  const std::size_t n = length < size - 1 ? length : size - 1;
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

}  // namespace kxsane
