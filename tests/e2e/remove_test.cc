// The remove command end to end: the whole registry after each call, and
// names that would mean something to sed or to the shell.
#include <filesystem>
#include <set>

#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

namespace fs = std::filesystem;

std::string device(const std::string& name, const std::string& ip = "10.0.0.1") {
  return "DEVICE=" + name + " , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=" + ip + " \n";
}

struct RemoveCase {
  const char* what;
  std::vector<std::string> names;
  std::string before;
  std::string after;
};

TEST(RemoveE2e, WholeRegistryAfterEachCall) {
  KXSANE_REQUIRE_SANDBOX();
  const std::string a = device("a", "10.0.0.1");
  const std::string b = device("b", "10.0.0.2");
  const std::string c = device("c", "10.0.0.3");
  const RemoveCase cases[] = {
      {"two names, each pass over the one before", {"a", "c"}, a + b + c, "\n" + b + "\n"},
      {"no name changes nothing, duplicates included", {}, a + a + "\n\n" + b, a + a + "\n\n" + b},
      {"a prefix of a name removes nothing", {"ab"}, device("abc") + b, device("abc") + b},
      {"a name that is not registered only merges duplicates", {"z"}, a + a + b, a + b},
      {"a name on two lines empties both", {"b"}, b + a + b, "\n" + a + "\n"},
      {"a hand-written line without the blank after the name stays",
       {"a", "b"},
       "DEVICE=a, \"KX-100\", Unknown, IP-ADDRESS=10.0.0.1 \n" + b,
       "DEVICE=a, \"KX-100\", Unknown, IP-ADDRESS=10.0.0.1 \n\n"},
      {"empty lines around the removed line merge into one",
       {"b"},
       a + "\n" + b + "\n" + c,
       a + "\n" + c},
      {"text before the entry on its line stays", {"b"}, "# old " + b + a, "# old \n" + a},
      {"the last line without a line break", {"c"}, a + "DEVICE=c , x", a},
      {"a name holding a line break changes nothing", {"a\nb"}, a + a + b, a + a + b},
  };
  for (const RemoveCase& test : cases) {
    SCOPED_TRACE(test.what);
    Sandbox sb;
    sb.write(kDeviceCfg, test.before);
    std::vector<std::string> args = {"-r"};
    args.insert(args.end(), test.names.begin(), test.names.end());
    const RunResult r = sb.run(args);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(sb.read(kDeviceCfg), test.after);
    EXPECT_EQ(sb.tmp_entries(), "");
    EXPECT_EQ(sb.config_entries(), "kxsanenetdevice4.cfg\n");
  }
}

TEST(RemoveE2e, MissingRegistryIsCreatedEmptyWithTheUsualMode) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  const RunResult r =
      sb.shell("umask 027\n\"$KX\" -r a\nstat -c %a \"$CFG/kxsanenetdevice4.cfg\"\n");
  EXPECT_EQ(r.out, "640\n");
  EXPECT_EQ(sb.read(kDeviceCfg), "");
}

TEST(RemoveE2e, ModeOwnerAndSymbolicLinkAreKept) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write("real.cfg", device("a") + device("b"));
  fs::create_symlink("real.cfg", sb.state_path(kDeviceCfg));
  const RunResult r = sb.shell(
      "chmod 0604 \"$CFG/real.cfg\" && chown 12:34 \"$CFG/real.cfg\" || exit 9\n"
      "\"$KX\" -r a\n"
      "stat -c '%a %u:%g' \"$CFG/real.cfg\"\n");
  EXPECT_EQ(r.out, "604 12:34\n");
  EXPECT_TRUE(fs::is_symlink(sb.state_path(kDeviceCfg)));
  const std::string b = device("b");
  EXPECT_EQ(sb.read("real.cfg"), "\n" + b);
}

// Names that hold characters with a meaning to sed or to the shell are matched
// literally; `kept` are lines that the name would match if it were read as a
// pattern, or that a broken quote would reach.
struct InjectionCase {
  std::string name;
  std::vector<std::string> kept;
};

TEST(RemoveE2e, NamesAreMatchedLiterallyAndNeverRun) {
  KXSANE_REQUIRE_SANDBOX();
  const InjectionCase cases[] = {
      {"a.b", {"axb"}},
      {"a*", {"a", "aaa"}},
      {"a.*", {"abc"}},
      {"[ab]", {"a", "b"}},
      {"^a", {"a"}},
      {"a$", {"a"}},
      {"a\\b", {"a", "ab"}},
      {"a\\", {"a"}},
      {"\\(a\\)\\1", {"aa"}},
      {"a/b", {"a", "b"}},
      {"a&b", {"ab"}},
      {"it's", {"its", "it"}},
      {"say \"hi\"", {"say"}},
      {"$(touch /tmp/pwned)", {"x"}},
      {"`touch /tmp/pwned`", {"x"}},
      {"x; touch /tmp/pwned", {"x"}},
      {"x | touch /tmp/pwned", {"x"}},
      {"x > /tmp/pwned", {"x"}},
      {"x' ; touch /tmp/pwned ; '", {"x"}},
      {"x'$(touch /tmp/pwned)'", {"x"}},
      {"x//;1e touch /tmp/pwned;#", {"x"}},
      {"${HOME}", {"/root", ""}},
      {"a b", {"a"}},
  };
  for (const InjectionCase& test : cases) {
    SCOPED_TRACE("name: " + test.name);
    Sandbox sb;
    std::string kept;
    for (const std::string& name : test.kept) kept += device(name, "10.0.0.9");
    sb.write(kDeviceCfg, "# top\n" + device(test.name) + kept);
    const RunResult r = sb.run({"-r", test.name});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(sb.read(kDeviceCfg), "# top\n\n" + kept);
    // A marker an injected command would make lands in the namespace's /tmp.
    EXPECT_EQ(sb.tmp_entries(), "");
    EXPECT_EQ(sb.config_entries(), "kxsanenetdevice4.cfg\n");
  }
}

}  // namespace
}  // namespace kxsane::e2e
