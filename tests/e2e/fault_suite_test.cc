// Every command that writes, under every fault we can make: a tool missing
// or failing half way, no space left, the file-size limit, a read-only
// directory, the process killed in the middle of a rewrite. Afterwards the registry and the label
// file each hold either their old content or the complete new content, and
// (except after SIGKILL) no temporary or staging file is left anywhere.
#include <set>
#include <string>
#include <vector>

#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

constexpr char kLabel[] = "backup.kxsaneconfig4";

struct Command {
  const char* name;
  std::vector<std::string> args;
  std::set<std::string> tools;  // the external tools its rewrite runs
};

const Command kCommands[] = {
    {"Add", {"-a", "name=newdev", "model=M-1", "ip=10.0.0.9"}, {"uniq"}},
    {"Remove", {"-r", "office"}, {"cat", "sed", "uniq"}},
    {"LoggingOn", {"-LI"}, {"uniq"}},
    {"LoggingOff", {"-LO"}, {"cat", "sed", "uniq"}},
    {"Save", {"-s:backup"}, {}},
    {"Load", {"-l:backup"}, {}},
};

enum class Fault { kMissing, kFailing, kNoSpace, kFileSizeLimit, kReadOnly, kKilled };

struct Case {
  const Command* command;
  Fault fault;
  std::string tool;  // for kMissing and kFailing

  std::string label() const {
    static const char* const names[] = {"Missing",  "Failing",  "NoSpace",
                                        "FileSize", "ReadOnly", "Killed"};
    return std::string(command->name) + names[static_cast<int>(fault)] + tool;
  }
};

void PrintTo(const Case& c, std::ostream* out) {
  *out << c.label();
}

std::vector<Case> all_cases() {
  std::vector<Case> cases;
  for (const Command& command : kCommands) {
    // Only the tools the command runs: every fault must reach it.
    for (const std::string& tool : command.tools) {
      cases.push_back({&command, Fault::kMissing, tool});
      cases.push_back({&command, Fault::kFailing, tool});
    }
    cases.push_back({&command, Fault::kNoSpace, ""});
    cases.push_back({&command, Fault::kFileSizeLimit, ""});
    cases.push_back({&command, Fault::kReadOnly, ""});
    // Save and load copy without external tools: nothing runs long enough
    // to be stopped in the middle.
    if (!command.tools.empty())
      cases.push_back({&command, Fault::kKilled, ""});
  }
  return cases;
}

// About 20 KiB each, so that a 48 KiB file system holds both files but not
// a third copy.
std::string registry_text() {
  std::string text = "log=/tmp/kx_sane.log , 1 , w\n\n\n";
  for (int i = 0; i < 260; ++i) {
    text += "DEVICE=dev" + std::to_string(i) + " , \"M-1\" , 0x0:0x123 , IP-ADDRESS=10.0.1." +
            std::to_string(i % 250) + " \n";
  }
  return text + "DEVICE=office , \"M-2\" , Unknown , NODENAME=KXN_00012 \n\n\n";
}

std::string label_text() {
  std::string text;
  for (int i = 0; i < 300; ++i) {
    text += "DEVICE=saved" + std::to_string(i) + " , \"M-1\" , Unknown , NODENAME=n" +
            std::to_string(i) + " \n";
  }
  return text;
}

void set_up(Sandbox& sb) {
  sb.write(kDeviceCfg, registry_text());
  sb.write(kLabel, label_text());
  sb.write("Kxsane4.ini", "[Support Model]\n0x123,1,0,\"M-1\"\n");
}

// A stand-in for `tool` that writes half of the real tool's output, then
// fails.
std::string failing_stub(const std::string& tool) {
  return "#!/bin/sh\n"
         "out=$(/usr/bin/" +
         tool +
         " \"$@\"; echo .)\n"
         "out=${out%.}\n"
         "printf '%s' \"$out\" | head -c $(( ${#out} / 2 ))\n"
         "exit 1\n";
}

