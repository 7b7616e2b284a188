// The tool as root among files, links, signals and environments that someone
// else may have prepared. One test per kind of threat, its cases in a table;
// each case is a script run in the sandbox, and its output (the tool's and
// what the script checks afterwards) must be exactly as given. Every run of
// the tool is bounded by `timeout`, so a tool that blocks fails instead of
// hanging the suite.
#include <csignal>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

#define REGISTRY "/etc/opt/kestrel/scanner/kxscan4//kxsanenetdevice4.cfg"
#define UNCHANGED "Could not update " REGISTRY ", it was left unchanged: "
constexpr char kOld[] = "DEVICE=old , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n";
constexpr char kNew[] = "DEVICE=new , \"M\" , Unknown , IP-ADDRESS=10.0.0.2 \n";
constexpr char kAdd[] = "timeout 20 \"$KX\" -a name=new model=M ip=10.0.0.2\n";

struct Case {
  std::string name;
  std::string script;    // setup, the tool, then checks that print
  std::string expected;  // standard output of the whole script
};

// Runs every case in a fresh sandbox whose registry holds kOld.
void run_cases(const std::vector<Case>& cases, const std::string& registry = kOld) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox sb;
    sb.write(kDeviceCfg, registry);
    const RunResult r = sb.shell(std::string("cd \"$CFG\"\n") + c.script);
    EXPECT_EQ(r.out, c.expected) << r.err;
    EXPECT_EQ(sb.tmp_entries(), "");
  }
}

TEST(RootSafety, SpecialFilesAreNeitherWaitedForNorWritten) {
  KXSANE_REQUIRE_SANDBOX();
  // Null and zero devices of the sandbox's own: a tool that wrote through a
  // link to the machine's /dev/null would replace it with a regular file.
  const std::string kDevices = "mknod /etc/opt/null c 1 3 && mknod /etc/opt/zero c 1 5\n";
  run_cases({
      {"registry a FIFO: -a",
       "rm kxsanenetdevice4.cfg && mkfifo kxsanenetdevice4.cfg\n"
       "timeout 20 \"$KX\" -a name=new model=M ip=10.0.0.2; test -p kxsanenetdevice4.cfg && echo "
       "fifo\n",
       UNCHANGED REGISTRY ": not a regular file\nfifo\n"},
      {"registry a FIFO: -q -p -r -LI -LO",
       "rm kxsanenetdevice4.cfg && mkfifo kxsanenetdevice4.cfg\n"
       "for o in -q -p '-r old' -LI -LO; do timeout 20 \"$KX\" $o 2>&1; done\n",
       "kxsaneconfig4: " REGISTRY
       ": not a regular file\n\nDevices on network\nkxsaneconfig4: " REGISTRY
       ": not a regular file\n" UNCHANGED REGISTRY ": not a regular file\n" UNCHANGED REGISTRY
       ": not a regular file\n" UNCHANGED REGISTRY ": not a regular file\n"},
      {"registry linked to a null device",
       kDevices + "ln -sf /etc/opt/null kxsanenetdevice4.cfg\n" + kAdd +
           "test -c /etc/opt/null && echo device\n",
       UNCHANGED REGISTRY ": not a regular file\ndevice\n"},
      {"registry a device node",
       "rm kxsanenetdevice4.cfg && mknod kxsanenetdevice4.cfg c 1 3\n"
       "timeout 20 \"$KX\" -r old; test -c kxsanenetdevice4.cfg && echo device\n",
       UNCHANGED REGISTRY ": not a regular file\ndevice\n"},
      {"label a FIFO",
       "mkfifo l.kxsaneconfig4\n"
       "timeout 20 \"$KX\" -s:l; timeout 20 \"$KX\" -l:l; test -p l.kxsaneconfig4 && echo fifo\n"
       "cat kxsanenetdevice4.cfg\n",
       std::string("Invalid parameter\nInvalid parameter\nfifo\n") + kOld},
      {"label linked to a zero device",
       kDevices + "ln -s /etc/opt/zero z.kxsaneconfig4\n"
                  "timeout 20 \"$KX\" -l:z; timeout 20 \"$KX\" -s:z; cat kxsanenetdevice4.cfg\n",
       std::string("Invalid parameter\nInvalid parameter\n") + kOld},
      {"model files a FIFO and a zero device",
       kDevices + "mkfifo Kxsane4.ini && mkdir -p models4 && ln -s /etc/opt/zero models4/z.ini\n"
                  "timeout 20 \"$KX\" -q\n",
       "\nDevices on network\n  0 old                 \"M\"                 I:10.0.0.1\n"},
      {"-D3 shows no content of a FIFO, and says so",
       "rm kxsanenetdevice4.cfg && mkfifo kxsanenetdevice4.cfg\n"
       "mkdir -p models4 && timeout 20 \"$KX\" -D3 2> /etc/opt/err | grep -A1 "
       "'kxsanenetdevice4.cfg:$'; grep '^cat: .*cfg' /etc/opt/err\n",
       REGISTRY ":\n-----------------------------\ncat: " REGISTRY ": not a regular file\n"},
      {"a model file that reads only in part refuses -a",
       "mkdir -p models4 && ln -s /proc/self/mem models4/mem.ini\n" + std::string(kAdd) +
           "cat kxsanenetdevice4.cfg\n",
       UNCHANGED "/etc/opt/kestrel/scanner/kxscan4//models4/mem.ini: Input/output error\n" +
           std::string(kOld)},
  });
}

