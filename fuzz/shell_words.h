// A strict reader of the shell command texts the tool builds: splits a text
// into words and the operators "|" and ">", the way /bin/sh and bash would,
// and refuses anything that a shell would not take literally (expansions,
// globbing, other operators, double quotes).
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "common/shell_command.h"

namespace kxsane::fuzz {

inline bool is_shell_special(char c) {
  switch (c) {
    case '$':
    case '`':
    case '\\':
    case '"':
    case '*':
    case '?':
    case '[':
    case ']':
    case '~':
    case '#':
    case ';':
    case '&':
    case '<':
    case '(':
    case ')':
    case '{':
    case '}':
    case '!':
    case '\n':
    case '\r':
    case '\v':
    case '\f':
    case '\0':
      return true;
    default:
      return false;
  }
}

// The words of `text`, or none when some part is not literal.
inline std::optional<std::vector<std::string>> shell_words(const std::string& text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    if (text[i] == ' ' || text[i] == '\t') {
      ++i;
      continue;
    }
    if (text[i] == '|' || text[i] == '>') {
      words.emplace_back(1, text[i++]);
      continue;
    }
    std::string word;
    while (i < n && text[i] != ' ' && text[i] != '\t' && text[i] != '|' && text[i] != '>') {
      if (text[i] == '\'') {
        const std::size_t close = text.find('\'', i + 1);
        if (close == std::string::npos)
          return std::nullopt;
        word.append(text, i + 1, close - i - 1);
        i = close + 1;
      } else if (text[i] == '\\' && i + 1 < n && text[i + 1] != '\n') {
        word += text[i + 1];  // a backslash quotes the next character
        i += 2;
      } else if (is_shell_special(text[i])) {
        return std::nullopt;
      } else {
        word += text[i++];
      }
    }
    words.push_back(word);
  }
  return words;
}

// The literal text a basic regular expression matches, or none when it
// holds an unescaped special character.
inline std::optional<std::string> bre_literal(const std::string& pattern) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '\\') {
      if (i + 1 == pattern.size())
        return std::nullopt;
      const char next = pattern[++i];
      // Only escapes of characters special in a BRE (or the delimiter) are
      // literal; "\+", "\n" and the like are not.
      if (next != '.' && next != '[' && next != ']' && next != '*' && next != '^' && next != '$' &&
          next != '\\' && next != '/') {
        return std::nullopt;
      }
      out += next;
    } else if (c == '.' || c == '[' || c == '*' || c == '/' || c == '$' || c == '^') {
      return std::nullopt;
    } else {
      out += c;
    }
  }
  return out;
}

// A property that does not hold ends the run, so that the fuzzer reports it.
inline void check(bool condition) {
  if (!condition)
    std::abort();
}

// The remove command's text for `name` hands the shell exactly nine words
// (cat, the input, |, sed, the script, |, uniq, >, the output), and its sed
// pattern matches `name` literally; a name with a line break gets no command.
inline void check_remove_command(const std::string& name) {
  const auto command = remove_device_command("/tmp/t", name, "/etc/c.cfg");
  check(command.has_value() == (name.find('\n') == std::string::npos));
  if (!command || name.find('\0') != std::string::npos)
    return;
  const auto words = shell_words(*command);
  check(words && words->size() == 9);
  const std::string& script = (*words)[4];
  const std::string head = "s/DEVICE=", tail = " .*$//";
  check(script.rfind(head, 0) == 0 && script.size() >= head.size() + tail.size());
  check(script.compare(script.size() - tail.size(), tail.size(), tail) == 0);
  const auto literal =
      bre_literal(script.substr(head.size(), script.size() - head.size() - tail.size()));
  check(literal && *literal == name);
}

}  // namespace kxsane::fuzz