// A uniq that writes part of its output, then waits to be killed.
constexpr char kSleepingUniq[] =
    "#!/bin/sh\n"
    "/usr/bin/uniq \"$@\" | head -c 100\n"
    "echo $$ > \"$WORK/stub.pid\"\n"
    "sleep 60\n";

class FaultSuite : public ::testing::TestWithParam<Case> {};

TEST_P(FaultSuite, LeavesOldOrCompleteNewContentAndNoLitter) {
  KXSANE_REQUIRE_SANDBOX();
  const Case& c = GetParam();

  // What the command makes of the files when nothing goes wrong.
  std::string new_registry, new_label;
  {
    Sandbox clean;
    set_up(clean);
    const RunResult r = clean.run(c.command->args);
    ASSERT_EQ(r.out, "") << "the command must succeed without a fault";
    new_registry = clean.read(kDeviceCfg).value_or("(missing)");
    new_label = clean.read(kLabel).value_or("(missing)");
  }

  Sandbox sb;
  set_up(sb);
  RunOptions options;
  RunResult r;
  switch (c.fault) {
    case Fault::kMissing:
      options.hidden_tools = {c.tool};
      r = sb.run(c.command->args, options);
      break;
    case Fault::kFailing:
      sb.add_stub(c.tool, failing_stub(c.tool));
      r = sb.run(c.command->args);
      break;
    case Fault::kNoSpace:
      options.config_fs_size = "48k";
      r = sb.run(c.command->args, options);
      break;
    case Fault::kFileSizeLimit: {
      // 8 KiB, below either file: the write fails with EFBIG, the tool goes on.
      std::string script = "ulimit -f 16\n\"$KX\"";
      for (const auto& arg : c.command->args) script += " " + sh_quote(arg);
      r = sb.shell(script + "\n");
      break;
    }
    case Fault::kReadOnly:
      options.read_only_config = true;
      r = sb.run(c.command->args, options);
      break;
    case Fault::kKilled: {
      sb.add_stub("uniq", kSleepingUniq);
      std::string script = "\"$KX\"";
      for (const auto& arg : c.command->args) script += " " + sh_quote(arg);
      script +=
          " > /dev/null & kx=$!\n"
          "while [ ! -s \"$WORK/stub.pid\" ]; do sleep 0.02; done\n"
          "kill -9 $kx; wait $kx\n"
          // The lock dies with the process, even while its pipeline lives on.
          "flock -n \"$CFG\" echo unlocked\n"
          "kill -9 $(cat \"$WORK/stub.pid\")\n";
      r = sb.shell(script);
      EXPECT_EQ(r.out, "unlocked\n");
      break;
    }
  }

  const std::string old_registry = registry_text();
  const std::string old_label = label_text();
  const std::string registry = sb.read(kDeviceCfg).value_or("(missing)");
  const std::string label = sb.read(kLabel).value_or("(missing)");
  EXPECT_TRUE(registry == old_registry || registry == new_registry) << registry.substr(0, 300);
  EXPECT_TRUE(label == old_label || label == new_label) << label.substr(0, 300);

  if (c.fault != Fault::kKilled) {
    EXPECT_EQ(registry, old_registry);
    EXPECT_EQ(label, old_label);
    EXPECT_NE(r.out, "") << "a failed change must say so";
  }
  if (c.fault != Fault::kKilled) {
    EXPECT_EQ(r.status, 0) << "the tool must not be ended by a signal";
    EXPECT_EQ(sb.tmp_entries(), "");
    const RunResult listing = sb.shell("ls -A \"$CFG\"\n");
    EXPECT_EQ(listing.out, "Kxsane4.ini\n" + std::string(kLabel) + "\nkxsanenetdevice4.cfg\n");
  }
}

INSTANTIATE_TEST_SUITE_P(EveryWritingCommand, FaultSuite, ::testing::ValuesIn(all_cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return info.param.label();
                         });

}  // namespace
}  // namespace kxsane::e2e
