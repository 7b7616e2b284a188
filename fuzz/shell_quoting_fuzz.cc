// Property: every value that reaches a command text reaches the shell as
// exactly one literal word (and a -r name as exactly a literal sed pattern).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/shell_command.h"
#include "common/text.h"
#include "shell_words.h"

using kxsane::fuzz::shell_words;

using kxsane::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string value(reinterpret_cast<const char*>(data), size);

  const auto word = shell_words(kxsane::shell_word(value));
  check(word && word->size() == 1 && (*word)[0] == value);

  const auto uniq = shell_words(kxsane::uniq_command(value));
  check(uniq && uniq->size() == 2 && (*uniq)[0] == "uniq" && (*uniq)[1] == value);

  if (const auto ping = kxsane::ping_command(value)) {
    check(kxsane::is_plain_host(value));
    // The text ends with the line break that ends the command.
    check(ping->back() == '\n');
    const auto words = shell_words(ping->substr(0, ping->size() - 1));
    check(words && words->size() == 4 && (*words)[1] == value && (*words)[1][0] != '-');
  }

  kxsane::fuzz::check_remove_command(value);
  return 0;
}
