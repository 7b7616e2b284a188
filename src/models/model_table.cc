#include "models/model_table.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "common/closers.h"
#include "common/piece_reader.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "models/descramble.h"

namespace kxsane {

const std::uint32_t DEFAULT_VENDOR_ID = KXSANE_DEFAULT_VENDOR_ID;

namespace {

// Cache key of a lookup that found nothing. No product ID (kept unsigned in
// the 64-bit key) and no index (every index of 0 or less is keyed 0) equals
// it, so a miss is always looked up again: the table may have grown since.
constexpr std::int64_t kMissKey = -1;

// "%d": the value strtoll gives (clamped to the 64-bit range), reduced to
// its low 32 bits, the way a formatted scan stores it into an int. False,
// leaving `out` alone, when there is no number.
bool scan_decimal(const char* p, std::int32_t* out) {
  char* end = nullptr;
  const long long value = std::strtoll(p, &end, 10);
  if (end == p)
    return false;
  *out = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  return true;
}

// "%x": the value strtoull gives (all ones beyond 64 bits, a minus sign
// negates), reduced to its low 32 bits. Stores where the number ended, as a
// formatted scan ends it: that takes a "0x" with no digit after it as the
// number 0 and passes the x too, where strtoull stops before the x.
bool scan_hex(const char* p, std::uint32_t* out, const char** end) {
  char* stop = nullptr;
  const unsigned long long value = std::strtoull(p, &stop, 16);
  if (stop == p)
    return false;
  *out = static_cast<std::uint32_t>(value);
  const char* digits = p;
  while (is_scan_blank(*digits)) ++digits;
  if (*digits == '+' || *digits == '-')
    ++digits;
  if (digits[0] == '0' && stop == digits + 1 && (*stop == 'x' || *stop == 'X'))
    ++stop;
  *end = stop;
  return true;
}

// "%s" into a text field of `size` bytes: the first run of non-blanks,
// truncated to the field. Leaves `dst` alone when there is none.
void scan_text(const char* p, char* dst, std::size_t size) {
  while (is_scan_blank(*p)) ++p;
  const char* end = p;
  while (*end != '\0' && !is_scan_blank(*end)) ++end;
  if (end != p)
    copy_truncated(dst, size, p, static_cast<std::size_t>(end - p));
}

bool starts_with_0x(const char* p) {
  return p[0] == '0' && p[1] == 'x';
}

// The ID text of `length` characters at `field`, NUL-terminated: "0x%x:0x%x"
// (vendor, product) when it holds ":0x", else "0x%x" (product). Only its
// first kModelIdTextMax characters count.
void scan_id_text(const char* field, std::size_t length, ModelRecord& record) {
  char id[kModelIdTextMax + 1];
  if (length > kModelIdTextMax) {
    copy_truncated(id, sizeof id, field, kModelIdTextMax);
    field = id;
    length = kModelIdTextMax;
  }
  const char* p = field;
  if (!starts_with_0x(p))
    return;
  if (std::string_view(field, length).find(":0x") == std::string_view::npos) {
    scan_hex(p + 2, &record.product_id, &p);
    return;
  }
  if (!scan_hex(p + 2, &record.vendor_id, &p))
    return;
  if (p[0] == ':' && starts_with_0x(p + 1))
    scan_hex(p + 3, &record.product_id, &p);
}

// The fields of a model line, cut in one pass: every space, tab, line
// feed, carriage return and form feed is removed from the line in place,
// and each comma is replaced by the NUL that ends the field before it. The
// field that no comma follows is the last present one; fields after the
// ninth are not cut.
class ModelFields {
 public:
  static constexpr int kMax = 9;

  explicit ModelFields(char* line) {
    char* out = line;
    const char* in = line;
    char* field = out;
    for (; *in != '\0'; ++in) {
      const char c = *in;
      if (is_stripped_whitespace(c))
        continue;
      if (c == ',') {
        end_field(field, out);
        if (count_ == kMax)
          return;
        field = ++out;
        continue;
      }
      vertical_tab_ = vertical_tab_ || c == '\v';
      *out++ = c;
    }
    end_field(field, out);
  }

  bool present(int index) const { return index < count_; }
  const char* at(int index) const { return start_[index]; }
  std::size_t length(int index) const { return length_[index]; }

  // "%d" of field `index`; a missing field gives DEFAULT_NUMBER.
  void number(int index, std::int32_t* value) const {
    if (!present(index)) {
      *value = static_cast<std::int32_t>(DEFAULT_NUMBER);
    } else {
      scan_decimal(start_[index], value);
    }
  }

