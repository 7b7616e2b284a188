// Saved configurations end to end: save and load byte for byte, labels that
// would leave the configuration directory or overrun the path.
#include <optional>
#include <string>

#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

// Every name under /etc/opt after the script `then` ran, one per line.
RunResult run_and_list(Sandbox& sb, const std::string& then) {
  return sb.shell(then + "\ncd /etc/opt && find . | LC_ALL=C sort\n");
}

constexpr char kTree[] =
    ".\n./kestrel\n./kestrel/scanner\n./kestrel/scanner/kxscan4\n"
    "./kestrel/scanner/kxscan4/kxsanenetdevice4.cfg\n";

// Saving under each label and loading it back, run from /tmp (where a marker
// an injected command made would show), restores the registry byte for
// byte, and the label file holds the same bytes under its own name.
TEST(LabelsE2e, SaveThenLoadRestoresTheRegistryByteForByte) {
  KXSANE_REQUIRE_SANDBOX();
  const struct {
    std::string label;
    std::string content;
  } kCases[] = {
      {"office", "DEVICE=a , \"KX\xff\" , Unknown , IP-ADDRESS=10.0.0.1 \n\n\nno end"},
      {"", "saved\n"},  // the empty label is a file of its own: ".kxsaneconfig4"
      {"$(touch pwned)", "a\n"},
      {"`touch pwned`", "b\n"},
      {"a;touch pwned", "c\n"},
      {"a|b>c", "d\n"},
      {"it's \"x\"", "e\n"},
      {"..", "f\n"},
      {"*", "g\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE("label: " + c.label);
    Sandbox sb;
    sb.write(kDeviceCfg, c.content);
    EXPECT_EQ(sb.shell("cd /tmp && \"$KX\" " + sh_quote("-s:" + c.label)).out, "");
    EXPECT_EQ(sb.read(c.label + ".kxsaneconfig4"), c.content);
    sb.write(kDeviceCfg, "changed\n");
    EXPECT_EQ(sb.shell("cd /tmp && \"$KX\" " + sh_quote("-l:" + c.label)).out, "");
    EXPECT_EQ(sb.read(kDeviceCfg), c.content);
    EXPECT_EQ(sb.read(c.label + ".kxsaneconfig4"), c.content);
    EXPECT_EQ(sb.tmp_entries(), "");
    EXPECT_EQ(sorted_lines(sb.config_entries()),
              sorted_lines("kxsanenetdevice4.cfg\n" + c.label + ".kxsaneconfig4\n"));
  }
}

// One save or load with the files as given (none: no such file), and what
// it prints and leaves.
TEST(LabelsE2e, SaveAndLoadOfMissingAndExistingFiles) {
  KXSANE_REQUIRE_SANDBOX();
  using File = std::optional<std::string>;
  const struct {
    const char* why;
    const char* option;
    File registry, label;  // before; the label is x.kxsaneconfig4
    const char* out;
    File registry_after, label_after;
  } kCases[] = {
      {"save replaces an existing label", "-s:x", "new\n", "old old old\n", "", "new\n", "new\n"},
      {"save without a registry", "-s:x", {}, {}, "Invalid parameter\n", {}, {}},
      {"load of a missing label", "-l:x", "kept\n", {}, "Invalid parameter\n", "kept\n", {}},
      {"load of an empty label", "-l:x", "was here\n", "", "", "", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.why);
    Sandbox sb;
    if (c.registry)
      sb.write(kDeviceCfg, *c.registry);
    if (c.label)
      sb.write("x.kxsaneconfig4", *c.label);
    EXPECT_EQ(sb.run({c.option}).out, c.out);
    EXPECT_EQ(sb.read(kDeviceCfg), c.registry_after);
    EXPECT_EQ(sb.read("x.kxsaneconfig4"), c.label_after);
    EXPECT_EQ(sb.config_entries(), std::string(c.registry_after ? "kxsanenetdevice4.cfg\n" : "") +
                                       (c.label_after ? "x.kxsaneconfig4\n" : ""));
    EXPECT_EQ(sb.tmp_entries(), "");
  }
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

}  // namespace
}  // namespace kxsane::e2e
