// The add command end to end: the whole registry after each call, the whole
// output, and the file's mode, owner and links.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

namespace fs = std::filesystem;

constexpr char kModels[] =
    "; models of the main file\n"
    "[Support Model]\n"
    "0x4ab:0x123, 503, 1, \"KX-100\", 1, 2\n"
    "0x4ab:0x2f0, 503, 1, \"KX 200\"\n";
constexpr char kMoreModels[] = "[Support Model]\n0x1e:0xabc, 1, 1, \"KX-9\"\n";

class AddCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    sb_.write("Kxsane4.ini", kModels);
    sb_.write("models4/more.ini", kMoreModels);
  }
  std::optional<std::string> registry() const { return sb_.read(kDeviceCfg); }

  Sandbox sb_;
};

TEST_F(AddCommand, RegistersNewestFirstWithTheModelsUsbIds) {
  KXSANE_REQUIRE_SANDBOX();
  RunResult r = sb_.run({"-a", "name=office", "model=KX-100", "ip=10.0.0.5"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(registry(), "DEVICE=office , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.0.0.5 \n");

  // Any order, unrelated arguments ignored, a model of the models directory,
  // the same address as a registered device.
  r = sb_.run({"-a", "extra", "ip=10.0.0.5", "nodename=KXN_0012", "model=KX-9", "name=lab_2"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(registry(),
            "DEVICE=lab_2 , \"KX-9\" , 0x1e:0xabc , NODENAME=KXN_0012 \n"
            "DEVICE=office , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.0.0.5 \n");

  // A model in other letter case, or not in the table at all, is "Unknown";
  // no model= gives an empty quoted model. The table's "KX 200" is "KX200".
  r = sb_.run({"-a", "name=a", "model=kx-100", "ip=010.001.000.001"});
  EXPECT_EQ(r.out, "");
  r = sb_.run({"-a", "name=b", "ip=1.2.3.4", "x"});
  EXPECT_EQ(r.out, "");
  r = sb_.run({"-a", "name=c", "model=KX200", "nodename=c.local"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(registry(),
            "DEVICE=c , \"KX200\" , 0x4ab:0x2f0 , NODENAME=c.local \n"
            "DEVICE=b , \"\" , Unknown , IP-ADDRESS=1.2.3.4 \n"
            "DEVICE=a , \"kx-100\" , Unknown , IP-ADDRESS=010.001.000.001 \n"
            "DEVICE=lab_2 , \"KX-9\" , 0x1e:0xabc , NODENAME=KXN_0012 \n"
            "DEVICE=office , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.0.0.5 \n");
  EXPECT_EQ(sb_.tmp_entries(), "");
  EXPECT_EQ(sb_.config_entries(), "Kxsane4.ini\nkxsanenetdevice4.cfg\nmodels4\n");
}

TEST_F(AddCommand, HandWrittenLinesStayBelowTheNewOne) {
  KXSANE_REQUIRE_SANDBOX();
  const std::string hand =
      "# scanners\nlog=/var/log/kx.log , 1 , w\n[net]\nDEVICE=x,\"M\",Unknown,NODENAME=h\n\n";
  sb_.write(kDeviceCfg, hand);
  EXPECT_EQ(sb_.run({"-a", "name=y", "model=M", "nodename=h"}).out, "");
  EXPECT_EQ(registry(), "DEVICE=y , \"M\" , Unknown , NODENAME=h \n" + hand);
  // The hand-written form of x is recognised as registered.
  EXPECT_EQ(sb_.run({"-a", "name=x", "model=M", "nodename=h"}).out,
            "\"x\" is already registered.\n");
}

// Every refusal: its message, byte for byte, and nothing written anywhere.
TEST_F(AddCommand, RefusalsInCheckOrderChangeNothing) {
  KXSANE_REQUIRE_SANDBOX();
  const std::string registered = "DEVICE=taken , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=1.1.1.1 \n";
  sb_.write(kDeviceCfg, registered);
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{"-a"}, "Invalid parameter 0\n"},
      {{"-a", "name=n", "ip=1.2.3.4"}, "Invalid parameter 0\n"},
      {{"-a", "model=m", "ip=1.2.3.4", "x"}, "Invalid name\n"},
      {{"-a", "name=", "model=m", "ip=1.2.3.4"}, "Invalid name\n"},
      {{"-a", "name=a.b", "model=m", "ip=1.2.3.4"}, "Invalid name\n"},
      {{"-a", "name=a.b", "model=m", "ip=1.2.3"}, "Invalid name\n"},
      {{"-a", "name=taken", "model=m", "ip=1.2.3"}, "\"taken\" is already registered.\n"},
      {{"-a", "name=n", "model=m", "x"}, "Invalid IP address or NODENAME\n"},
      {{"-a", "name=n", "model=m", "ip=", "nodename="}, "Invalid IP address or NODENAME\n"},
      {{"-a", "name=n", "model=m", "ip=\n\r"}, "Invalid IP address or NODENAME\n"},
      {{"-a", "name=n", "model=m", "nodename=\f", "ip=\n"}, "Invalid IP address or NODENAME\n"},
      {{"-a", "name=n", "model=m,x", "nodename=-oProxy"}, "Invalid IP address or NODENAME\n"},
      {{"-a", "name=n", "model=m", "nodename=a;reboot"}, "Invalid IP address or NODENAME\n"},
      {{"-a", "name=n", "model=m", "nodename=a$(id)"}, "Invalid IP address or NODENAME\n"},
      {{"-a", "name=n", "model=a,b", "ip=1.2"}, "Invalid model (a,b)\n"},
      {{"-a", "name=n", "model=IP-ADDRESS=\n9", "nodename=h"}, "Invalid model (IP-ADDRESS=9)\n"},
      {{"-a", "name=n", "model=m", "ip=1.2.3"}, "Invalid IP address (1.2.3)\n"},
      {{"-a", "name=n", "model=m", "ip=256.1.1.1"}, "Invalid IP address (256.1.1.1)\n"},
      {{"-a", "name=n", "model=m", "ip=1..2.3"}, "Invalid IP address (1..2.3)\n"},
      {{"-a", "name=n", "model=m", "ip=1.2.3.4.5"}, "Invalid IP address (1.2.3.4.5)\n"},
      {{"-a", "name=n", "model=m", "ip=1.2.\n3.4x"}, "Invalid IP address (1.2.3.4x)\n"},
      // The node name is written, but a given address is still checked.
      {{"-a", "name=n", "model=m", "nodename=h", "ip=1.2"}, "Invalid IP address (1.2)\n"},
      // Cut to 29 characters before the check.
      {{"-a", "name=n", "model=m", "ip=1.2.3.4" + std::string(30, '0')},
       "Invalid IP address (1.2.3.4" + std::string(22, '0') + ")\n"},
  };
  for (const auto& [args, message] : rows) {
    const RunResult r = sb_.run(args);
    EXPECT_EQ(r.out, message) << args.back();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(registry(), registered) << args.back();
    EXPECT_EQ(sb_.tmp_entries(), "") << args.back();
  }
  EXPECT_EQ(sb_.config_entries(), "Kxsane4.ini\nkxsanenetdevice4.cfg\nmodels4\n");
}

TEST_F(AddCommand, LongValuesAreCutAndBlanksRemoved) {
  KXSANE_REQUIRE_SANDBOX();
  const std::string name(80, 'N');
  const std::string model(80, 'm');
  const std::string cut_name = name.substr(0, 63);
  RunResult r = sb_.run({"-a", "name=" + name + " rest", "model=" + model, "ip=1.2.3.4"});
  EXPECT_EQ(r.out, "");
  r = sb_.run({"-a", "name=s", "model=A\nB\r", "nodename=\fhost\n"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(registry(),
            "DEVICE=s , \"AB\" , Unknown , NODENAME=host \n"
            "DEVICE=" +
                cut_name + " , \"" + model.substr(0, 61) + "\" , Unknown , IP-ADDRESS=1.2.3.4 \n");
  // The cut name is what the registry knows.
  r = sb_.run({"-a", "name=" + cut_name, "model=m", "ip=1.2.3.4"});
  EXPECT_EQ(r.out, "\"" + cut_name + "\" is already registered.\n");
}

TEST_F(AddCommand, NewRegistryGetsDefaultModeLessUmask) {
  KXSANE_REQUIRE_SANDBOX();
  for (const char* mask : {"022", "077"}) {
    sb_.remove(kDeviceCfg);
    const RunResult r =
        sb_.shell(std::string("umask ") + mask + "; \"$KX\" -a name=a model=m ip=1.2.3.4\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(registry(), "DEVICE=a , \"m\" , Unknown , IP-ADDRESS=1.2.3.4 \n");
    struct stat st {};
    ASSERT_EQ(::stat(sb_.state_path(kDeviceCfg).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, std::string(mask) == "022" ? 0644u : 0600u) << mask;
  }
}

TEST_F(AddCommand, RegistryKeepsModeOwnerAndGroup) {
  KXSANE_REQUIRE_SANDBOX();
  sb_.write(kDeviceCfg, "# old\n");
  const std::string path = sb_.state_path(kDeviceCfg);
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_EQ(::chown(path.c_str(), 1234, 4321), 0);
  const RunResult r = sb_.shell("umask 077; \"$KX\" -a name=a model=m ip=1.2.3.4\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(registry(), "DEVICE=a , \"m\" , Unknown , IP-ADDRESS=1.2.3.4 \n# old\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_uid, 1234u);
  EXPECT_EQ(st.st_gid, 4321u);
}

TEST_F(AddCommand, RegistryThatIsALinkStaysALink) {
  KXSANE_REQUIRE_SANDBOX();
  sb_.write("saved/devices.cfg", "# old\n");
  fs::create_symlink("saved/devices.cfg", sb_.state_path(kDeviceCfg));
  const RunResult r = sb_.run({"-a", "name=a", "model=m", "ip=1.2.3.4"});
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(fs::is_symlink(sb_.state_path(kDeviceCfg)));
  EXPECT_EQ(fs::read_symlink(sb_.state_path(kDeviceCfg)), "saved/devices.cfg");
  EXPECT_EQ(sb_.read("saved/devices.cfg"),
            "DEVICE=a , \"m\" , Unknown , IP-ADDRESS=1.2.3.4 \n# old\n");
  EXPECT_EQ(sb_.config_entries(), "Kxsane4.ini\nkxsanenetdevice4.cfg\nmodels4\nsaved\n");
  std::set<std::string> saved;
  for (const auto& entry : fs::directory_iterator(sb_.state_path("saved")))
    saved.insert(entry.path().filename());
  EXPECT_EQ(saved, std::set<std::string>{"devices.cfg"});
}

}  // namespace
}  // namespace kxsane::e2e
