// The ping sweep, end to end, with the stub ping first on PATH.
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

TEST(PingSweep, LastDeviceFirstAndNodeNameBeforeAddress) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg,
           "DEVICE=first , \"M-1\" , 0x0:0x123 , IP-ADDRESS=10.0.0.5 \n"
           "DEVICE=second , \"M-2\" , Unknown , NODENAME=KXN_00012 \n");
  const RunResult r = sb.run({"-p"});
  EXPECT_EQ(r.out,
            "test second\n"
            "ping KXN_00012 -w 10\n\n"
            "stub ping: KXN_00012 -w 10\n"
            "test first\n"
            "ping 10.0.0.5 -w 10\n\n"
            "stub ping: 10.0.0.5 -w 10\n");
  EXPECT_EQ(sorted_lines(sb.stub_calls()),
            "ping [10.0.0.5] [-w] [10]\nping [KXN_00012] [-w] [10]\n");
  EXPECT_EQ(r.status, 0);
}

TEST(PingSweep, RecordWithoutAddressGetsOnlyItsTestLine) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg, "x=y\nDEVICE=a , \"M\" , U\n");
  const RunResult r = sb.run({"-p"});
  EXPECT_EQ(r.out, "test \ntest \n");
  EXPECT_EQ(sb.stub_calls(), "");
}

TEST(PingSweep, NothingWithoutDevicesOrFile) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  EXPECT_EQ(sb.run({"-p"}).out, "");
  sb.write(kDeviceCfg, "# only a comment\nlog=/tmp/kx_sane.log , 1 , w\n");
  EXPECT_EQ(sb.run({"-p"}).out, "");
  EXPECT_EQ(sb.stub_calls(), "");
}

TEST(PingSweep, HostileTargetsNeverReachTheShell) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg,
           "DEVICE=a , \"M\" , U , NODENAME=$(touch${IFS}/etc/opt/INJECTED) \n"
           "DEVICE=b , \"M\" , U , NODENAME=x;touch${IFS}/etc/opt/INJECTED \n"
           "DEVICE=c , \"M\" , U , NODENAME=-f \n"
           "DEVICE=d , \"M\" , U , IP-ADDRESS=`touch${IFS}/etc/opt/INJECTED` \n"
           "DEVICE=e , \"M\" , U , NODENAME=ok.host \n");
  const RunResult r = sb.shell("\"$KX\" -p; ls /etc/opt/INJECTED 2>/dev/null\n");
  EXPECT_EQ(r.out,
            "test e\n"
            "ping ok.host -w 10\n\n"
            "stub ping: ok.host -w 10\n"
            "test d\n"
            "skipped: \"`touch${IFS}/etc/opt/INJECTED`\" is not a plain host name or IPv4 "
            "address\n"
            "test c\n"
            "skipped: \"-f\" is not a plain host name or IPv4 address\n"
            "test b\n"
            "skipped: \"x;touch${IFS}/etc/opt/INJECTED\" is not a plain host name or IPv4 "
            "address\n"
            "test a\n"
            "skipped: \"$(touch${IFS}/etc/opt/INJECTED)\" is not a plain host name or IPv4 "
            "address\n");
  EXPECT_EQ(sb.stub_calls(), "ping [ok.host] [-w] [10]\n");
}

TEST(PingSweep, OrderHoldsThroughAPipe) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg,
           "DEVICE=a , \"M\" , U , IP-ADDRESS=10.0.0.1 \n"
           "DEVICE=b , \"M\" , U , IP-ADDRESS=10.0.0.2 \n");
  const RunResult r = sb.shell("\"$KX\" -p | cat\n");
  EXPECT_EQ(r.out,
            "test b\nping 10.0.0.2 -w 10\n\nstub ping: 10.0.0.2 -w 10\n"
            "test a\nping 10.0.0.1 -w 10\n\nstub ping: 10.0.0.1 -w 10\n");
}

// Lines for devices d<first> .. d<last> at 10.0.0.<first> .. 10.0.0.<last>.
std::string numbered_devices(int first, int last) {
  std::ostringstream cfg;
  for (int i = first; i <= last; ++i)
    cfg << "DEVICE=d" << i << " , \"M\" , U , IP-ADDRESS=10.0.0." << i << " \n";
  return cfg.str();
}

