#include "registry/device_list.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "common/closers.h"
#include "common/piece_reader.h"
#include "common/safe_file.h"
#include "common/text.h"

namespace kxsane {

namespace {

// The reader takes a line in pieces of at most this many characters (its
// line break included); a longer line arrives as several pieces.
constexpr std::size_t kPieceMax = 276;

// One record as found in a piece: each field a view into the piece, at
// most 63 characters long.
using FieldViews = std::array<std::string_view, kDeviceFieldCount>;

// The characters that end a run the scan passes over: a blank, the end, a
// comma or "=", looked up in a table (measured in bench/README.md).
struct RunEnds {
  bool of[256] = {};
  constexpr RunEnds() {
    for (int c = 0; c < 256; ++c)
      of[c] = c == '\0' || c == ',' || c == '=' || is_scan_blank(static_cast<char>(c));
  }
};
constexpr RunEnds kRunEnds;

// The first character at or after `p` that ends a run.
const char* end_of_plain_run(const char* p) {
  while (!kRunEnds.of[static_cast<unsigned char>(*p)]) ++p;
  return p;
}

// The formatted scan of a line that begins with "DEVICE=", with the device
// form whose key the line selects: "IP-ADDRESS=" when it holds that
// anywhere, else "NODENAME=" when it holds that, else none (all fields
// empty). In the form "DEVICE=%s , %s , %s , KEY=%s ", a blank matches any
// run of blanks, "%s" skips blanks and takes the next run of non-blanks
// (kept truncated to 63 characters), other characters must match; the scan
// stops at the first mismatch and the fields not reached stay empty.
//
// The reader expands the first three commas of a line to " , ", each as
// long as its position in the expanded line stays below the length the line
// had before any expansion (insertions move later commas two places right
// each). The line is never rewritten: the scan treats each such comma as if
// a blank stood on either side of it, which is all the expansion changes.
//
// The scan walks the line once. The key is chosen by what the line holds
// anywhere, so the scan notes every "=" it passes, and looks for keys in
// what it did not walk only when the choice still depends on them.
class DeviceLineScan {
 public:
  DeviceLineScan(const char* line, std::size_t length)
      : line_(line), length_(length), p_(line + 7) {}

  void run(FieldViews& views) {
    views = FieldViews{};
    for (int field : {kFriendlyName, kModelName, kUsbIds}) {
      if (!take_token(field, views) || !take_comma()) {
        finish_without_key(views);
        return;
      }
    }
    skip_blanks();
    if (at_key("IP-ADDRESS=")) {
      // The line holds the key that wins.
      p_ += 11;
      take_token(kIpAddress, views);
      return;
    }
    if (at_key("NODENAME=")) {
      p_ += 9;
      take_token(kNodeName, views);
      note_keys_in_rest();
      // The line is scanned with the other form after all; its key does
      // not match here.
      if (ip_key_)
        views[kNodeName] = {};
      return;
    }
    finish_without_key(views);
  }

 private:
  // The scan stopped before taking an address: the fields taken stand if
  // the line holds a key at all.
  void finish_without_key(FieldViews& views) {
    note_keys_in_rest();
    if (!ip_key_ && !node_key_)
      views = FieldViews{};
  }

  void skip_blanks() {
    while (is_scan_blank(*p_)) ++p_;
  }

  bool at_key(std::string_view key) const {
    return std::string_view(p_, static_cast<std::size_t>(line_ + length_ - p_)).starts_with(key);
  }

  // Whether the comma at `comma`, the next one not yet passed, is expanded.
  bool expanded(const char* comma) const {
    return commas_ < 3 && static_cast<std::size_t>(comma - line_) + 2 * commas_ < length_;
  }

  // Notes the key that the "=" at `equals` ends, if any.
  void note_equals(const char* equals) {
    const std::string_view before(line_, static_cast<std::size_t>(equals - line_));
    ip_key_ = ip_key_ || before.ends_with("IP-ADDRESS");
    node_key_ = node_key_ || before.ends_with("NODENAME");
  }

