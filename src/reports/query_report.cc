#include "reports/query_report.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace kxsane {

namespace {

// Names and models up to this long are padded to a column of 20; longer
// ones are followed by a single space.
constexpr std::size_t kPaddedWidth = 18;
constexpr std::size_t kColumnWidth = 20;

// The report's lines, built in place and handed to stdio a block at a time:
// a formatted print per line costs more than reading the devices (measured
// in bench/README.md).
class ReportLines {
 public:
  // "%3d " with the next line number: 0 for the first line, then counting
  // up.
  void number() {
    char digits[kNumberMax];
    const char* end = std::to_chars(digits, digits + sizeof digits, next_number_++).ptr;
    const auto length = static_cast<std::size_t>(end - digits);
    spaces(length < 3 ? 3 - length : 0);
    text({digits, length});
    spaces(1);
  }

  void text(std::string_view text) { length_ += text.copy(text_ + length_, text.size()); }

  void spaces(std::size_t count) {
    std::memset(text_ + length_, ' ', count);
    length_ += count;
  }

  // `text` followed by the spaces that pad it to its column.
  void padded(std::string_view text) {
    this->text(text);
    spaces(text.size() <= kPaddedWidth ? kColumnWidth - text.size() : 1);
  }

  // Ends the line; the block goes to stdio when another line might not fit.
  void end_line() {
    text_[length_++] = '\n';
    if (length_ > kBlockSize - kLongestLine)
      flush();
  }

  // Hands every ended line to stdio.
  void flush() {
    std::fwrite(text_, 1, length_, stdout);
    length_ = 0;
  }

 private:
  static constexpr std::size_t kNumberMax = 11;  // digits and sign of an int
  // The longest line: a line number, a model name, or two device fields with
  // their padding and a third with its tag, and the line break.
  static constexpr std::size_t kLongestLine =
      kNumberMax + 1 + kModelNameSize + 4 * (kDeviceFieldSize + kColumnWidth) + 4;
  static constexpr std::size_t kBlockSize = std::size_t{1} << 16;
  char text_[kBlockSize];
  std::size_t length_ = 0;
  int next_number_ = 0;
};

// "%3d %s" per model, numbered from 0.
void print_model_lines(const ModelTable& models) {
  ReportLines line;
  for (const ModelRecord& model : models.records()) {
    line.number();
    // A name is read up to its NUL, never past its capacity.
    line.text({model.name, strnlen(model.name, sizeof model.name)});
    line.end_line();
  }
  line.flush();
}

// A line per device: its number, name and model padded to their columns,
// and its node name ("N:") or else its IP address ("I:").
void print_device_lines(DeviceList& devices, int count) {
  ReportLines line;
  std::string_view fields[kDeviceFieldCount];
  for (int i = 0; i < count; ++i) {
    devices.device_fields(i, fields);
    const std::string_view node = fields[kNodeName];
    const std::string_view ip = fields[kIpAddress];
    line.number();
    line.padded(fields[kFriendlyName]);
    line.padded(fields[kModelName]);
    if (!node.empty()) {
      line.text("N:");
      line.text(node);
    } else if (!ip.empty()) {
      line.text("I:");
      line.text(ip);
    }
    line.end_line();
  }
  line.flush();
}

}  // namespace

int query_report(DeviceList& devices, ModelTable& models) {
  models.load_model_table();
  print_model_lines(models);
  models.free_model_table();

  const int count = devices.device_count();
  std::fputs("\nDevices on network\n", stdout);
  print_device_lines(devices, count);
  return 1;
}

}  // namespace kxsane