TEST(RootSafety, LinksPlacedByOthersAreNotFollowed) {
  KXSANE_REQUIRE_SANDBOX();
  // A user (4242) owns a directory the registry is linked into, and puts
  // there a link of their own to a file only root may read.
  const std::string user_dir =
      "mkdir -m 0700 /etc/opt/secret && echo secret > /etc/opt/secret/shadow\n"
      "mkdir /etc/opt/user && chown 4242 /etc/opt/user\n"
      "ln -s /etc/opt/secret/shadow /etc/opt/user/reg && chown -h 4242 /etc/opt/user/reg\n"
      "ln -sf /etc/opt/user/reg kxsanenetdevice4.cfg\n";
  run_cases({
      {"registry through a user's link: -a", (user_dir + kAdd + "cat /etc/opt/secret/shadow\n"),
       UNCHANGED REGISTRY ": leads through a symbolic link owned by user 4242\nsecret\n"},
      {"registry through a user's link: -s: -q",
       (user_dir + "timeout 20 \"$KX\" -s:out; timeout 20 \"$KX\" -q; ls\n"),
       "Invalid parameter\n\nDevices on network\nkxsanenetdevice4.cfg\n"},
      {"label a user's link in a directory of mode 0777",
       "chmod 0777 . && ln -s /etc/opt/shadow l.kxsaneconfig4 && chown -h 4242 l.kxsaneconfig4\n"
       "echo secret > /etc/opt/shadow\n"
       "timeout 20 \"$KX\" -s:l; timeout 20 \"$KX\" -l:l; cat /etc/opt/shadow "
       "kxsanenetdevice4.cfg\n",
       std::string("Invalid parameter\nInvalid parameter\nsecret\n") + kOld},
      {"a directory of mode 0777 is used as it is",
       (std::string("chmod 0777 .\n") + kAdd + "cat kxsanenetdevice4.cfg\n"),
       (std::string(kNew) + kOld)},
      {"root's own link is followed",
       (std::string("mv kxsanenetdevice4.cfg real.cfg && "
                    "ln -s real.cfg kxsanenetdevice4.cfg\n") +
        kAdd + "cat real.cfg\n"),
       (std::string(kNew) + kOld)},
  });
}

