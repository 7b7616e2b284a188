// The command front end, end to end: usage, option codes, exit status.
#include <string>
#include <vector>

#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

constexpr char kUsage[] =
    "USAGE: kxsaneconfig4 [-OPTION]   OPTION:\n"
    "       -a name=FRIENDLY-NAME model=MODEL-NAME ip=xx.xx.xx.xx    \n"
    "       -a name=FRIENDLY-NAME model=MODEL-NAME nodename=KXN_xxxxx \n"
    "                   : Add network scanner\n"
    "       -r FRIENDLY-NAME [FRIENDLY-NAME ...]\n"
    "                   : Remove network scanner\n"
    "       -q          : Query supported models and available network scanners\n"
    "       -d          : Diagnosis\n"
    "       -p          : Ping (for network scanners)  \n"
    "       -s:[LABEL]  : Save current configuration\n"
    "       -l:[LABEL]  : Load saved configuration\n";

// Each argument list and what the run prints; every run exits 0 and leaves
// nothing in /tmp.
TEST(Cli, EachOptionPrintsItsOutputAndExitsZero) {
  KXSANE_REQUIRE_SANDBOX();
  const struct {
    std::vector<std::string> args;
    const char* out;
  } kCases[] = {
      {{}, kUsage},
      {{"-x"}, kUsage},
      {{"-ax"}, kUsage},
      {{"-qq"}, kUsage},
      {{"--help"}, kUsage},
      {{"-h"}, kUsage},
      {{"-H"}, kUsage},
      {{"-?"}, kUsage},
      {{"-s"}, kUsage},
      {{""}, kUsage},
      {{"-"}, kUsage},
      {{"-i"}, ""},
      {{"-a", "name=x"}, "Invalid parameter 0\n"},  // a failing command
  };
  Sandbox sb;
  for (const auto& c : kCases) {
    SCOPED_TRACE("args: " + (c.args.empty() ? std::string("(none)") : c.args[0]));
    const RunResult r = sb.run(c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(sb.tmp_entries(), "");
  }
}

}  // namespace
}  // namespace kxsane::e2e
