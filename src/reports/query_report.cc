#include "reports/query_report.h"

#include <cstdio>
#include <cstring>

namespace kxsane {

namespace {

// Names and models up to this long are padded to a column of 20; longer
// ones are followed by a single space.
constexpr std::size_t kPaddedWidth = 18;
constexpr std::size_t kColumnWidth = 20;

// One line of the report, built in place and handed to stdio whole: the
// report has a line per device, and a formatted print per piece of each
// costs more than reading the devices.
class ReportLine {
 public:
  // "%3d " with `index`.
  void index(int index) {
    char digits[12];
    std::size_t count = 0;
    auto magnitude = static_cast<unsigned>(index);
    if (index < 0)
      magnitude = 0u - magnitude;
    do {
      digits[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (index < 0)
      digits[count++] = '-';
    for (std::size_t width = count; width < 3; ++width) text_[length_++] = ' ';
    while (count > 0) text_[length_++] = digits[--count];
    text_[length_++] = ' ';
  }

  // Texts are read up to their NUL, never past the `capacity` of their
  // field.
  void text(const char* text, std::size_t capacity) {
    text_with_length(text, strnlen(text, capacity));
  }

  // `text` followed by the spaces that pad it to its column.
  void padded(const char* text, std::size_t capacity) {
    const std::size_t length = strnlen(text, capacity);
    text_with_length(text, length);
    const std::size_t pad = length <= kPaddedWidth ? kColumnWidth - length : 1;
    std::memset(text_ + length_, ' ', pad);
    length_ += pad;
  }

  // Ends the line and prints it.
  void print() {
    text_[length_++] = '\n';
    std::fwrite(text_, 1, length_, stdout);
    length_ = 0;
  }

 private:
  void text_with_length(const char* text, std::size_t length) {
    std::memcpy(text_ + length_, text, length);
    length_ += length;
  }

  // Room for the longest line: an index, a model name, or two device fields
  // with their padding and a third with its tag, and the line break.
  char text_[kModelNameSize + 4 * (kDeviceFieldSize + kColumnWidth) + 16];
  std::size_t length_ = 0;
};

}  // namespace

int query_report(DeviceList& devices, ModelTable& models) {
  ReportLine line;
  models.load_model_table();
  int index = 0;
  for (const ModelRecord& model : models.records()) {
    line.index(index++);
    line.text(model.name, sizeof model.name);
    line.print();
  }
  models.free_model_table();

  const int count = devices.device_count();
  std::fputs("\nDevices on network\n", stdout);
  char name[kDeviceFieldSize];
  char model[kDeviceFieldSize];
  char ip[kDeviceFieldSize];
  char node[kDeviceFieldSize];
  for (int i = 0; i < count; ++i) {
    devices.device_field_by_index(i, kFriendlyName, name, sizeof name);
    devices.device_field_by_index(i, kModelName, model, sizeof model);
    devices.device_field_by_index(i, kIpAddress, ip, sizeof ip);
    devices.device_field_by_index(i, kNodeName, node, sizeof node);
    line.index(i);
    line.padded(name, sizeof name);
    line.padded(model, sizeof model);
    if (node[0] != '\0') {
      line.text("N:", 2);
      line.text(node, sizeof node);
    } else if (ip[0] != '\0') {
      line.text("I:", 2);
      line.text(ip, sizeof ip);
    }
    line.print();
  }
  return 1;
}

}  // namespace kxsane
