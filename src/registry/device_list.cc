#include "registry/device_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "common/piece_reader.h"
#include "common/text.h"

namespace kxsane {

namespace {

// The reader takes a line in pieces of at most this many characters (its
// line break included); a longer line arrives as several pieces.
constexpr std::size_t kPieceMax = 276;

// Characters by class, for the scans that run once per character of the
// file: blanks as the formatted scan knows them, and what may end a token
// (a blank, the end, or a comma, which does when it is an expanded one).
struct CharClasses {
  bool blank[256] = {};
  bool token_end[256] = {};
  constexpr CharClasses() {
    for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'}) {
      blank[c] = true;
      token_end[c] = true;
    }
    token_end[0] = true;
    token_end[static_cast<unsigned char>(',')] = true;
  }
};
constexpr CharClasses kClasses;

bool is_blank(char c) {
  return kClasses.blank[static_cast<unsigned char>(c)];
}
bool ends_token(char c) {
  return kClasses.token_end[static_cast<unsigned char>(c)];
}

// The commas that the reader expands to " , ": the first three, each as
// long as its position in the expanded line stays below the length the line
// had before any expansion (insertions move later commas two places right
// each, so commas near the end of such a line stay as they are). The line
// is never rewritten: the scan below treats each of these commas as if a
// blank stood on either side of it, which is all the expansion changes.
struct ExpandedCommas {
  const char* at[3] = {};
  int count = 0;
  int next = 0;  // the first one the scan has not passed yet

