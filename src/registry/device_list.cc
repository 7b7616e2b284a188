#include "registry/device_list.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "common/text.h"

namespace kxsane {

namespace {

// The reader takes a line in pieces of at most this many characters (its
// line break included); a longer line arrives as several pieces.
constexpr std::size_t kPieceMax = 276;
// Room for a piece, the two characters each of three expanded commas add,
// and the terminator.
constexpr std::size_t kLineCapacity = kPieceMax + 2 * 3 + 1;

constexpr char kIpForm[] = "DEVICE=%s , %s , %s , IP-ADDRESS=%s ";
constexpr char kNodeForm[] = "DEVICE=%s , %s , %s , NODENAME=%s ";

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Replaces each of the first three commas with " , ". The scan stops at the
// end of the string or when its position reaches the length the line had
// before any insertion, so commas near the end of a line with earlier
// insertions stay as they are.
void expand_commas(char* line) {
  const std::size_t original_length = std::strlen(line);
  std::size_t length = original_length;
  int expanded = 0;
  for (std::size_t i = 0; i < original_length && line[i] != '\0' && expanded < 3;) {
    if (line[i] != ',') {
      ++i;
      continue;
    }
    std::memmove(line + i + 3, line + i + 1, length - i);  // the terminator moves too
    line[i] = ' ';
    line[i + 1] = ',';
    line[i + 2] = ' ';
    length += 2;
    i += 3;
    ++expanded;
  }
}

// Formatted scan of `input` with `form`: a blank in the form matches any run
// of blanks, "%s" skips blanks and takes the next run of non-blanks (stored
// truncated to 63 characters), any other character must match. Stops at the
// first mismatch; the fields not reached stay empty.
void scan_device_form(const char* input, const char* form, char* const targets[4]) {
  int next_target = 0;
  for (const char* f = form; *f != '\0'; ++f) {
    if (is_blank(*f)) {
      while (is_blank(*input)) ++input;
    } else if (f[0] == '%' && f[1] == 's') {
      ++f;
      while (is_blank(*input)) ++input;
      if (*input == '\0')
        return;
      const char* start = input;
      while (*input != '\0' && !is_blank(*input)) ++input;
      copy_truncated(targets[next_target++], kDeviceFieldSize, start,
                     static_cast<std::size_t>(input - start));
    } else {
      if (*input != *f)
        return;
      ++input;
    }
  }
}

// Handles one piece in `line` (terminated, with room for the comma
// expansion). True when it yields a record.
bool parse_piece(char* line, DeviceRecord& record) {
  expand_commas(line);
  if (line[0] == '#' || line[0] == '[' || line[0] == '\n')
    return false;
  if (std::strchr(line, '=') == nullptr)
    return false;
  // The logging line's values are used by no command; it yields no record.
  if (std::strncmp(line, "log=", 4) == 0)
    return false;
  record = DeviceRecord{};
  char* const ip_targets[4] = {record.fields[kFriendlyName], record.fields[kModelName],
                               record.fields[kUsbIds], record.fields[kIpAddress]};
  char* const node_targets[4] = {record.fields[kFriendlyName], record.fields[kModelName],
                                 record.fields[kUsbIds], record.fields[kNodeName]};
  if (std::strstr(line, "IP-ADDRESS=") != nullptr) {
    scan_device_form(line, kIpForm, ip_targets);
  } else if (std::strstr(line, "NODENAME=") != nullptr) {
    scan_device_form(line, kNodeForm, node_targets);
  }
  return true;
}

// The copy rule of both field accessors.
char* copy_field(const char* field, char* dst, std::size_t size) {
  if (field[0] == '\0') {
    if (size > 0)
      dst[0] = '\0';
    return nullptr;
  }
  std::strncpy(dst, field, size);
  return dst;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool parse_device_line(std::string line, DeviceRecord& record) {
  char buffer[kLineCapacity] = {};
  copy_truncated(buffer, kPieceMax + 1, line.c_str(), std::strlen(line.c_str()));
  return parse_piece(buffer, record);
}

DeviceList::DeviceList(std::string path) : path_(std::move(path)) {}

int DeviceList::load_device_list() {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path_.c_str(), "r"));
  if (!file)
    return -1;
  return read_device_stream(file.get());
}

int DeviceList::read_device_stream(std::FILE* file) {
  int appended = 0;
  char line[kLineCapacity];
  std::size_t length = 0;
  DeviceRecord record;
  // Pieces end after a line break or at kPieceMax characters; a piece is a C
  // string, so a NUL byte inside it ends what the parser sees.
  auto finish_piece = [&] {
    line[length] = '\0';
    length = 0;
    if (parse_piece(line, record)) {
      records_.push_back(record);
      ++appended;
    }
  };
  char chunk[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    for (std::size_t i = 0; i < got; ++i) {
      line[length++] = chunk[i];
      if (chunk[i] == '\n' || length == kPieceMax)
        finish_piece();
    }
  }
  if (length > 0)
    finish_piece();
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

char* DeviceList::device_field_by_index(int index, int field, char* dst, std::size_t size) {
  if (index < 0)
    return copy_field("", dst, size);
  load_if_empty();
  if (static_cast<std::size_t>(index) >= records_.size())
    return copy_field("", dst, size);
  if (field < 0 || field >= kDeviceFieldCount)
    return copy_field("", dst, size);
  return copy_field(records_[static_cast<std::size_t>(index)].fields[field], dst, size);
}

char* DeviceList::device_field_by_name(const char* name, int field, char* dst, std::size_t size) {
  load_if_empty();
  if (records_.empty() || records_.front().fields[kFriendlyName][0] == '\0')
    return nullptr;
  for (const DeviceRecord& record : records_) {
    if (std::strcmp(record.fields[kFriendlyName], name) != 0)
      continue;
    if (field < 0 || field >= kDeviceFieldCount)
      return copy_field("", dst, size);
    return copy_field(record.fields[field], dst, size);
  }
  return copy_field("", dst, size);
}

void DeviceList::free_device_list() {
  records_.clear();
}

}  // namespace kxsane
