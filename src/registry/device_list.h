// The device list: the registered network scanners as read from the device
// configuration file, in file order.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/huge_page_allocator.h"
#include "common/status.h"

namespace kxsane {

inline constexpr std::size_t kDeviceFieldSize = 64;  // 63 characters and NUL

// Field indexes used by the accessors.
enum DeviceField : int {
  kFriendlyName = 0,
  kModelName = 1,  // as stored, with its double quotes
  kIpAddress = 2,
  kNodeName = 3,
  kUsbIds = 4,
};
inline constexpr int kDeviceFieldCount = 5;

// The five fields of one line of a device configuration file, as the
// reader reads it (a line of at most 276 characters, its line break
// included); false when the line yields no record.
bool read_device_line(std::string_view line, std::string (&fields)[kDeviceFieldCount]);

// Owns the records; loads itself lazily from `path`. While it is empty every
// accessor reads the file again; once it holds a record it is never re-read.
// Commands that change the file do not update it.
class DeviceList {
 public:
  explicit DeviceList(std::string path);

  // Reads the file whole and appends its records. NotFound when there is no
  // file (the list then stands for no devices); Failed when the path leads
  // to anything but a regular file through trusted links (a FIFO could block
  // the tool, a device never end), or when a read fails or memory runs out
  // part way (the records read until then stay). A command that changes the
  // registry must not act on a list whose load failed.
  Status load();

  // load() as the lazy accessors use it: the number of records appended, or
  // -1 when the file cannot be opened, memory runs out or a read fails.
  // Called only while the list is empty.
  int load_device_list();

  // Reads device configuration text from `file` and appends its records, as
  // load() does for the file at the list's path: the number appended, or
  // Failed when memory ran out or a read failed (the records read until
  // then stay).
  Result<int> read_device_stream(std::FILE* file);

  // Whether a record's friendly name equals `name`, on the list as it
  // stands (never loads). As device_field_by_name looks names up, a list
  // whose first record has an empty friendly name holds none, unless
  // `named_record_in_front`: a named record has been put in front of the
  // list's since it was read.
  bool has_device_named(std::string_view name, bool named_record_in_front = false) const;

  // Loads the list if it is empty; returns the number of records.
  int device_count();

  // Copies field `field` of the record at position `index` into `dst`.
  // When the field is non-empty, copies with strncpy semantics (at most
  // `size` bytes, NUL padded) and returns `dst`; otherwise sets `dst` to the
  // empty string and returns nullptr. A negative index never loads the file.
  // Constant time per call.
  char* device_field_by_index(int index, int field, char* dst, std::size_t size);

  // The same for the first record whose friendly name equals `name`. When the
  // list is empty or its first record has an empty friendly name, or `name`
  // is nullptr, returns nullptr at once and leaves `dst` untouched.
  char* device_field_by_name(const char* name, int field, char* dst, std::size_t size);

  // The five fields of record `index`, as device_field_by_index would copy
  // them, without the copies: views valid until the list is freed. False
  // (and `fields` untouched) when there is no such record.
  bool device_fields(int index, std::string_view (&fields)[kDeviceFieldCount]);

  // Frees every record; the list is empty afterwards.
  void free_device_list();

  const std::string& path() const { return path_; }

 private:
  void load_if_empty();
  struct Entry {
    std::size_t start;                        // of its first field in `fields_`
    unsigned char length[kDeviceFieldCount];  // of each field, at most 63
  };

  // The field `field` of record `index`, as stored, and its length.
  const char* field_of(std::size_t index, int field, std::size_t& length) const;

  std::string path_;
  // Every record's five fields, each NUL-terminated, one record after
  // another: a registry of 100,000 devices takes a few megabytes, not a
  // fixed 320 bytes per record.
  std::basic_string<char, std::char_traits<char>, HugePageAllocator<char>> fields_;
  std::vector<Entry, HugePageAllocator<Entry>> records_;
};

}  // namespace kxsane
