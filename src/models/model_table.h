// The model table: the scanner models that the installed model description
// files support, in load order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/huge_page_allocator.h"
#include "common/status.h"

namespace kxsane {

// Value of a numeric field that a model line leaves out, and the initial
// product ID.
inline constexpr std::uint32_t DEFAULT_NUMBER = 0xFFFF;
// The USB vendor ID assumed when a line gives only a product ID.
extern const std::uint32_t DEFAULT_VENDOR_ID;

inline constexpr std::size_t kModelNameSize = 128;  // 127 characters and NUL
inline constexpr std::size_t kModelCmSize = 64;     // 63 characters and NUL
inline constexpr std::size_t kModelIdTextMax = 49;  // characters of the ID text
// Model description files are read in pieces of at most this many characters
// (line break included); each piece of a longer line is a line of its own.
inline constexpr std::size_t kModelPieceMax = 1023;
// A piece whose first 15 bytes, as stored, are this text opens the model
// section of a file.
inline constexpr char kModelSectionHeader[] = "[Support Model]";

// What a (plain or unscrambled) line of the model section is: after leading
// spaces and tabs, a line break or "#" is skipped, "[" ends the section, and
// anything else (even nothing at all) is a model line.
enum class SectionLine { kSkipped, kSectionEnd, kModelLine };
SectionLine classify_section_line(const char* line);
// Whether the NUL-terminated `line` opens the model section.
bool is_section_header(const char* line);

struct ModelRecord {
  char name[kModelNameSize] = {};  // with its double quotes, blanks removed
  std::uint32_t product_id = 0;
  std::uint32_t vendor_id = 0;
  std::int32_t type = 0;    // TYPE % 100
  std::int32_t series = 0;  // TYPE / 100
  std::int32_t type_param = 0;
  std::int32_t re = 0;
  std::int32_t we = 0;
  char cm[3][kModelCmSize] = {};
};

using ModelRecords = std::vector<ModelRecord, HugePageAllocator<ModelRecord>>;

// The record the lookups answer with when nothing matches: empty texts, every
// number -1. Never changed.
const ModelRecord& default_model_record();

// Whether `name` may be a model description file: at least 4 characters, not
// starting with ".", ending with ".ini". False for nullptr.
bool is_model_file_name(const char* name);

// Parses one model line (already unscrambled) into `record`, with every
// default of a missing or empty field. Numbers out of the 32-bit range become
// what a C library's formatted scan stores: the value strtoll (strtoull for
// hexadecimal) gives, clamped to 64 bits, reduced to its low 32 bits. Texts
// longer than their field are truncated; only the first 49 characters of the
// ID text count. Lines of any length are safe. Exposed for tests and fuzzing.
void parse_model_line(std::string line, ModelRecord& record);

// The detail line of a record, with its line break:
// "MODEL:%s,ID:0x%x:0x%x,TYPE:%d,%d,RE:0x%x,WE:0x%x CM:%s,%s,%s".
std::string model_detail_line(const ModelRecord& record);

// Owns its records. The sources are every model description file of
// `models_dir` (in directory listing order) and then `main_file`.
class ModelTable {
 public:
  ModelTable(std::string models_dir, std::string main_file);
  // The caches point into the records: a copy would point into another table.
  ModelTable(const ModelTable&) = delete;
  ModelTable& operator=(const ModelTable&) = delete;

  // Loads every source into an empty table (a table that holds records is
  // left as it is: Ok). A source that is missing, or anything but a regular
  // file reached through trusted links, is passed over. Failed, naming the
  // first source, when a read failed or memory ran out part way: the records
  // read stay, but a command that registers a model by the table must not
  // act on a table read in part.
  Status load();
  // load() as the design's callers use it: 0 after loading; -1, doing
  // nothing, when the table already holds records.
  int load_model_table();
  // Frees every record and forgets every cached lookup.
  void free_model_table();
  // Reads one model description file and appends its model lines. Returns
  // the number of model lines met, 0 when the file cannot be opened (it is
  // then passed over: missing, or no regular file reached through trusted
  // links).
  int read_model_file(const std::string& path);
  // The same for model description text read from `file`: the number of
  // model lines met, or Failed, naming `source`, when a read failed or
  // memory ran out part way (the records read until then stay).
  Result<int> read_model_stream(std::FILE* file,
                                const std::string& source = "model description text");

  // On the table as it stands (an empty table finds nothing):
  int model_exists(const char* name) const;
  int model_ids(const char* name, std::uint32_t* vendor, std::uint32_t* product) const;

  // Lookups that load the table when it is empty. Each caches its last key;
  // a cache never outlives the records it points at. The returned reference
  // is valid until the table is freed. Nothing found gives the default
  // record; a miss is never answered from a cache, so a cached answer is
  // always the one a fresh search would give. `model_by_product` finds the
  // first record with that product ID; `model_by_index` is constant time,
  // and every index of 0 or less gives the first record.
  const ModelRecord& model_by_product(std::uint32_t product_id);
  ModelRecord* copy_model_by_product(ModelRecord* dst, std::uint32_t product_id);
  const ModelRecord& model_by_index(int index);

  // The table flattened into NUL-terminated texts "%d,0x%x,0x%x,%d,%d,%s"
  // (series, vendor, product, type, type_param, name) lying one after
  // another in `buf`; copying stops at the first text that does not fit.
  // Stores the full length (NULs counted) in `total` when asked; returns the
  // number of records.
  int model_list_text(char* buf, std::size_t size, std::size_t* total);
  int model_list_size(std::size_t* total, int* count);
  int model_list_fill(char* buf, std::size_t size);

  std::size_t size() const { return records_.size(); }
  const ModelRecords& records() const { return records_; }

 private:
  // Positions, not pointers: the records may move as the table grows.
  static constexpr std::size_t kNoRecord = static_cast<std::size_t>(-1);
  struct Cache {
    bool valid = false;
    std::int64_t key = 0;
    std::size_t position = kNoRecord;  // kNoRecord: the default record
  };

  void load_if_empty();
  Result<int> read_model_source(const std::string& path);
  const ModelRecord& lookup_by_product(Cache& cache, std::uint32_t product_id);
  // Caches `key` with the record at `position`, or the miss (kNoRecord)
  // with the default record.
  const ModelRecord& remember(Cache& cache, std::int64_t key, std::size_t position);
  const ModelRecord& cached(const Cache& cache) const;

  std::string models_dir_;
  std::string main_file_;
  ModelRecords records_;
  Cache by_product_;
  Cache copy_by_product_;
  Cache by_index_;
};

}  // namespace kxsane
