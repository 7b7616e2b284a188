// Properties: any model description text reads without overflow into
// records whose texts fit their capacities and hold no blanks; scrambling a
// line and unscrambling it again gives the line back; and a file scrambled
// by the authoring tool reads into the same table as the plain file, and
// unscrambles back to it byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "models/descramble.h"
#include "models/model_table.h"
#include "models/scrambler.h"

namespace {

void check(bool condition) {
  if (!condition)
    std::abort();
}

bool holds_stripped_blank(const char* text, std::size_t capacity) {
  const std::size_t length = strnlen(text, capacity);
  check(length < capacity);
  for (std::size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f')
      return true;
  }
  return false;
}

// The table read from `text`.
void read_table(const std::string& text, kxsane::ModelTable& table) {
  if (text.empty())
    return;
  std::FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  if (file == nullptr)
    return;
  table.read_model_stream(file);
  std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  kxsane::ModelTable table("/nonexistent/models4", "/nonexistent/Kxsane4.ini");
  read_table(text, table);
  for (const kxsane::ModelRecord& record : table.records()) {
    check(!holds_stripped_blank(record.name, sizeof record.name));
    for (const auto& cm : record.cm) check(!holds_stripped_blank(cm, sizeof cm));
  }

  // A single line of encodable text survives the scramble and back.
  const std::string line = text.substr(0, text.find('\n'));
  if (const auto scrambled = kxsane::scramble_line(line)) {
    check((*scrambled)[0] == '@');
    std::string back = *scrambled;
    kxsane::unscramble_line(back);
    check(back == line);
  }

  // The authoring tool: the scrambled file reads the same and unscrambles
  // back to the plain one.
  std::string scrambled_file;
  if (kxsane::scramble_model_file(text, scrambled_file).ok()) {
    kxsane::ModelTable again("/nonexistent/models4", "/nonexistent/Kxsane4.ini");
    read_table(scrambled_file, again);
    check(again.size() == table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
      check(std::memcmp(&again.records()[i], &table.records()[i], sizeof(kxsane::ModelRecord)) ==
            0);
    }
    std::string plain;
    const bool had_scrambled_lines = text.find("\n@") != std::string::npos || text[0] == '@';
    if (!had_scrambled_lines && kxsane::unscramble_model_file(scrambled_file, plain).ok()) {
      check(plain == text);
    }
  }
  return 0;
}
