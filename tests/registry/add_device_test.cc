#include "registry/add_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/device_line.h"
#include "support/test_dir.h"

namespace kxsane {
namespace {

using kxsane::testing::capture_stdout;
using kxsane::testing::TestDir;

// An argv of owned strings, as the process entry hands it over.
class Args {
 public:
  Args(std::initializer_list<std::string> args) : storage_(args) { point(); }
  Args(const Args& other) : storage_(other.storage_) { point(); }
  Args& operator=(const Args&) = delete;
  char** argv() { return pointers_.data(); }
  int argc() const { return static_cast<int>(storage_.size()); }

 private:
  void point() {
    for (auto& arg : storage_) pointers_.push_back(arg.data());
    pointers_.push_back(nullptr);
  }

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
  get_key_value(args.argv(), args.argc(), "ip=", nullptr, 30);  // must not crash
}

TEST(FriendlyName, LettersDigitsHyphenAndUnderscoreOnly) {
  for (const char* good : {"a", "Office-2_b", "0", "-", "_x", "ZZ9"})
    EXPECT_EQ(is_valid_friendly_name(good), 1) << good;
  for (const char* bad :
       {"", "a.b", "a b", "a\tb", "a/b", "a=b", "a,b", "\xc3\xa4", "a\n", "\"a\""})
    EXPECT_EQ(is_valid_friendly_name(bad), 0) << bad;
}

TEST(Ipv4, AcceptsDottedQuadsUpTo255WithLeadingZeros) {
  for (const char* good : {"1.2.3.4", "0.0.0.0", "255.255.255.255", "010.001.000.001",
                           "192.168.100.200", "00000000000000000000001.2.3.4"})
    EXPECT_EQ(is_valid_ipv4(good), 1) << good;
}

TEST(Ipv4, RejectsEverythingElse) {
  for (const char* bad : {
           "1.2.3",            // three numbers
           "256.1.1.1",        // out of range
           "1.2.3.256",        // out of range in the last place
           "1..2.3",           // empty number
           "1.2.3.4.5",        // four dots
           ".1.2.3.4",         // leading dot
           "1.2.3.4.",         // trailing dot
           "1.2.3.",           // trailing dot, short
           "",                 //
           "a.b.c.d",          //
           "1.2.3.4a",         // trailing garbage a scan would ignore
           "+1.2.3.4",         // sign a scan would accept
           "1.2.-3.4",         //
           " 1.2.3.4",         // blank a scan would skip
           "1.2.3.4 ",         //
           "4294967297.1.1.1"  // wraps to 1 in a 32-bit scan
       })
    EXPECT_EQ(is_valid_ipv4(bad), 0) << bad;
}

// The add command against a registry in the test's own directory.
TEST(DeviceLine, WrittenLinesReadBackIntoTheSameFields) {
  std::string refusal;
  const auto by_node = device_line_for("lab", "M-2", "Unknown", "1.2.3.4", "KXN_1", refusal);
  ASSERT_TRUE(by_node);
  EXPECT_EQ(*by_node, "DEVICE=lab , \"M-2\" , Unknown , NODENAME=KXN_1 \n");
  DeviceRecord record;
  ASSERT_TRUE(parse_device_line(*by_node, record));
  EXPECT_STREQ(record.fields[kModelName], "\"M-2\"");
  EXPECT_STREQ(record.fields[kNodeName], "KXN_1");
  EXPECT_STREQ(record.fields[kIpAddress], "");
}

TEST(DeviceLine, ModelsThatWouldReadBackAsOtherFieldsAreRefused) {
  for (const char* model : {"a,b", "a=b", "a\vb"}) {
    std::string refusal;
    EXPECT_FALSE(device_line_for("n", model, "Unknown", "1.2.3.4", "", refusal)) << model;
    EXPECT_EQ(refusal, std::string("Invalid model (") + model + ")\n");
  }
}

class AddDevice : public ::testing::Test {
 protected:
  AddDevice()
      : paths_(dir_.paths()),
        devices_(paths_.device_config),
        models_(paths_.models_dir, paths_.main_model_file) {
    dir_.write("cfg/Kxsane4.ini",
               "[Support Model]\n0x4ab:0x123,503,1,\"KX-100\",1,2\n0x77,1,1,\"KX 200\"\n");
  }

  std::string add(Args args) {
    return capture_stdout(
        [&] { last_result_ = add_device(paths_, devices_, models_, args.argv(), args.argc()); });
  }
  std::optional<std::string> registry() const { return dir_.read("cfg/kxsanenetdevice4.cfg"); }
  // Entries of the temporary directory and of the configuration directory
  // other than the registry and the model files.
  std::string leftovers() const {
    std::string out;
    for (const char* sub : {"tmp", "cfg"}) {
      for (const auto& entry : std::filesystem::directory_iterator(dir_.file(sub))) {
        const std::string name = entry.path().filename();
        if (name != "kxsanenetdevice4.cfg" && name != "Kxsane4.ini" && name != "models4")
          out += std::string(sub) + "/" + name + "\n";
      }
    }
    return out;
  }

