// Fifty concurrent writers for a few seconds: adds, removes and the logging
// switch of distinct names, all at once. The final registry holds exactly
// what the successful commands imply.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

constexpr int kWriters = 50;
constexpr int kSwitchers = 10;  // the last ones switch logging on and off

// Writer i adds w<i>x<k> for k = 0, 1, ... and removes every other name it
// added; each success (a command that prints nothing) is logged as "+name"
// or "-name" in $WORK/load.<i>. A command that waited its bounded time for
// the lock and said so changed nothing, as told: it is logged as "told".
// Every writer makes at least two turns, and goes on until the three seconds
// are over.
// clang-format off
constexpr char kScript[] = R"script(
end=$(( $(date +%s) + 3 ))
log() {
  case $2 in
    '') echo "$1" ;;
    *'locked by another run (waited 15 s)') echo "told $1 $2" ;;
    *) echo "failed $1 $2" ;;
  esac >> "$WORK/load.$i"
}
writer() {
  i=$1 k=0
  while [ "$k" -lt 2 ] || [ "$(date +%s)" -lt "$end" ]; do
    if [ "$i" -ge $(( WRITERS - SWITCHERS )) ]; then
      if [ $(( k % 2 )) -eq 0 ]; then opt=-LI; else opt=-LO; fi
      log "switch $opt" "$("$KX" $opt)"
    else
      name=w${i}x$k
      log "+$name" "$("$KX" -a name=$name model=M-1 ip=10.0.$i.$(( k % 250 )))"
      if [ $(( k % 2 )) -eq 1 ]; then
        old=w${i}x$(( k - 1 ))
        log "-$old" "$("$KX" -r $old)"
      fi
    fi
    k=$(( k + 1 ))
  done
}
n=0
while [ $n -lt "$WRITERS" ]; do writer $n & n=$(( n + 1 )); done
wait
)script";
// clang-format on

TEST(Load, FiftyConcurrentWritersLoseNothing) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write("Kxsane4.ini", "[Support Model]\n0x123,1,0,\"M-1\"\n");
  sb.write(kDeviceCfg, "DEVICE=keep , \"M-1\" , 0x0:0x123 , IP-ADDRESS=10.9.9.9 \n");
  const RunResult r = sb.shell("WRITERS=" + std::to_string(kWriters) +
                               " SWITCHERS=" + std::to_string(kSwitchers) + "\n" + kScript);
  ASSERT_EQ(r.status, 0) << r.err;

  std::set<std::string> expected = {"keep"};
  int operations = 0;
  for (int i = 0; i < kWriters; ++i) {
    std::ifstream log(sb.work() + "/load." + std::to_string(i));
    std::string line;
    while (std::getline(log, line)) {
      ASSERT_NE(line.rfind("failed", 0), 0u) << "writer " << i << ": " << line;
      ++operations;
      if (line[0] == '+')
        expected.insert(line.substr(1));
      if (line[0] == '-')
        expected.erase(line.substr(1));
    }
  }
  EXPECT_GE(operations, 2 * kWriters + (kWriters - kSwitchers));

  std::istringstream registry(sb.read(kDeviceCfg).value_or(""));
  std::multiset<std::string> found;
  std::string line;
  while (std::getline(registry, line)) {
    if (line.empty() || line == "log=/tmp/kx_sane.log , 1 , w")
      continue;
    ASSERT_EQ(line.rfind("DEVICE=", 0), 0u) << line;
    found.insert(line.substr(7, line.find(' ') - 7));
  }
  EXPECT_EQ(found, std::multiset<std::string>(expected.begin(), expected.end()));
  EXPECT_EQ(sb.tmp_entries(), "");
  EXPECT_EQ(sb.shell("ls -A \"$CFG\"\n").out, "Kxsane4.ini\nkxsanenetdevice4.cfg\n");
}

}  // namespace
}  // namespace kxsane::e2e