// A ping to 10.0.0.N prints a line at once and its reply 0.N seconds later,
// so the device swept first answers last; a line goes to standard error.
constexpr char kStaggeredPing[] =
    "#!/bin/sh\n"
    "echo \"PING $1\"\n"
    "echo \"ping error $1\" >&2\n"
    "sleep \"0.${1##*.}\"\n"
    "echo \"reply from $1\"\n";

TEST(PingSweep, SideBySideOutputIsThatOfOnePingAfterTheOther) {
  KXSANE_REQUIRE_SANDBOX();
  struct Case {
    const char* taken_by;
    const char* script;
  };
  const Case kCases[] = {
      {"a file", "\"$KX\" -p\n"},
      {"a pipe", "\"$KX\" -p | cat\n"},
  };
  Sandbox sb;
  // Swept from d9 down; between d5 and d4 a device whose target is skipped
  // and a line that is no device record (listed without any field).
  std::string cfg = numbered_devices(1, 4);
  cfg += "DEVICE=skipped , \"M\" , U , NODENAME=-f \nx=y\n";
  cfg += numbered_devices(5, 9);
  sb.write(kDeviceCfg, cfg);
  sb.add_stub("ping", kStaggeredPing);
  std::ostringstream expected;
  std::ostringstream expected_err;
  for (int i = 9; i >= 1; --i) {
    expected << "test d" << i << "\nping 10.0.0." << i << " -w 10\n\nPING 10.0.0." << i
             << "\nreply from 10.0.0." << i << "\n";
    expected_err << "ping error 10.0.0." << i << "\n";
    if (i == 5) {
      expected << "test \ntest skipped\n"
                  "skipped: \"-f\" is not a plain host name or IPv4 address\n";
    }
  }
  for (const Case& c : kCases) {
    const RunResult r = sb.shell(c.script);
    EXPECT_EQ(r.out, expected.str()) << c.taken_by;
    EXPECT_EQ(sorted_lines(r.err), sorted_lines(expected_err.str())) << c.taken_by;
    EXPECT_EQ(r.status, 0) << c.taken_by;
  }
}

// Each ping notes how many pings run as it starts; the sweep of 40 devices
// must have run at least 8 and never more than 32 at once.
TEST(PingSweep, RunsEightToThirtyTwoPingsAtOnce) {
  KXSANE_REQUIRE_SANDBOX();
  for (const char* option : {"-p", "-d"}) {
    Sandbox sb;
    sb.write(kDeviceCfg, numbered_devices(1, 40));
    sb.add_stub("ping",
                "#!/bin/sh\n"
                "touch \"$WORK/running/$$\"\n"
                "ls \"$WORK/running\" | wc -l >> \"$WORK/counts\"\n"
                "sleep 1\n"
                "rm \"$WORK/running/$$\"\n");
    const RunResult r = sb.shell(std::string("mkdir \"$WORK/running\"\n\"$KX\" ") + option +
                                 " > /dev/null && cat \"$WORK/counts\"\n");
    EXPECT_EQ(r.status, 0) << option;
    std::istringstream counts(r.out);
    int most = 0;
    int started = 0;
    for (int count; counts >> count; ++started) most = std::max(most, count);
    EXPECT_EQ(started, 40) << option;
    EXPECT_GE(most, 8) << option;
    EXPECT_LE(most, 32) << option;
  }
}

