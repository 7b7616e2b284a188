#include "registry/registration.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/device_line.h"
#include "support/test_dir.h"

namespace kxsane {
namespace {

using kxsane::testing::TestDir;

constexpr char kModels[] =
    "[Support Model]\n0x4ab:0x123,503,1,\"KX-100\",1,2\n0x77,1,1,\"KX 200\"\n";

// `text` read the way the registry or the model table reads its file.
template <typename Reader>
void read_text(const std::string& text, Reader read) {
  std::string copy = text;
  std::FILE* file = fmemopen(copy.data(), copy.size(), "r");
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(read(file).ok());
  std::fclose(file);
}

TEST(AddDecision, RequestAgainstRegistryAndModelTable) {
  const std::string name63(63, 'n');
  const std::string model61(61, 'm');
  const std::string long_ip = "1.2.3.4" + std::string(30, '5');
  const struct {
    const char* registry;
    NewDevice device;
    bool registered;
    std::string expected;  // the line written, or the refusal
  } kCases[] = {
      {"",
       {"office", "KX-100", "10.0.0.7", ""},
       true,
       "DEVICE=office , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.0.0.7 \n"},
      // Looked up as given (the table stores "KX200"), written without blanks.
      {"",
       {"a", "KX\n200", "", "host1"},
       true,
       "DEVICE=a , \"KX200\" , Unknown , NODENAME=host1 \n"},
      {"",
       {"a", "kx-100", "1.2.3.4", "KXN_1"},
       true,
       "DEVICE=a , \"kx-100\" , Unknown , NODENAME=KXN_1 \n"},
      {"",
       {name63 + "x", model61 + "x", "1.2.3.4", ""},
       true,
       "DEVICE=" + name63 + " , \"" + model61 + "\" , Unknown , IP-ADDRESS=1.2.3.4 \n"},
      {"", {"a.b", "m", "1.2.3.4", ""}, false, "Invalid name\n"},
      {"DEVICE=taken , \"\" , Unknown , IP-ADDRESS=1.1.1.1 \n",
       {"taken", "m", "bad", ""},
       false,
       "\"taken\" is already registered.\n"},
      // The name lookup stops at a first record without a name.
      {"x=y\nDEVICE=taken , \"\" , Unknown , IP-ADDRESS=1.1.1.1 \n",
       {"taken", "m", "1.2.3.4", ""},
       true,
       "DEVICE=taken , \"m\" , Unknown , IP-ADDRESS=1.2.3.4 \n"},
      {"", {"a", "m", "\n", "\r\f"}, false, "Invalid IP address or NODENAME\n"},
      {"", {"a", "m,n", "", "a;b"}, false, "Invalid IP address or NODENAME\n"},
      {"", {"a", "m\n=n", "1.2", "host"}, false, "Invalid model (m=n)\n"},
      {"", {"a", "m", "1.2", "host"}, false, "Invalid IP address (1.2)\n"},
      {"", {"a", "m", long_ip, ""}, false, "Invalid IP address (" + long_ip.substr(0, 29) + ")\n"},
  };
  ModelTable models("/nonexistent", "/nonexistent");
  read_text(kModels, [&](std::FILE* f) { return models.read_model_stream(f); });
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.expected);
    DeviceList list("/nonexistent");
    read_text(c.registry, [&](std::FILE* f) { return list.read_device_stream(f); });
    const AddOutcome outcome = decide_add(c.device, RegistryState(list), models);
    EXPECT_EQ(outcome.status.ok(), c.registered);
    EXPECT_EQ(c.registered ? outcome.line : outcome.status.message(), c.expected);
    // Every line written reads back with its name.
    DeviceRecord record;
    if (c.registered && parse_device_line(outcome.line, record)) {
      EXPECT_EQ(record.fields[kFriendlyName], c.device.name.substr(0, 63));
    }
  }
}

class RegisterDevices : public ::testing::Test {
 protected:
  RegisterDevices() : paths_(dir_.paths()), models_(paths_.models_dir, paths_.main_model_file) {
    dir_.write("cfg/Kxsane4.ini", kModels);
    EXPECT_TRUE(models_.load().ok());
  }

  // The outcomes' messages, or "ok" for each registered one.
  std::string register_all(const std::vector<NewDevice>& devices) {
    std::string out;
    for (const AddOutcome& outcome : register_devices(paths_, models_, devices))
      out += outcome.status.ok() ? "ok\n" : outcome.status.message();
    return out;
  }
  std::optional<std::string> registry() const { return dir_.read("cfg/kxsanenetdevice4.cfg"); }
  // Entries of the temporary and configuration directories besides the
  // registry and the model files.
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
  ModelTable models_;
};

TEST_F(RegisterDevices, BatchDecidesEachAgainstTheOnesBeforeItAndWritesThemOnTop) {
  dir_.write("cfg/kxsanenetdevice4.cfg", "x=y\nDEVICE=old , \"X\" , Unknown , NODENAME=n \n");
  EXPECT_EQ(register_all({{"a", "KX-100", "10.0.0.7", ""},
                          {"old", "m", "10.0.0.8", ""},
                          {"a", "m", "10.0.0.9", ""},
                          {"b", "m", "", "hb"}}),
            "ok\n\"old\" is already registered.\n\"a\" is already registered.\nok\n");
  EXPECT_EQ(registry(),
            "DEVICE=b , \"m\" , Unknown , NODENAME=hb \n"
            "DEVICE=a , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.0.0.7 \n"
            "x=y\nDEVICE=old , \"X\" , Unknown , NODENAME=n \n");
  EXPECT_EQ(leftovers(), "");
}

TEST_F(RegisterDevices, FailuresLeaveTheRegistryAndSayWhyForEveryDevice) {
  const std::string unchanged =
      "Could not update " + paths_.device_config + ", it was left unchanged: ";
  paths_.temp_template = dir_.file("missing/kxsane_tempfile4_XXXXXX");
  EXPECT_EQ(register_all({{"a", "m", "1.2.3.4", ""}}),
            unchanged + "cannot create a temporary file: No such file or directory\n");
  EXPECT_EQ(registry(), std::nullopt);

  paths_ = dir_.paths();
  dir_.write("cfg/kxsanenetdevice4.cfg", "DEVICE=t , \"\" , Unknown , IP-ADDRESS=1.1.1.1 \n");
  const std::string before = *registry();
  const char* old_path = std::getenv("PATH");
  const std::string saved = old_path ? old_path : "";
  ::setenv("PATH", dir_.file("tmp").c_str(), 1);  // no uniq
  const std::string out = register_all({{"t", "m", "1.2.3.4", ""}, {"a", "m", "1.2.3.4", ""}});
  ::setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(out.rfind("\"t\" is already registered.\n" + unchanged, 0), 0u) << out;
  EXPECT_EQ(out.find('\n', out.find(unchanged)), out.size() - 1) << out;
  EXPECT_EQ(registry(), before);
  EXPECT_EQ(leftovers(), "");
}

}  // namespace
}  // namespace kxsane