  // "%s" of field `index` into a text of `size` bytes.
  void text(int index, char* dst, std::size_t size) const {
    if (!present(index))
      return;
    if (vertical_tab_) {
      // The one blank that whitespace removal keeps.
      scan_text(start_[index], dst, size);
    } else if (length_[index] > 0) {
      copy_truncated(dst, size, start_[index], length_[index]);
    }
  }

 private:
  void end_field(char* field, char* end) {
    *end = '\0';
    start_[count_] = field;
    length_[count_] = static_cast<std::size_t>(end - field);
    ++count_;
  }

  const char* start_[kMax] = {};
  std::size_t length_[kMax] = {};
  int count_ = 0;
  bool vertical_tab_ = false;
};

// Parses the NUL-terminated `line` in place into `record`, a record as
// made new.
void parse_model_text(char* line, ModelRecord& record) {
  const ModelFields fields(line);
  record.re = -1;
  record.we = -1;
  record.product_id = DEFAULT_NUMBER;
  record.vendor_id = DEFAULT_VENDOR_ID;
  scan_id_text(fields.at(0), fields.length(0), record);
  fields.number(1, &record.type);
  fields.number(2, &record.type_param);
  fields.text(3, record.name, sizeof record.name);
  fields.number(4, &record.re);
  fields.number(5, &record.we);
  for (int cm = 0; cm < 3; ++cm) fields.text(6 + cm, record.cm[cm], kModelCmSize);
  record.series = record.type / 100;
  record.type = record.type % 100;
}

ModelRecord make_default_record() {
  ModelRecord record;
  record.product_id = 0xFFFFFFFF;
  record.vendor_id = 0xFFFFFFFF;
  record.type = record.series = record.type_param = record.re = record.we = -1;
  return record;
}

}  // namespace

const ModelRecord& default_model_record() {
  static const ModelRecord record = make_default_record();
  return record;
}

bool is_model_file_name(const char* name) {
  if (name == nullptr)
    return false;
  const std::string_view text = name;
  return text.size() >= 4 && !text.starts_with('.') && text.ends_with(".ini");
}

bool is_section_header(const char* line) {
  return std::strncmp(line, kModelSectionHeader, sizeof kModelSectionHeader - 1) == 0;
}

SectionLine classify_section_line(const char* line) {
  while (*line == ' ' || *line == '\t') ++line;
  if (*line == '\n' || *line == '#')
    return SectionLine::kSkipped;
  if (*line == '[')
    return SectionLine::kSectionEnd;
  return SectionLine::kModelLine;
}

void parse_model_line(std::string line, ModelRecord& record) {
  record = ModelRecord{};
  parse_model_text(line.data(), record);
}

ModelTable::ModelTable(std::string models_dir, std::string main_file)
    : models_dir_(std::move(models_dir)), main_file_(std::move(main_file)) {}

Status ModelTable::load() {
  if (!records_.empty())
    return Status::Ok();
  Status status = Status::Ok();
  // Every source is read even after one failed: the table holds what could
  // be read, and the first failure is the one named.
  auto read = [&](const std::string& path) {
    const Result<int> lines = read_model_source(path);
    if (!lines.ok() && status.ok())
      status = lines.status();
  };
  if (const UniqueDir dir{opendir(models_dir_.c_str())}) {
    while (const dirent* entry = readdir(dir.get())) {
      if (is_model_file_name(entry->d_name))
        read(models_dir_ + "/" + entry->d_name);
    }
  }
  read(main_file_);
  return status;
}

int ModelTable::load_model_table() {
  if (!records_.empty())
    return -1;
  load();
  return 0;
}

void ModelTable::free_model_table() {
  records_ = ModelRecords();
  by_product_ = Cache{};
  copy_by_product_ = Cache{};
  by_index_ = Cache{};
}

Result<int> ModelTable::read_model_source(const std::string& path) {
  // Anything but a regular file (a FIFO, a link to /dev/zero) is passed
  // over, as a missing one is: it could block the tool, or never end.
  const Result<UniqueFile> file = open_regular_stream(path);
  if (!file.ok())
    return 0;
  return read_model_stream(file->get(), path);
}

int ModelTable::read_model_file(const std::string& path) {
  const Result<int> lines = read_model_source(path);
  return lines.ok() ? *lines : 0;
}

Result<int> ModelTable::read_model_stream(std::FILE* file, const std::string& source) {
  int count = 0;
  bool in_section = false;
  // One piece: handles it and says whether reading goes on.
  auto handle_piece = [&](char* line, std::size_t /*length*/) {
    if (!in_section) {
      in_section = is_section_header(line);
      return true;
    }
    if (line[0] == '@')
      unscramble_line(line);
    const SectionLine kind = classify_section_line(line);
    if (kind != SectionLine::kModelLine)
      return kind == SectionLine::kSkipped;
    ++count;
    parse_model_text(line, records_.emplace_back());
    return true;
  };
  reserve_hint(records_, file_size_hint(file) / 32);
  // The one place where the table grows: out of memory, the source
  // contributes what was read.
  try {
    read_pieces<kModelPieceMax>(file, handle_piece);
  } catch (const std::bad_alloc&) {
    return Status::Failed("out of memory reading " + source);
  }
  if (std::ferror(file))
    return Status::Failed(source + ": " + std::strerror(errno));
  return count;
}

int ModelTable::model_exists(const char* name) const {
  if (name == nullptr)
    return 0;
  for (const ModelRecord& record : records_) {
    if (std::strcmp(record.name, name) == 0)
      return 1;
  }
  return 0;
}

int ModelTable::model_ids(const char* name, std::uint32_t* vendor, std::uint32_t* product) const {
  if (name == nullptr)
    return 0;
  for (const ModelRecord& record : records_) {
    if (std::strcmp(record.name, name) != 0)
      continue;
    if (vendor != nullptr)
      *vendor = record.vendor_id;
    if (product != nullptr)
      *product = record.product_id;
    return 1;
  }
  return 0;
}

std::string model_detail_line(const ModelRecord& r) {
  char line[kModelNameSize + 3 * kModelCmSize + 128];
  std::snprintf(line, sizeof line, "MODEL:%s,ID:0x%x:0x%x,TYPE:%d,%d,RE:0x%x,WE:0x%x CM:%s,%s,%s\n",
                r.name, static_cast<unsigned>(r.vendor_id), static_cast<unsigned>(r.product_id),
                r.type, r.type_param, static_cast<unsigned>(r.re), static_cast<unsigned>(r.we),
                r.cm[0], r.cm[1], r.cm[2]);
  return line;
}

void ModelTable::load_if_empty() {
  if (records_.empty())
    load_model_table();
}

const ModelRecord& ModelTable::remember(Cache& cache, std::int64_t key, std::size_t position) {
  cache.valid = true;
  cache.key = position != kNoRecord ? key : kMissKey;
  cache.position = position;
  return cached(cache);
}

const ModelRecord& ModelTable::cached(const Cache& cache) const {
  return cache.position != kNoRecord ? records_[cache.position] : default_model_record();
}

const ModelRecord& ModelTable::lookup_by_product(Cache& cache, std::uint32_t product_id) {
  const std::int64_t key = product_id;
  if (cache.valid && cache.key == key)
    return cached(cache);
  load_if_empty();
  for (std::size_t position = 0; position < records_.size(); ++position) {
    if (records_[position].product_id == product_id)
      return remember(cache, key, position);
  }
  return remember(cache, key, kNoRecord);
}

const ModelRecord& ModelTable::model_by_product(std::uint32_t product_id) {
  return lookup_by_product(by_product_, product_id);
}

ModelRecord* ModelTable::copy_model_by_product(ModelRecord* dst, std::uint32_t product_id) {
  const ModelRecord& found = lookup_by_product(copy_by_product_, product_id);
  if (dst != nullptr)
    *dst = found;
  return dst;
}

const ModelRecord& ModelTable::model_by_index(int index) {
  const std::int64_t key = index > 0 ? index : 0;
  if (by_index_.valid && by_index_.key == key)
    return cached(by_index_);
  load_if_empty();
  const auto position = static_cast<std::size_t>(key);
  return remember(by_index_, key, position < records_.size() ? position : kNoRecord);
}

int ModelTable::model_list_text(char* buf, std::size_t size, std::size_t* total) {
  load_if_empty();
  std::size_t used = 0;
  // Room for the widest text: five numbers, five commas, a full name, NUL.
  char text[kModelNameSize + std::size_t{5} * 12 + 8];
  for (const ModelRecord& r : records_) {
    const int printed = std::snprintf(
        text, sizeof text, "%d,0x%x,0x%x,%d,%d,%s", r.series, static_cast<unsigned>(r.vendor_id),
        static_cast<unsigned>(r.product_id), r.type, r.type_param, r.name);
    const std::size_t length = static_cast<std::size_t>(printed) + 1;
    if (buf != nullptr && used + length <= size)
      std::memcpy(buf + used, text, length);
    used += length;
  }
  if (total != nullptr)
    *total = used;
  return static_cast<int>(records_.size());
}

int ModelTable::model_list_size(std::size_t* total, int* count) {
  const int records = model_list_text(nullptr, 0, total);
  if (count != nullptr)
    *count = records;
  return 1;
}

int ModelTable::model_list_fill(char* buf, std::size_t size) {
  model_list_text(buf, size, nullptr);
  return 1;
}

}  // namespace kxsane