// Every signal that ends the tool, sent while each command is in the middle
// of its change: the pipeline's uniq or the ping (stubs that announce
// themselves in a FIFO and wait), or the first fsync of a change that starts
// no child (held by a preloaded shim). The tool must end by that signal and
// leave the registry and the label whole, the configuration directory and
// /tmp as they were, and no child running. One sandbox per command; a line
// per signal.
TEST(RootSafety, EverySignalDuringEveryChangeLeavesNothingBehind) {
  KXSANE_REQUIRE_SANDBOX();
  const std::pair<const char*, int> kSignals[] = {
      {"HUP", SIGHUP},   {"INT", SIGINT},   {"QUIT", SIGQUIT}, {"TERM", SIGTERM},
      {"USR1", SIGUSR1}, {"USR2", SIGUSR2}, {"ALRM", SIGALRM}, {"VTALRM", SIGVTALRM},
      {"PROF", SIGPROF}, {"XCPU", SIGXCPU}, {"PIPE", SIGPIPE}};
  const char* const kCommands[] = {
      "-a name=new model=M ip=10.0.0.2", "-r old", "-LI", "-LO", "-s:l", "-l:l", "-p"};
  const std::string hold = "#!/bin/sh\necho $$ > /etc/opt/hold\nexec sleep 30\n";
  // `env --default-signal` undoes the shell's ignoring of SIGINT and SIGQUIT
  // in a background job.
  const std::string each_signal =
      "cp kxsanenetdevice4.cfg /etc/opt/registry && mkfifo /etc/opt/hold\n"
      "for sig in $SIGNALS; do\n"
      "  env --default-signal LD_PRELOAD=" +
      sh_quote(Sandbox::inside(KXSANE_HOLD_FSYNC)) +
      " KXSANE_HOLD_FIFO=/etc/opt/hold ASAN_OPTIONS=verify_asan_link_order=0 \"$KX\" $COMMAND "
      "> /dev/null &\n"
      "  kx=$!; held=$(timeout 10 cat /etc/opt/hold)\n"
      "  kill -$sig $kx; wait $kx; status=$?\n"
      // Gone, or a zombie that only waits for init to reap it, within a
      // second: a killed process may take a moment to end.
      "  left=' left'; for _ in $(seq 100); do\n"
      "    stat=; read -r stat < /proc/$held/stat 2> /dev/null; stat=${stat##*) }\n"
      "    [ -z \"$stat\" ] || [ \"${stat%% *}\" = Z ] && left= && break; sleep 0.01\n"
      "  done\n"
      "  cmp -s kxsanenetdevice4.cfg /etc/opt/registry && cmp -s l.kxsaneconfig4 /etc/opt/label "
      "&& whole=whole || whole=torn\n"
      "  echo $sig $status $whole $(ls -A) $(ls -A /tmp)$left\n"
      "done\n";
  std::string signals;
  std::string expected;
  for (const auto& [name, number] : kSignals) {
    signals += std::string(" ") + name;
    expected += std::string(name) + " " + std::to_string(128 + number) +
                " whole kxsanenetdevice4.cfg l.kxsaneconfig4\n";
  }
  for (const char* command : kCommands) {
    SCOPED_TRACE(command);
    Sandbox sb;
    sb.write(kDeviceCfg, kOld);
    sb.write("l.kxsaneconfig4", kNew);
    sb.add_stub("uniq", hold);
    sb.add_stub("ping", hold);
    std::string script = "cd \"$CFG\" && cp l.kxsaneconfig4 /etc/opt/label\nSIGNALS='";
    script.append(signals).append("'\nCOMMAND='").append(command).append("'\n").append(each_signal);
    const RunResult r = sb.shell(script);
    EXPECT_EQ(r.out, expected) << r.err;
  }
}

TEST(RootSafety, ChildShellsTakeNoShellSettingsFromTheCaller) {
  KXSANE_REQUIRE_SANDBOX();
  // Several variables make the pipeline run code of the caller's, or write
  // something else into the registry; a uniq found through a relative PATH
  // entry would replace it. The uniq that is run notes its environment, which
  // must hold none of the variables, and only absolute PATH entries.
  const std::string setup =
      "printf 'touch /etc/opt/marker\\n' > /etc/opt/rc\n"
      "mkdir /etc/opt/cwd && printf '#!/bin/sh\\necho hacked\\n' > /etc/opt/cwd/uniq\n"
      "printf '#!/bin/sh\\nenv > /etc/opt/env\\nexec /usr/bin/uniq \"$@\"\\n' > "
      "\"$WORK/stubs/uniq\"\n"
      "chmod +x /etc/opt/cwd/uniq \"$WORK/stubs/uniq\"\n";
  const std::string run = " timeout 20 \"$KX\" -a name=new model=M ip=10.0.0.2\n";
  const std::string check =
      "cd \"$CFG\"; cat kxsanenetdevice4.cfg; ls /etc/opt/marker 2>/dev/null\n"
      "grep -E '^(BASH_FUNC_|(BASH_ENV|ENV|SHELLOPTS|BASHOPTS|PS4|BASH_XTRACEFD|IFS|CDPATH|"
      "GLOBIGNORE)=)' /etc/opt/env\n"
      "sed -n 's/^PATH=//p' /etc/opt/env | tr : '\\n' | grep -v '^/'\n";
  std::vector<Case> cases;
  for (const char* assignment : {
           "'BASH_FUNC_uniq%%=() { echo hacked; }'",
           "BASH_ENV=/etc/opt/rc",
           "ENV=/etc/opt/rc",
           "SHELLOPTS=xtrace BASH_XTRACEFD=1",
           "BASHOPTS=extdebug",
           "'PS4=$(touch /etc/opt/marker)'",
           "IFS=/",
           "CDPATH=/etc/opt",
           "GLOBIGNORE='*'",
           "PATH=\".:$PATH\"",
           "PATH=\":$PATH\"",
           "PATH=\"../cwd:$PATH\"",
       }) {
    cases.push_back({assignment, setup + "cd /etc/opt/cwd && env " + assignment + run + check,
                     std::string(kNew) + kOld});
  }
  run_cases(cases);
}