// 32 pings of 8 MiB each; the one swept first starts only when every other
// has written 1 MiB. The tool holds about 1 MiB of a ping whose turn has not
// come and leaves the rest in its pipe, and prints what one ping after the
// other would print.
TEST(PingSweep, HoldsAboutAMebibyteOfEachWaitingPing) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg, numbered_devices(1, 32));
  // A writer whose I/O counts are gone has written all and ended.
  sb.add_stub("ping",
              "#!/bin/sh\n"
              "all_written() {\n"
              "  [ \"$(ls \"$WORK/writers\" | wc -l)\" -eq 31 ] || return 1\n"
              "  for f in \"$WORK\"/writers/*; do\n"
              "    pid=$(cat \"$f\"); [ -n \"$pid\" ] || return 1\n"
              "    written=$(sed -n 's/^wchar: //p' /proc/$pid/io 2> /dev/null)\n"
              "    [ \"${written:-1048576}\" -ge 1048576 ] || return 1\n"
              "  done\n"
              "}\n"
              "if [ \"$1\" = 10.0.0.32 ]; then until all_written; do sleep 0.02; done; fi\n"
              "yes \"$1\" | head -c 8388608 & echo $! > \"$WORK/writers/$1\"; wait\n");
  const RunResult r = sb.shell(
      "mkdir \"$WORK/writers\" && \"$KX\" -p | cksum\n"
      "for i in $(seq 32 -1 1); do\n"
      "  printf 'test d%s\\nping 10.0.0.%s -w 10\\n\\n' $i $i; yes 10.0.0.$i | head -c 8388608\n"
      "done | cksum\n");
  // The largest of every process this test waited for, the tool among them;
  // the address sanitizer's own memory would swamp the figure.
  rusage usage{};
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(usage.ru_maxrss, 64 * 1024) << "KiB";
#endif
  std::istringstream sums(r.out);
  std::string swept, one_after_the_other;
  std::getline(sums, swept);
  std::getline(sums, one_after_the_other);
  EXPECT_EQ(swept, one_after_the_other);
  EXPECT_NE(swept, "");
  std::printf("peak memory of the 8 MiB sweep: %ld KiB\n", usage.ru_maxrss);
}

// Starts the sweep of 10 pings that never end, waits until all run and the
// first has printed its line, sends $sig to the tool's process group and
// prints the tool's exit status, "slow" if it took a second or more to end,
// "left <pid>" for each ping still running (a killed ping whose shell is gone
// waits as a zombie for init; it no longer runs), and what the tool printed.
// A job of a script ignores SIGINT unless told otherwise, and setsid makes
// the tool lead a process group of its own, as a terminal's foreground job.
constexpr char kInterruptScript[] =
    "setsid env --default-signal=INT \"$KX\" -p > \"$WORK/out\" &\n"
    "kx=$!\n"
    "for _ in $(seq 100); do\n"
    "  [ \"$(wc -l < \"$WORK/pids\")\" -eq 10 ] && grep -q PING \"$WORK/out\" && break\n"
    "  sleep 0.1\n"
    "done 2> /dev/null\n"
    "t0=$(date +%s%N)\n"
    "kill -$sig -$kx\n"
    "wait $kx\n"
    "echo \"status $?\"\n"
    "t1=$(date +%s%N)\n"
    "[ $(( (t1 - t0) / 1000000 )) -lt 1000 ] || echo slow\n"
    "for pid in $(cat \"$WORK/pids\"); do\n"
    "  state=$(cut -d' ' -f3 /proc/$pid/stat 2> /dev/null)\n"
    "  [ -n \"$state\" ] && [ \"$state\" != Z ] && echo \"left $pid\"\n"
    "done\n"
    "cat \"$WORK/out\"\n";

// Ctrl-C (or SIGTERM, or SIGPIPE from a reader that went away) ends the tool
// by that signal at once, stops every ping, and what was printed stays
// printed.
TEST(PingSweep, SignalEndsTheSweepAtOnceAndLeavesNoPing) {
  KXSANE_REQUIRE_SANDBOX();
  struct Case {
    const char* signal;
    int status;
  };
  const Case kCases[] = {{"INT", 128 + 2}, {"TERM", 128 + 15}, {"PIPE", 128 + 13}};
  for (const Case& c : kCases) {
    Sandbox sb;
    sb.write(kDeviceCfg, numbered_devices(1, 10));
    sb.add_stub("ping",
                "#!/bin/sh\n"
                "echo $$ >> \"$WORK/pids\"\n"
                "echo \"PING $1\"\n"
                "exec sleep 30\n");
    const RunResult r = sb.shell(std::string("sig=") + c.signal + "\n" + kInterruptScript);
    EXPECT_EQ(r.out, "status " + std::to_string(c.status) +
                         "\ntest d10\nping 10.0.0.10 -w 10\n\nPING 10.0.0.10\n")
        << c.signal;
  }
}

}  // namespace
}  // namespace kxsane::e2e
