#include "cli/add_command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace kxsane {
namespace {

// An argv of owned strings, as the process entry hands it over.
class Args {
 public:
  Args(std::initializer_list<std::string> args) : storage_(args) {
    for (auto& arg : storage_) pointers_.push_back(arg.data());
    pointers_.push_back(nullptr);
  }
  char** argv() { return pointers_.data(); }
  int argc() const { return static_cast<int>(storage_.size()); }

 private:
  std::vector<std::string> storage_;
  std::vector<char*> pointers_;
};

std::string value_of(Args& args, const char* key, std::size_t size, const char* initial = "") {
  std::string dst(size + 16, '#');
  std::snprintf(dst.data(), dst.size(), "%s", initial);
  get_key_value(args.argv(), args.argc(), key, dst.data(), size);
  dst.resize(std::strlen(dst.data()));  // the value, up to its terminator
  return dst;
}

TEST(KeyValue, FirstArgumentWithTheKeyWinsFromTheProgramNameOn) {
  Args args{"ip=9.9.9.9", "-a", "ip=1.2.3.4", "name=a", "name=b"};
  EXPECT_EQ(value_of(args, "ip=", 30), "9.9.9.9");
  EXPECT_EQ(value_of(args, "name=", 64), "a");
}

TEST(KeyValue, KeyMustStartTheArgumentInExactCase) {
  Args args{"kx", "-a", "Name=upper", "nodename=node", " name=blank"};
  EXPECT_EQ(value_of(args, "name=", 64, "untouched"), "untouched");
  EXPECT_EQ(value_of(args, "nodename=", 64), "node");
}

TEST(KeyValue, ValueEndsAtSpaceOrTabAndIsCutToSizeMinusOne) {
  Args args{"kx", "-a", "name=ab cd", "model=x\ty", "ip=1234567890", "nodename=a\nb"};
  EXPECT_EQ(value_of(args, "name=", 64), "ab");
  EXPECT_EQ(value_of(args, "model=", 64), "x");
  EXPECT_EQ(value_of(args, "ip=", 5), "1234");
  // Only space and tab end a value; other blanks are removed later.
  EXPECT_EQ(value_of(args, "nodename=", 64), "a\nb");
}

TEST(KeyValue, EmptyValueAndNoDestinationSpace) {
  Args args{"kx", "-a", "ip="};
  EXPECT_EQ(value_of(args, "ip=", 30, "old"), "");
  EXPECT_EQ(value_of(args, "ip=", 0, "old"), "old");
}

TEST(NewDeviceArguments, ReadIntoTheRequestOrRefusedBeforeAnythingIsRead) {
  const std::string long_name(70, 'n');
  Args full{"kx", "-a", "ip=1.2.3.4", "model=M 1", "name=" + long_name, "nodename=n"};
  const Result<NewDevice> device = read_new_device(full.argv(), full.argc());
  ASSERT_TRUE(device.ok()) << device.status().message();
  EXPECT_EQ(device->name, long_name.substr(0, 63));
  EXPECT_EQ(device->model, "M");
  EXPECT_EQ(device->ip, "1.2.3.4");
  EXPECT_EQ(device->node, "n");

  Args two{"kx", "-a", "name=a", "ip=1.2.3.4"};
  EXPECT_EQ(read_new_device(two.argv(), two.argc()).status().message(), "Invalid parameter 0\n");
  Args unnamed{"kx", "-a", "model=m", "ip=1.2.3.4", "x"};
  EXPECT_EQ(read_new_device(unnamed.argv(), unnamed.argc()).status().message(), "Invalid name\n");
}

}  // namespace
}  // namespace kxsane