  TestDir dir_;
  Paths paths_;
  DeviceList devices_;
  ModelTable models_;
  int last_result_ = 0;
};

TEST_F(AddDevice, RegistersWithUsbIdsAboveExistingLines) {
  dir_.write("cfg/kxsanenetdevice4.cfg", "# kept\nDEVICE=old , \"X\" , Unknown , NODENAME=n \n");
  EXPECT_EQ(add({"kx", "-a", "ip=10.0.0.7", "model=KX-100", "name=office"}), "");
  EXPECT_EQ(registry(),
            "DEVICE=office , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.0.0.7 \n"
            "# kept\nDEVICE=old , \"X\" , Unknown , NODENAME=n \n");
  EXPECT_EQ(leftovers(), "");
}

TEST_F(AddDevice, ModelLookupUsesTheQuotedTextBeforeBlanksAreRemoved) {
  // The table stores "KX200" (blanks removed); the user's text has a line
  // feed, so it does not match, and is written without it.
  EXPECT_EQ(add({"kx", "-a", "name=a", "model=KX\n200", "nodename=host1"}), "");
  EXPECT_EQ(registry(), "DEVICE=a , \"KX200\" , Unknown , NODENAME=host1 \n");
}

TEST_F(AddDevice, ValuesAreCutToTheirCapacities) {
  const std::string name(70, 'n');
  const std::string model(70, 'm');
  EXPECT_EQ(add({"kx", "-a", "name=" + name, "model=" + model, "ip=1.2.3.4"}), "");
  EXPECT_EQ(registry(), "DEVICE=" + name.substr(0, 63) + " , \"" + model.substr(0, 61) +
                            "\" , Unknown , IP-ADDRESS=1.2.3.4 \n");
  EXPECT_EQ(add({"kx", "-a", "name=b", "model=m", "ip=1.2.3.4" + std::string(30, '5')}),
            "Invalid IP address (1.2.3.4" + std::string(22, '5') + ")\n");
}

TEST_F(AddDevice, NoTemporaryFileChangesNothingAndSaysSo) {
  paths_.temp_template = dir_.file("missing/kxsane_tempfile4_XXXXXX");
  EXPECT_EQ(add({"kx", "-a", "name=a", "model=m", "ip=1.2.3.4"}),
            "Could not update " + paths_.device_config +
                ", it was left unchanged: cannot create a temporary file: No such file or "
                "directory\n");
  EXPECT_EQ(last_result_, -1);
  EXPECT_EQ(registry(), std::nullopt);
}

TEST_F(AddDevice, RefusalsWriteNothingAndLeaveNoFileBehind) {
  dir_.write("cfg/kxsanenetdevice4.cfg", "DEVICE=taken , \"\" , Unknown , IP-ADDRESS=1.1.1.1 \n");
  const std::string before = *registry();
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"kx", "-a", "name=a", "ip=1.2.3.4"}, "Invalid parameter 0\n"},
      {{"kx", "-a", "model=m", "ip=1.2.3.4", "x"}, "Invalid name\n"},
      {{"kx", "-a", "name=taken", "ip=bad", "x"}, "\"taken\" is already registered.\n"},
      {{"kx", "-a", "name=a", "ip=\n", "nodename=\r\f"}, "Invalid IP address or NODENAME\n"},
      {{"kx", "-a", "name=a", "nodename=a;b", "model=m,n"}, "Invalid IP address or NODENAME\n"},
      {{"kx", "-a", "name=a", "nodename=host", "model=m\n=n", "ip=1.2"}, "Invalid model (m=n)\n"},
      {{"kx", "-a", "name=a", "nodename=host", "ip=1.2"}, "Invalid IP address (1.2)\n"},
  };
  for (auto [args, message] : cases) {
    EXPECT_EQ(add(args), message);
    EXPECT_EQ(registry(), before);
    EXPECT_EQ(leftovers(), "");
  }
}

TEST_F(AddDevice, RewriteFailureNamesTheFileAndKeepsIt) {
  dir_.write("cfg/kxsanenetdevice4.cfg", "# registry\n");
  const char* old_path = std::getenv("PATH");
  const std::string saved = old_path ? old_path : "";
  ::setenv("PATH", dir_.file("tmp").c_str(), 1);  // no uniq
  const std::string out = add({"kx", "-a", "name=a", "model=m", "ip=1.2.3.4"});
  ::setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(out.rfind("Could not update " + paths_.device_config + ",", 0), 0u) << out;
  EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
  EXPECT_EQ(registry(), "# registry\n");
  EXPECT_EQ(leftovers(), "");
}

}  // namespace
}  // namespace kxsane
