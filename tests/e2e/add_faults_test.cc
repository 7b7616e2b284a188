// The add command when the rewrite cannot be done: missing tools, a full
// file system, a read-only directory, no usable /tmp. The registry stays
// byte for byte as it was, one line names it, and no file is left behind.
#include <filesystem>
#include <set>

#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

namespace fs = std::filesystem;

constexpr char kRegistryPath[] = "/etc/opt/kestrel/scanner/kxscan4//kxsanenetdevice4.cfg";
constexpr char kNewLine[] = "DEVICE=new , \"m\" , Unknown , IP-ADDRESS=10.9.9.9 \n";
const std::vector<std::string> kAdd = {"-a", "name=new", "model=m", "ip=10.9.9.9"};

std::string registry_of(std::size_t bytes) {
  return registry_of_size(bytes, "# registry\n");
}

// One line, naming the registry as the tool prints its path.
void expect_unchanged_message(const std::string& out) {
  EXPECT_EQ(out.rfind(std::string("Could not update ") + kRegistryPath + ",", 0), 0u) << out;
  EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
}

// Runs one -a with `options` on a registry of `content` and checks that
// nothing changed and nothing was left behind. Returns the output.
std::string add_that_fails(Sandbox& sb, const std::string& content, const RunOptions& options) {
  sb.write(kDeviceCfg, content);
  const RunResult r = sb.run(kAdd, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(sb.read(kDeviceCfg), content);
  EXPECT_EQ(sb.tmp_entries(), "");
  EXPECT_EQ(sb.config_entries(), "kxsanenetdevice4.cfg\n");
  return r.out;
}

TEST(AddFaults, MissingUniqLeavesTheRegistry) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  RunOptions options;
  options.hidden_tools = {"uniq"};
  const std::string out = add_that_fails(sb, "# registry\n", options);
  EXPECT_EQ(out, std::string("Could not update ") + kRegistryPath +
                     ", it was left unchanged: pipeline failed with status 127\n");
}

TEST(AddFaults, CatAndSedAreNotNeeded) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg, "# registry\n");
  RunOptions options;
  options.hidden_tools = {"cat", "sed"};
  const RunResult r = sb.run(kAdd, options);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(sb.read(kDeviceCfg), std::string(kNewLine) + "# registry\n");
  EXPECT_EQ(sb.tmp_entries(), "");
}

TEST(AddFaults, FullFileSystemLeavesTheRegistry) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  RunOptions options;
  options.config_fs_size = "16k";
  const std::string content = registry_of(12 * 1024 - 100);
  ASSERT_GT(content.size(), 11u * 1024);
  expect_unchanged_message(add_that_fails(sb, content, options));
}

TEST(AddFaults, ReadOnlyDirectoryLeavesTheRegistry) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  RunOptions options;
  options.read_only_config = true;
  const std::string out = add_that_fails(sb, "# registry\n", options);
  expect_unchanged_message(out);
  EXPECT_NE(out.find("Read-only file system"), std::string::npos) << out;
}

TEST(AddFaults, FullTmpLeavesTheRegistry) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  // The new line fits into the temporary file; the registry behind it not.
  const std::string content = registry_of(std::size_t{12} * 1024);
  sb.write(kDeviceCfg, content);
  const RunResult r = sb.shell(
      "mount -t tmpfs -o size=4k,mode=1777 kxsane-small /tmp || exit 9\n"
      "\"$KX\" -a name=new model=m ip=10.9.9.9\n");
  EXPECT_EQ(r.status, 0);
  expect_unchanged_message(r.out);
  EXPECT_EQ(sb.read(kDeviceCfg), content);
  EXPECT_EQ(sb.tmp_entries(), "");
  EXPECT_EQ(sb.config_entries(), "kxsanenetdevice4.cfg\n");
}

TEST(AddFaults, NoTemporaryFileChangesNothingAndSaysSo) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg, "# registry\n");
  const RunResult r = sb.shell(
      "mount -o remount,ro /tmp || exit 9\n"
      "\"$KX\" -a name=new model=m ip=10.9.9.9\n"
      "mount -o remount,rw /tmp\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("Could not update ") + kRegistryPath +
                       ", it was left unchanged: cannot create a temporary file: Read-only file "
                       "system\n");
  EXPECT_EQ(sb.read(kDeviceCfg), "# registry\n");
  EXPECT_EQ(sb.tmp_entries(), "");
}

TEST(AddFaults, MissingConfigurationDirectoryIsNamedWithTheRemedy) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  const RunResult r = sb.shell(
      "rm -rf \"$CFG\"\n\"$KX\" -a name=new model=m ip=10.9.9.9\n"
      "mkdir \"$CFG\"\n");
  EXPECT_EQ(r.out, std::string("Could not update ") + kRegistryPath +
                       ", it was left unchanged: the directory /etc/opt/kestrel/scanner/kxscan4/ "
                       "is missing (install the package or create it)\n");
  EXPECT_EQ(sb.tmp_entries(), "");
}

}  // namespace
}  // namespace kxsane::e2e
