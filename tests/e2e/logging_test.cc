// The logging switch end to end: the whole registry after each call.
#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

constexpr char kLogging[] = "log=/tmp/kx_sane.log , 1 , w\n";
constexpr char kDevice[] = "DEVICE=a , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.0.0.1 \n";

struct LoggingCase {
  const char* what;
  std::vector<std::string> options;  // one run each, in order
  std::string before;
  std::string after;
};

TEST(LoggingE2e, WholeRegistryAfterEachCall) {
  KXSANE_REQUIRE_SANDBOX();
  const std::string dev = kDevice;
  const std::string log = kLogging;
  const LoggingCase cases[] = {
      {"-LI puts the line at the top", {"-LI"}, dev, log + dev},
      {"-LI twice leaves one line at the top", {"-LI", "-LI"}, dev, log + dev},
      {"-LI keeps a line further down where it is", {"-LI"}, dev + log, log + dev + log},
      {"-LI on a missing registry makes it of the line alone", {"-LI"}, "", log},
      {"-LO empties the line and what follows the entry",
       {"-LO"},
       log + dev + "# was log=/x , 2 , r\n",
       "\n" + dev + "# was \n"},
      {"-LO without a logging line merges duplicates only",
       {"-LO"},
       dev + dev + "\n\n",
       dev + "\n"},
      {"-LI then -LO leaves an empty first line", {"-LI", "-LO"}, dev, "\n" + dev},
  };
  for (const LoggingCase& test : cases) {
    SCOPED_TRACE(test.what);
    Sandbox sb;
    if (!test.before.empty())
      sb.write(kDeviceCfg, test.before);
    for (const std::string& option : test.options) {
      const RunResult r = sb.run({option});
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(sb.tmp_entries(), "");
    }
    EXPECT_EQ(sb.read(kDeviceCfg), test.after);
  }
}

}  // namespace
}  // namespace kxsane::e2e