  void note_keys_in_rest() {
    for (const char* p = p_; p < line_ + length_; ++p) {
      if (*p == '=')
        note_equals(p);
    }
  }

  // "%s": skips blanks and takes the token there into `field`; false when
  // the line ends first. An expanded comma stands alone between its
  // blanks, so it ends a token, or is one.
  bool take_token(int field, FieldViews& views) {
    skip_blanks();
    const char* start = p_;
    for (;;) {
      p_ = end_of_plain_run(p_);
      if (*p_ == '=') {
        note_equals(p_);
        ++p_;
      } else if (*p_ == ',') {
        if (expanded(p_) && p_ > start)
          break;
        const bool alone = expanded(p_);
        ++commas_;
        ++p_;
        if (alone)
          break;
      } else {
        break;
      }
    }
    if (p_ == start)
      return false;
    views[field] = {start, std::min(static_cast<std::size_t>(p_ - start), kDeviceFieldSize - 1)};
    return true;
  }

  // " , " of the form.
  bool take_comma() {
    skip_blanks();
    if (*p_ != ',')
      return false;
    ++commas_;
    ++p_;
    return true;
  }

  const char* line_;
  std::size_t length_;
  const char* p_;           // where the scan is
  std::size_t commas_ = 0;  // commas passed so far
  bool ip_key_ = false;     // "IP-ADDRESS=" passed so far
  bool node_key_ = false;   // "NODENAME=" passed so far
};

// Handles one piece of `length` characters at `line`. True when it yields a
// record, whose fields `views` then points at inside `line`. The expansion
// of commas adds blanks only, so it changes none of the tests on the line:
// its first character, its "DEVICE=" or "log=" start, and whether it holds
// "=".
bool parse_piece(const char* line, std::size_t length, FieldViews& views) {
  const std::string_view text(line, length);
  if (text.empty() || text[0] == '#' || text[0] == '[' || text[0] == '\n')
    return false;
  if (text.starts_with("DEVICE=")) {
    DeviceLineScan(line, length).run(views);
    return true;
  }
  // The logging line's values are used by no command; it yields no record.
  if (text.find('=') == std::string_view::npos || text.starts_with("log="))
    return false;
  // Any other line fails the form at its start.
  views = FieldViews{};
  return true;
}

// The copy rule of both field accessors: strncpy semantics for a field of
// `length` characters.
char* copy_field(const char* field, std::size_t length, char* dst, std::size_t size) {
  if (length == 0) {
    if (size > 0)
      dst[0] = '\0';
    return nullptr;
  }
  const std::size_t copied = std::min(length, size);
  std::memcpy(dst, field, copied);
  std::memset(dst + copied, 0, size - copied);
  return dst;
}

}  // namespace

bool read_device_line(std::string_view line, std::string (&fields)[kDeviceFieldCount]) {
  // The scan reads up to a terminator.
  const std::string text(line);
  FieldViews views;
  if (!parse_piece(text.c_str(), text.size(), views))
    return false;
  for (int f = 0; f < kDeviceFieldCount; ++f) fields[f] = std::string(views[f]);
  return true;
}

DeviceList::DeviceList(std::string path) : path_(std::move(path)) {}

Status DeviceList::load() {
  const Result<UniqueFile> file = open_regular_stream(path_);
  if (!file.ok())
    return file.status();
  return read_device_stream(file->get()).status();
}

int DeviceList::load_device_list() {
  const Result<UniqueFile> file = open_regular_stream(path_);
  if (!file.ok())
    return -1;
  const Result<int> appended = read_device_stream(file->get());
  return appended.ok() ? *appended : -1;
}

Result<int> DeviceList::read_device_stream(std::FILE* file) {
  int appended = 0;
  FieldViews views;
  // Room for what a file of this size usually holds.
  const std::size_t size = file_size_hint(file);
  reserve_hint(fields_, size);
  reserve_hint(records_, size / 32);
  // The one place where the list grows: running out of memory here stops
  // the load with the records read so far.
  try {
    read_pieces<kPieceMax>(file, [&](const char* line, std::size_t length) {
      if (!parse_piece(line, length, views))
        return true;
      Entry entry{fields_.size(), {}};
      std::size_t used = 0;
      for (const std::string_view field : views) used += field.size() + 1;
      // Grown once per record; the terminators are the zeros resize adds.
      fields_.resize(entry.start + used);
      char* out = fields_.data() + entry.start;
      for (int f = 0; f < kDeviceFieldCount; ++f) {
        entry.length[f] = static_cast<unsigned char>(views[f].size());
        // An empty field may have no text at all.
        if (!views[f].empty())
          std::memcpy(out, views[f].data(), views[f].size());
        out += views[f].size() + 1;
      }
      records_.push_back(entry);
      ++appended;
      return true;
    });
  } catch (const std::bad_alloc&) {
    return Status::Failed("out of memory reading " + path_);
  }
  if (std::ferror(file))
    return Status::Failed(path_ + ": " + std::strerror(errno));
  return appended;
}

void DeviceList::load_if_empty() {
  if (records_.empty())
    load_device_list();
}

int DeviceList::device_count() {
  load_if_empty();
  return static_cast<int>(records_.size());
}

const char* DeviceList::field_of(std::size_t index, int field, std::size_t& length) const {
  const Entry& entry = records_[index];
  std::size_t offset = entry.start;
  for (int f = 0; f < field; ++f) offset += entry.length[f] + 1u;
  length = entry.length[field];
  return fields_.data() + offset;
}

char* DeviceList::device_field_by_index(int index, int field, char* dst, std::size_t size) {
  if (index < 0)
    return copy_field("", 0, dst, size);
  load_if_empty();
  if (static_cast<std::size_t>(index) >= records_.size() || field < 0 || field >= kDeviceFieldCount)
    return copy_field("", 0, dst, size);
  std::size_t length = 0;
  const char* text = field_of(static_cast<std::size_t>(index), field, length);
  return copy_field(text, length, dst, size);
}

bool DeviceList::device_fields(int index, std::string_view (&fields)[kDeviceFieldCount]) {
  if (index < 0)
    return false;
  load_if_empty();
  if (static_cast<std::size_t>(index) >= records_.size())
    return false;
  const Entry& entry = records_[static_cast<std::size_t>(index)];
  const char* text = fields_.data() + entry.start;
  for (int f = 0; f < kDeviceFieldCount; ++f) {
    fields[f] = {text, entry.length[f]};
    text += entry.length[f] + 1;
  }
  return true;
}

char* DeviceList::device_field_by_name(const char* name, int field, char* dst, std::size_t size) {
  if (name == nullptr)
    return nullptr;
  load_if_empty();
  if (records_.empty() || records_.front().length[kFriendlyName] == 0)
    return nullptr;
  for (std::size_t index = 0; index < records_.size(); ++index) {
    if (std::strcmp(fields_.data() + records_[index].start, name) != 0)
      continue;
    if (field < 0 || field >= kDeviceFieldCount)
      return copy_field("", 0, dst, size);
    std::size_t length = 0;
    const char* text = field_of(index, field, length);
    return copy_field(text, length, dst, size);
  }
  return copy_field("", 0, dst, size);
}

bool DeviceList::has_device_named(std::string_view name, bool named_record_in_front) const {
  if (records_.empty() || (records_.front().length[kFriendlyName] == 0 && !named_record_in_front))
    return false;
  for (const Entry& entry : records_) {
    if (std::string_view(fields_.data() + entry.start, entry.length[kFriendlyName]) == name)
      return true;
  }
  return false;
}

void DeviceList::free_device_list() {
  records_ = {};
  fields_.clear();
  fields_.shrink_to_fit();
}

}  // namespace kxsane
