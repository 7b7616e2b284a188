#include "common/text.h"

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

bool is_plain_host(const std::string& text) {
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
