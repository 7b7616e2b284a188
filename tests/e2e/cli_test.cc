// The command front end, end to end: usage, option codes, exit status.
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

TEST(Cli, UsageForMissingUnknownAndHelpOptions) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"-x"}, {"-ax"}, {"-qq"}, {"--help"}, {"-h"}, {"-H"}, {"-?"}, {"-s"}, {""}, {"-"}}) {
    const RunResult r = sb.run(args);
    EXPECT_EQ(r.out, kUsage) << "args: " << (args.empty() ? "(none)" : args[0]);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

TEST(Cli, InfoOptionPrintsNothing) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  const RunResult r = sb.run({"-i"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
}

TEST(Cli, FailingCommandStillExitsZero) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  const RunResult r = sb.run({"-a", "name=x"});
  EXPECT_EQ(r.out, "Invalid parameter 0\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(sb.tmp_entries(), "");
}

}  // namespace
}  // namespace kxsane::e2e
