// Properties: any model description text reads without overflow into
// records whose texts fit their capacities and hold no blanks; a model line
// parses into what the C library's formatted scan makes of its fields (the
// plain way to read it: whitespace removed, fields cut at commas, sscanf on
// each, longer texts truncated); scrambling a
// line and unscrambling it again gives the line back; and a file scrambled
// by the authoring tool reads into the same table as the plain file, and
// unscrambles back to it byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/text.h"
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
    if (kxsane::is_stripped_whitespace(text[i]))
      return true;
  }
  return false;
}

// A model line read the plain way, with the C library's sscanf.
kxsane::ModelRecord reference_model_line(std::string line) {
  line.resize(std::strlen(line.c_str()));
  std::erase_if(line, kxsane::is_stripped_whitespace);
  std::vector<std::string> fields;
  for (std::size_t start = 0; fields.size() < 9;) {
    const std::size_t comma = line.find(',', start);
    fields.push_back(line.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos)
      break;
    start = comma + 1;
  }
  kxsane::ModelRecord record;
  record.re = record.we = -1;
  record.product_id = kxsane::DEFAULT_NUMBER;
  record.vendor_id = kxsane::DEFAULT_VENDOR_ID;
  const std::string id = fields[0].substr(0, kxsane::kModelIdTextMax);
  unsigned vendor = 0, product = 0;
  if (id.find(":0x") != std::string::npos) {
    const int got = std::sscanf(id.c_str(), "0x%x:0x%x", &vendor, &product);
    if (got >= 1)
      record.vendor_id = vendor;
    if (got == 2)
      record.product_id = product;
  } else if (std::sscanf(id.c_str(), "0x%x", &product) == 1) {
    record.product_id = product;
  }
  auto number = [&](std::size_t index, std::int32_t& value) {
    int scanned = 0;
    if (index >= fields.size())
      value = kxsane::DEFAULT_NUMBER;
    else if (std::sscanf(fields[index].c_str(), "%d", &scanned) == 1)
      value = scanned;
  };
  auto text = [&](std::size_t index, char* dst, std::size_t size) {
    if (index >= fields.size())
      return;
    std::string scanned(fields[index].size() + 1, '\0');
    if (std::sscanf(fields[index].c_str(), "%s", scanned.data()) == 1)
      std::strncpy(dst, scanned.c_str(), size - 1);
  };
  number(1, record.type);
  number(2, record.type_param);
  text(3, record.name, sizeof record.name);
  number(4, record.re);
  number(5, record.we);
  for (std::size_t cm = 0; cm < 3; ++cm) text(6 + cm, record.cm[cm], sizeof record.cm[cm]);
  record.series = record.type / 100;
  record.type = record.type % 100;
  return record;
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
  kxsane::ModelRecord parsed;
  kxsane::parse_model_line(line, parsed);
  const kxsane::ModelRecord expected = reference_model_line(line);
  check(std::memcmp(&parsed, &expected, sizeof parsed) == 0);
  if (const auto scrambled = kxsane::scramble_line(line)) {
    check((*scrambled)[0] == '@');
    std::string back = *scrambled;
    kxsane::unscramble_line(back);
    check(back == line);
  }

  // The authoring tool: the scrambled file reads the same and unscrambles
  // back to the plain one.
  if (const kxsane::Result<std::string> scrambled = kxsane::scramble_model_file(text);
      scrambled.ok()) {
    const std::string& scrambled_file = *scrambled;
    kxsane::ModelTable again("/nonexistent/models4", "/nonexistent/Kxsane4.ini");
    read_table(scrambled_file, again);
    check(again.size() == table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
      check(std::memcmp(&again.records()[i], &table.records()[i], sizeof(kxsane::ModelRecord)) ==
            0);
    }
    const bool had_scrambled_lines = text.find("\n@") != std::string::npos || text[0] == '@';
    if (!had_scrambled_lines) {
      const kxsane::Result<std::string> plain = kxsane::unscramble_model_file(scrambled_file);
      check(!plain.ok() || *plain == text);
    }
  }
  return 0;
}
