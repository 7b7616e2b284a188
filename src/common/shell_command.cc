#include "common/shell_command.h"

#include <string_view>

#include "common/text.h"

namespace kxsane {

namespace {

bool needs_no_quoting(char c) {
  return is_ascii_alnum(c) || std::string_view("._/-+,:=@%").find(c) != std::string_view::npos;
}

// `text` with every character that a basic regular expression or the "/"
// delimiter of an s command would read specially behind a backslash.
std::string sed_literal(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    if (c == '.' || c == '[' || c == ']' || c == '*' || c == '^' || c == '$' || c == '\\' ||
        c == '/') {
      out += '\\';
    }
    out += c;
  }
  return out;
}

// `text` for the inside of a single-quoted shell string.
std::string inside_single_quotes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string shell_word(const std::string& text) {
  bool plain = !text.empty();
  for (char c : text) plain = plain && needs_no_quoting(c);
  if (plain)
    return text;
  // Appends, not operator+: that trips a false -Wrestrict at -O3.
  std::string quoted(1, '\'');
  quoted += inside_single_quotes(text);
  quoted += '\'';
  return quoted;
}

std::optional<std::string> ping_command(const std::string& target) {
  if (!is_plain_host(target))
    return std::nullopt;
  return "ping " + target + " -w 10\n";
}

std::string uniq_command(const std::string& input) {
  return "uniq " + shell_word(input);
}

std::optional<std::string> remove_device_command(const std::string& input,
                                                 const std::string& name) {
  if (name.find('\n') != std::string::npos)
    return std::nullopt;
  return "cat " + shell_word(input) +
         " | sed s/'DEVICE=" + inside_single_quotes(sed_literal(name)) + " .*$'// | uniq";
}

std::string logging_off_command(const std::string& input) {
  return "cat " + shell_word(input) + " | sed s/'log=.*'// | uniq";
}

}  // namespace kxsane
