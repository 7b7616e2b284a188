// -r, -LI, -LO, -s: and -l: when their change cannot be made: a tool missing
// from PATH, a full file system, a read-only directory, a full /tmp. The
// registry (and a label file) stays byte for byte as it was, the output says
// so, and no file is left behind.
#include <filesystem>
#include <set>

#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

namespace fs = std::filesystem;

constexpr char kRegistryPath[] = "/etc/opt/kestrel/scanner/kxscan4//kxsanenetdevice4.cfg";
constexpr char kInvalid[] = "Invalid parameter\n";

// With the device "dev1" and a logging line, so that -r and -LO have
// something to change.
std::string registry_of(std::size_t bytes) {
  return registry_of_size(bytes, "log=/tmp/kx_sane.log , 1 , w\n");
}

bool is_unchanged_line(const std::string& line) {
  return line.rfind(std::string("Could not update ") + kRegistryPath + ", it was left unchanged: ",
                    0) == 0 &&
         line.find('\n') == line.size() - 1;
}

enum class Says { kUnchanged, kInvalid };

struct Command {
  std::vector<std::string> args;
  Says says;
};

const Command kRemove = {{"-r", "dev1", "dev2"}, Says::kUnchanged};
const Command kLoggingOn = {{"-LI"}, Says::kUnchanged};
const Command kLoggingOff = {{"-LO"}, Says::kUnchanged};
const Command kLoad = {{"-l:saved"}, Says::kUnchanged};
const Command kSave = {{"-s:saved"}, Says::kInvalid};

std::string describe(const Command& command) {
  std::string text;
  for (const auto& arg : command.args) text += arg + " ";
  return text;
}

void expect_output(const Command& command, const std::string& out) {
  switch (command.says) {
    case Says::kUnchanged:
      EXPECT_TRUE(is_unchanged_line(out)) << out;
      break;
    case Says::kInvalid:
      EXPECT_EQ(out, kInvalid);
      break;
  }
}

// Runs `command` (through `script` when given) on a registry of `content`
// and a label file "saved" of `label` that differs from it, and checks that
// both are as they were and nothing was left behind.
void expect_nothing_changed(const Command& command, const std::string& content,
                            const std::string& label, const RunOptions& options,
                            const std::string& script = "") {
  SCOPED_TRACE(describe(command));
  Sandbox sb;
  sb.write(kDeviceCfg, content);
  sb.write("saved.kxsaneconfig4", label);
  std::string line = "\"$KX\"";
  for (const auto& arg : command.args) line.append(" ").append(sh_quote(arg));
  const RunResult r = sb.shell(script + line + "\n", options);
  EXPECT_EQ(r.status, 0);
  expect_output(command, r.out);
  EXPECT_EQ(sb.read(kDeviceCfg), content);
  EXPECT_EQ(sb.read("saved.kxsaneconfig4"), label);
  EXPECT_EQ(sb.tmp_entries(), "");
  EXPECT_EQ(sb.config_entries(), "kxsanenetdevice4.cfg\nsaved.kxsaneconfig4\n");
}

TEST(RemoveFaultsE2e, MissingToolLeavesTheRegistry) {
  KXSANE_REQUIRE_SANDBOX();
  const std::string content = registry_of(2000);
  const std::string label = "saved\n";
  const struct {
    const char* tool;
    std::vector<Command> commands;
  } cases[] = {
      {"cat", {kRemove, kLoggingOff}},
      {"sed", {kRemove, kLoggingOff}},
      {"uniq", {kRemove, kLoggingOn, kLoggingOff}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(std::string("without ") + test.tool);
    RunOptions options;
    options.hidden_tools = {test.tool};
    for (const Command& command : test.commands)
      expect_nothing_changed(command, content, label, options);
  }
}

TEST(RemoveFaultsE2e, FullFileSystemLeavesRegistryAndLabel) {
  KXSANE_REQUIRE_SANDBOX();
  // Two files of six pages each on a tmpfs of sixteen: no room for a third.
  RunOptions options;
  options.config_fs_size = "64k";
  const std::string content = registry_of(24 * 1024 - 200);
  const std::string label = "# saved\n" + registry_of(24 * 1024 - 300);
  ASSERT_GT(content.size(), 17u * 1024);
  for (const Command& command : {kRemove, kLoggingOn, kLoggingOff, kLoad, kSave})
    expect_nothing_changed(command, content, label, options);
}

TEST(RemoveFaultsE2e, ReadOnlyDirectoryLeavesRegistryAndLabel) {
  KXSANE_REQUIRE_SANDBOX();
  RunOptions options;
  options.read_only_config = true;
  for (const Command& command : {kRemove, kLoggingOn, kLoggingOff, kLoad, kSave})
    expect_nothing_changed(command, registry_of(2000), "saved\n", options);
}

TEST(RemoveFaultsE2e, FullTmpLeavesTheRegistry) {
  KXSANE_REQUIRE_SANDBOX();
  // The registry does not fit into the temporary file.
  const std::string fill = "mount -t tmpfs -o size=4k,mode=1777 kxsane-small /tmp || exit 9\n";
  for (const Command& command : {kRemove, kLoggingOn, kLoggingOff})
    expect_nothing_changed(command, registry_of(std::size_t{12} * 1024), "saved\n", {}, fill);
}

TEST(RemoveFaultsE2e, NoTemporaryFileLeavesTheRegistryAndSaysSo) {
  KXSANE_REQUIRE_SANDBOX();
  const std::string read_only = "mount -o remount,ro /tmp || exit 9\n";
  for (const Command& command : {kRemove, kLoggingOn, kLoggingOff})
    expect_nothing_changed(command, registry_of(2000), "saved\n", {}, read_only);
}

}  // namespace
}  // namespace kxsane::e2e