  // Where the token that starts now must end at the latest.
  const char* limit() const { return next < count ? at[next] : nullptr; }
};

ExpandedCommas find_expanded_commas(const char* line, std::size_t length) {
  ExpandedCommas commas;
  std::size_t from = 0;   // in the line as read
  std::size_t shift = 0;  // characters inserted so far
  while (commas.count < 3 && from + shift < length) {
    const void* comma = std::memchr(line + from, ',', length - shift - from);
    if (comma == nullptr)
      break;
    commas.at[commas.count++] = static_cast<const char*>(comma);
    from = static_cast<std::size_t>(static_cast<const char*>(comma) - line) + 1;
    shift += 2;
  }
  return commas;
}

// One record as found in a piece: where each field starts and how long it
// is (at most 63 characters).
struct FieldViews {
  const char* start[kDeviceFieldCount] = {};
  std::size_t length[kDeviceFieldCount] = {};
};

// Takes the token at `p` for `field` after skipping blanks, as "%s" does;
// nullptr when the input ends first. An expanded comma stands alone between
// its blanks, so it ends a token, or is one.
const char* take_token(const char* p, int field, ExpandedCommas& commas, FieldViews& views) {
  while (is_blank(*p)) ++p;
  if (*p == '\0')
    return nullptr;
  const char* start = p;
  const char* limit = commas.limit();
  if (p == limit) {
    ++commas.next;
    ++p;
  } else {
    for (;;) {
      while (!ends_token(*p)) ++p;
      if (*p != ',' || p == limit)
        break;
      ++p;  // a comma left as it is belongs to the token
    }
  }
  views.start[field] = start;
  views.length[field] = std::min(static_cast<std::size_t>(p - start), kDeviceFieldSize - 1);
  return p;
}

// Formatted scan of `line` with the device form whose last key is `key`
// ("DEVICE=%s , %s , %s , IP-ADDRESS=%s " or "... , NODENAME=%s "): a blank
// in the form matches any run of blanks, "%s" skips blanks and takes the
// next run of non-blanks (kept truncated to 63 characters), other
// characters must match. The scan stops at the first mismatch; the fields
// not reached stay empty. The form's trailing blank matches anything. No
// expanded comma lies inside "DEVICE=" or the key, as neither holds a comma.
void scan_device_form(const char* p, std::string_view key, int address_field,
                      ExpandedCommas& commas, FieldViews& views) {
  if (std::strncmp(p, "DEVICE=", 7) != 0)
    return;
  p += 7;
  for (int field : {kFriendlyName, kModelName, kUsbIds}) {
    p = take_token(p, field, commas, views);
    if (p == nullptr)
      return;
    while (is_blank(*p)) ++p;
    if (*p != ',')
      return;
    if (p == commas.limit())
      ++commas.next;
    ++p;
  }
  while (is_blank(*p)) ++p;
  if (std::strncmp(p, key.data(), key.size()) == 0)
    take_token(p + key.size(), address_field, commas, views);
}

// Handles one piece in `line`. True when it yields a record, whose fields
// `views` then points at inside `line`. The expansion of commas adds blanks
// only, so it changes none of the tests on the line: its first character,
// its "log=" start, and the "=", "IP-ADDRESS=" and "NODENAME=" it holds.
bool parse_piece(const char* line, FieldViews& views) {
  if (line[0] == '#' || line[0] == '[' || line[0] == '\n')
    return false;
  // Whether the line holds "IP-ADDRESS=" or "NODENAME=" anywhere: each
  // occurrence ends at one of its few "=".
  const std::string_view text(line);
  bool any_equals = false, has_ip = false, has_node = false;
  for (std::size_t eq = text.find('='); eq != std::string_view::npos; eq = text.find('=', eq + 1)) {
    any_equals = true;
    has_ip = has_ip || (eq >= 10 && text.compare(eq - 10, 10, "IP-ADDRESS") == 0);
    has_node = has_node || (eq >= 8 && text.compare(eq - 8, 8, "NODENAME") == 0);
  }
  if (!any_equals)
    return false;
  // The logging line's values are used by no command; it yields no record.
  if (std::strncmp(line, "log=", 4) == 0)
    return false;
  views = FieldViews{};
  if (!has_ip && !has_node)
    return true;
  ExpandedCommas commas = find_expanded_commas(line, text.size());
  if (has_ip) {
    scan_device_form(line, "IP-ADDRESS=", kIpAddress, commas, views);
  } else {
    scan_device_form(line, "NODENAME=", kNodeName, commas, views);
  }
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

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool parse_device_line(const std::string& line, DeviceRecord& record) {
  const std::string piece = line.substr(0, kPieceMax);
  FieldViews views;
  if (!parse_piece(piece.c_str(), views))
    return false;
  record = DeviceRecord{};
  for (int f = 0; f < kDeviceFieldCount; ++f) {
    if (views.start[f] != nullptr)
      copy_truncated(record.fields[f], kDeviceFieldSize, views.start[f], views.length[f]);
  }
  return true;
}

DeviceList::DeviceList(std::string path) : path_(std::move(path)) {}

int DeviceList::load_device_list() {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path_.c_str(), "r"));
  if (!file)
    return -1;
  return read_device_stream(file.get());
}

int DeviceList::read_device_stream(std::FILE* file) {
  // Room for what a file of this size usually holds, so that the storage
  // is not copied as it grows; pages that stay unused are never touched.
  struct stat st {};
  if (::fstat(fileno(file), &st) == 0 && st.st_size > 0) {
    const auto size = static_cast<std::size_t>(st.st_size);
    fields_.reserve(fields_.size() + size + size / 4);
    records_.reserve(records_.size() + size / 32);
  }
  int appended = 0;
  FieldViews views;
  read_pieces<kPieceMax>(file, [&](char* line) {
    if (!parse_piece(line, views))
      return true;
    Entry entry{fields_.size(), {}};
    std::size_t used = 0;
    for (int f = 0; f < kDeviceFieldCount; ++f) used += views.length[f] + 1;
    char* packed = fields_.extend(used);
    for (int f = 0; f < kDeviceFieldCount; ++f) {
      entry.length[f] = static_cast<unsigned char>(views.length[f]);
      if (views.start[f] != nullptr)
        std::memcpy(packed, views.start[f], views.length[f]);
      packed += views.length[f];
      *packed++ = '\0';
    }
    records_.push_back(entry);
    ++appended;
    return true;
  });
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

void DeviceList::free_device_list() {
  records_.clear();
}

}  // namespace kxsane
