#include "reports/query_report.h"

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
// the report has a line per device, and a formatted print per piece of each
// costs more than reading the devices.
class ReportLines {
 public:
  // "%3d " with the next line number: 0 for the first line, then counting
  // up. The number is kept as decimal text and counted up in place.
  void number() {
    const std::size_t width = digits_ < 3 ? 3 : digits_;
    std::memcpy(text_ + length_, number_ + sizeof number_ - width, width);
    length_ += width;
    text_[length_++] = ' ';
    char* digit = number_ + sizeof number_ - 1;
    while (*digit == '9') *digit-- = '0';
    if (*digit == ' ') {
      *digit = '1';
      ++digits_;
    } else {
      ++*digit;
    }
  }

  void text(std::string_view text) {
    std::memcpy(text_ + length_, text.data(), text.size());
    length_ += text.size();
  }

  // `text` followed by the spaces that pad it to its column.
  void padded(std::string_view text) {
    this->text(text);
    const std::size_t pad = text.size() <= kPaddedWidth ? kColumnWidth - text.size() : 1;
    std::memset(text_ + length_, ' ', pad);
    length_ += pad;
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
  // The longest line: a line number, a model name, or two device fields with
  // their padding and a third with its tag, and the line break.
  static constexpr std::size_t kLongestLine =
      kModelNameSize + 4 * (kDeviceFieldSize + kColumnWidth) + 16;
  static constexpr std::size_t kBlockSize = std::size_t{1} << 16;
  char text_[kBlockSize];
  std::size_t length_ = 0;
  // The line number, right-aligned in spaces, and how many digits it has.
  char number_[12] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', '0'};
  std::size_t digits_ = 1;
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
