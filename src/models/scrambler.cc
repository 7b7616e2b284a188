#include "models/scrambler.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/piece_reader.h"
#include "models/descramble.h"
#include "models/model_table.h"

namespace kxsane {

namespace {

enum class Direction { kScramble, kUnscramble };

std::string at_line(std::size_t line_number, std::size_t column, const char* what) {
  char text[160];
  std::snprintf(text, sizeof text, "line %zu, column %zu: %s", line_number, column, what);
  return text;
}

std::string bad_byte(std::size_t line_number, std::size_t column, unsigned char byte,
                     const char* what) {
  char text[160];
  std::snprintf(text, sizeof text, "line %zu, column %zu: byte 0x%02X %s", line_number, column,
                static_cast<unsigned>(byte), what);
  return text;
}

// The plain form of a scrambled `content` (after the "@", without the line
// break). Refuses bytes that the reader would take for the end of the line:
// a plain file could not say the same.
Status unscramble_content(std::string_view content, std::size_t line_number, std::string& plain) {
  plain.clear();
  for (std::size_t i = 0; i < content.size(); ++i) {
    const auto b = static_cast<unsigned char>(content[i]);
    const unsigned char mapped = descramble_byte(b);
    if (mapped == 0)
      return Status::Failed(bad_byte(line_number, i + 2, b, "cannot be part of a scrambled line"));
    plain += static_cast<char>(mapped);
  }
  if (!plain.empty() && plain[0] == '@') {
    return Status::Failed(at_line(line_number, 1,
                                  "unscrambles to a line that begins with \"@\", which plain "
                                  "text cannot express"));
  }
  return Status::Ok();
}

// Handles one whole line of the model section (`piece`, with its line break
// if it has one) and appends its new form to `out`. Sets `section_end` when
// the reader stops at this line.
Status convert_section_line(std::string_view piece, std::size_t line_number, Direction direction,
                            std::string& out, bool& section_end) {
  const bool scrambled = piece[0] == '@';
  std::string seen(piece);  // what the reader makes of the line
  if (scrambled)
    unscramble_line(seen);
  const SectionLine kind = classify_section_line(seen.c_str());
  section_end = kind == SectionLine::kSectionEnd;
  const std::string_view content = piece.substr(0, piece.size() - (piece.back() == '\n' ? 1 : 0));
  const std::string_view line_break = piece.substr(content.size());

  if (direction == Direction::kUnscramble) {
    if (!scrambled) {
      out += piece;
      return Status::Ok();
    }
    std::string plain;
    Status status = unscramble_content(content.substr(1), line_number, plain);
    if (!status.ok())
      return status;
    out += plain;
    out += line_break;
    return Status::Ok();
  }
  if (scrambled || kind != SectionLine::kModelLine) {
    out += piece;
    return Status::Ok();
  }
  for (std::size_t i = 0; i < content.size(); ++i) {
    const auto b = static_cast<unsigned char>(content[i]);
    if (b == 0 || b >= 0x80) {
      return Status::Failed(
          bad_byte(line_number, i + 1, b, "cannot be scrambled: only bytes 0x01 to 0x7F can"));
    }
  }
  // "@" and the line must fit in one of the reader's pieces, or the tail
  // would be read as a line of its own.
  if (content.size() + 1 > kModelPieceMax) {
    return Status::Failed(at_line(line_number, kModelPieceMax,
                                  "the line is too long to be scrambled: the reader would cut it"));
  }
  out += *scramble_line(std::string(content));
  out += line_break;
  return Status::Ok();
}

// Copies `input` to `output`, converting every line of the model section the
// way the reader finds them: in pieces of at most kModelPieceMax characters,
// from the first piece that opens the section to the first that ends it.
Status convert(const std::string& input, std::string& output, Direction direction) {
  output.clear();
  output.reserve(input.size() + input.size() / 16 + 16);
  enum { kBefore, kInside, kAfter } section = kBefore;
  std::size_t line_number = 1;
  bool at_line_start = true;
  for (std::size_t pos = 0; pos < input.size();) {
    const std::size_t length = piece_length(std::string_view(input).substr(pos), kModelPieceMax);
    const std::string_view piece(input.data() + pos, length);
    const bool ends_line = piece.back() == '\n';
    const bool whole_line = at_line_start && (ends_line || pos + length == input.size());

    if (section != kInside) {
      if (section == kBefore && is_section_header(std::string(piece).c_str()))
        section = kInside;
      output += piece;
    } else if (!whole_line) {
      return Status::Failed(at_line(line_number, 1,
                                    "a line of the model section is longer than the reader's "
                                    "1023-character pieces"));
    } else {
      bool section_end = false;
      Status status = convert_section_line(piece, line_number, direction, output, section_end);
      if (!status.ok())
        return status;
      if (section_end)
        section = kAfter;
    }
    at_line_start = ends_line;
    line_number += ends_line ? 1 : 0;
    pos += length;
  }
  return Status::Ok();
}

Result<std::string> converted(const std::string& input, Direction direction) {
  std::string output;
  Status status = convert(input, output, direction);
  if (!status.ok())
    return status;
  return output;
}

}  // namespace

Result<std::string> scramble_model_file(const std::string& input) {
  return converted(input, Direction::kScramble);
}

Result<std::string> unscramble_model_file(const std::string& input) {
  return converted(input, Direction::kUnscramble);
}

}  // namespace kxsane