TEST(RootSafety, LockWaitIsBoundedAndSaid) {
  KXSANE_REQUIRE_SANDBOX();
  run_cases({{"held lock",
              "flock \"$CFG\" sleep 30 & holder=$!\n"
              "until ! flock -n \"$CFG\" true; do sleep 0.05; done\n"
              "start=$(date +%s)\n"
              "timeout 25 \"$KX\" -a name=new model=M ip=10.0.0.2\n"
              "waited=$(( $(date +%s) - start )); [ $waited -ge 14 ] && [ $waited -le 18 ] && echo "
              "bounded\n"
              "kill $holder; cat kxsanenetdevice4.cfg\n",
              UNCHANGED "the registry is locked by another run (waited 15 s)\nbounded\n" +
                  std::string(kOld)}});
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

TEST(RootSafety, RegistryReadInPartIsNotChanged) {
  KXSANE_REQUIRE_SANDBOX();
  if (kAddressSanitizer)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
  // 150,000 devices; under the limit the list loads only in part, and the
  // name registered last would look free.
  std::string registry;
  for (int i = 0; i < 150000; ++i) {
    registry += "DEVICE=dev" + std::to_string(i) + " , \"M\" , Unknown , IP-ADDRESS=10.0." +
                std::to_string(i / 250 % 250) + "." + std::to_string(i % 250) + " \n";
  }
  Sandbox sb;
  sb.write(kDeviceCfg, registry);
  // The least address space the tool starts in, and 2 MB more.
  const RunResult r = sb.shell(
      "kb=2000; until (ulimit -v $kb; \"$KX\" -i) 2>/dev/null; do kb=$((kb + 500)); done\n"
      "(ulimit -v $((kb + 2000)); timeout 20 \"$KX\" -a name=dev149999 model=M ip=10.0.0.2)\n");
  EXPECT_EQ(r.out, UNCHANGED "out of memory reading " REGISTRY "\n") << r.err;
  EXPECT_TRUE(sb.read(kDeviceCfg) == registry);
  EXPECT_EQ(sb.tmp_entries(), "");
}

TEST(RootSafety, RewriteKeepsTheAccessAcl) {
  KXSANE_REQUIRE_SANDBOX();
  const std::string acl =
      "setfacl -m u:4242:rw,g:4243:r kxsanenetdevice4.cfg && getfacl -cp kxsanenetdevice4.cfg > "
      "/etc/opt/acl\n";
  const std::string same =
      "getfacl -cp kxsanenetdevice4.cfg | cmp -s - /etc/opt/acl && echo same\n";
  run_cases({
      {"-a", acl + kAdd + same, "same\n"},
      {"-r", acl + "timeout 20 \"$KX\" -r old\n" + same, "same\n"},
      {"-l:", acl + "cp kxsanenetdevice4.cfg l.kxsaneconfig4 && timeout 20 \"$KX\" -l:l\n" + same,
       "same\n"},
  });
}

TEST(RootSafety, NothingIsOpenedForWritingByNameButNewFiles) {
  KXSANE_REQUIRE_SANDBOX();
  if (std::system("strace -V > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "strace is not installed";
  // Every open of the tool and of the shells it starts, for each command that
  // writes; an open that may write (or create) a file must create a new one
  // exclusively. (The shell tries the terminal, a device.)
  const std::string trace =
      "strace -f -qq -e trace=open,openat,openat2,creat -o /etc/opt/trace timeout 20 \"$KX\" ";
  const std::string writes =
      "grep -E 'O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|O_APPEND|creat\\(' /etc/opt/trace | grep -v "
      "'O_EXCL' | grep -v '\"/dev/'\n";
  std::vector<Case> cases;
  for (const char* command :
       {"-a name=new model=M ip=10.0.0.2", "-r old", "-LI", "-LO", "-s:l", "-l:l"}) {
    cases.push_back({command,
                     "cp kxsanenetdevice4.cfg l.kxsaneconfig4\n" + trace + command + "\n" + writes,
                     ""});
  }
  run_cases(cases);
}

}  // namespace
}  // namespace kxsane::e2e
