// Saved configurations end to end: save and load byte for byte, labels that
// would leave the configuration directory or overrun the path.
#include <filesystem>
#include <set>

#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

namespace fs = std::filesystem;

// Every name under /etc/opt after the script `then` ran, one per line.
RunResult run_and_list(Sandbox& sb, const std::string& then) {
  return sb.shell(then + "\ncd /etc/opt && find . | LC_ALL=C sort\n");
}

constexpr char kTree[] =
    ".\n./kestrel\n./kestrel/scanner\n./kestrel/scanner/kxscan4\n"
    "./kestrel/scanner/kxscan4/kxsanenetdevice4.cfg\n";

TEST(LabelsE2e, SaveAndLoadRoundTripByteForByte) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  const std::string content = "DEVICE=a , \"KX\xff\" , Unknown , IP-ADDRESS=10.0.0.1 \n\n\nno end";
  sb.write(kDeviceCfg, content);
  EXPECT_EQ(sb.run({"-s:office"}).out, "");
  EXPECT_EQ(sb.read("office.kxsaneconfig4"), content);
  sb.write(kDeviceCfg, "other\n");
  EXPECT_EQ(sb.run({"-l:office"}).out, "");
  EXPECT_EQ(sb.read(kDeviceCfg), content);
  EXPECT_EQ(sb.read("office.kxsaneconfig4"), content);
  EXPECT_EQ(sb.tmp_entries(), "");
  EXPECT_EQ(sb.config_entries(), "kxsanenetdevice4.cfg\noffice.kxsaneconfig4\n");
}

TEST(LabelsE2e, EmptyLabelIsAFileOfItsOwn) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg, "saved\n");
  EXPECT_EQ(sb.run({"-s:"}).out, "");
  EXPECT_EQ(sb.read(".kxsaneconfig4"), "saved\n");
  sb.write(kDeviceCfg, "changed\n");
  EXPECT_EQ(sb.run({"-l:"}).out, "");
  EXPECT_EQ(sb.read(kDeviceCfg), "saved\n");
}

TEST(LabelsE2e, SaveReplacesAnExistingLabel) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg, "new\n");
  sb.write("x.kxsaneconfig4", "old old old\n");
  EXPECT_EQ(sb.run({"-s:x"}).out, "");
  EXPECT_EQ(sb.read("x.kxsaneconfig4"), "new\n");
}

TEST(LabelsE2e, SaveWithoutRegistryIsAnInvalidParameter) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  EXPECT_EQ(sb.run({"-s:x"}).out, "Invalid parameter\n");
  EXPECT_EQ(sb.config_entries(), "");
  EXPECT_EQ(sb.tmp_entries(), "");
}

TEST(LabelsE2e, LoadOfMissingLabelLeavesTheRegistry) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg, "kept\n");
  EXPECT_EQ(sb.run({"-l:none"}).out, "Invalid parameter\n");
  EXPECT_EQ(sb.read(kDeviceCfg), "kept\n");
  EXPECT_EQ(sb.config_entries(), "kxsanenetdevice4.cfg\n");
}

TEST(LabelsE2e, LoadOfEmptyLabelEmptiesTheRegistry) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg, "was here\n");
  sb.write("empty.kxsaneconfig4", "");
  EXPECT_EQ(sb.run({"-l:empty"}).out, "");
  EXPECT_EQ(sb.read(kDeviceCfg), "");
}

TEST(LabelsE2e, LabelsLeavingTheDirectoryOrOverrunningThePathAreRefused) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg, "cfg\n");
  for (const std::string& label :
       {std::string("../x"), std::string("../../../../passwd"), std::string("/x"),
        std::string("sub/x"), std::string("x/"), std::string(465, 'l'), std::string(300, 'l')}) {
    SCOPED_TRACE("label: " + label.substr(0, 20));
    for (const char* option : {"-s:", "-l:"}) {
      const RunResult r = run_and_list(sb, "\"$KX\" " + sh_quote(option + label));
      EXPECT_EQ(r.out, std::string("Invalid parameter\n") + kTree) << option;
      EXPECT_EQ(sb.read(kDeviceCfg), "cfg\n");
      EXPECT_EQ(sb.tmp_entries(), "");
    }
  }
}

TEST(LabelsE2e, ShellCharactersInLabelsAreJustFileNames) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  for (const std::string label :
       {"$(touch pwned)", "`touch pwned`", "a;touch pwned", "a|b>c", "it's \"x\"", "..", "*"}) {
    SCOPED_TRACE("label: " + label);
    sb.write(kDeviceCfg, "saved as " + label + "\n");
    const RunResult save = sb.shell("cd /tmp && \"$KX\" " + sh_quote("-s:" + label));
    EXPECT_EQ(save.out, "");
    EXPECT_EQ(sb.tmp_entries(), "");
    EXPECT_EQ(sb.read(label + ".kxsaneconfig4"), "saved as " + label + "\n");
    sb.write(kDeviceCfg, "changed\n");
    // Run from /tmp, where a marker an injected command made would show.
    const RunResult load = sb.shell("cd /tmp && \"$KX\" " + sh_quote("-l:" + label));
    EXPECT_EQ(load.out, "");
    EXPECT_EQ(sb.read(kDeviceCfg), "saved as " + label + "\n");
    EXPECT_EQ(sb.tmp_entries(), "");
  }
}

}  // namespace
}  // namespace kxsane::e2e
