// Add and remove commands running at the same time on one registry: every
// change lands, none undoes another's.
#include <set>
#include <sstream>

#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

std::string device(const std::string& name, int host) {
  return "DEVICE=" + name + " , \"m\" , Unknown , IP-ADDRESS=10.0.0." + std::to_string(host) +
         " \n";
}

TEST(RemoveConcurrencyE2e, AddAndRemoveOfDifferentNamesLoseNothing) {
  KXSANE_REQUIRE_SANDBOX();
  constexpr int kEach = 20;
  Sandbox sb;
  std::string registry;
  std::string kept_tail;
  for (int i = 1; i <= kEach; ++i) {
    registry += device("old" + std::to_string(i), i) + device("keep" + std::to_string(i), i);
    kept_tail.append("\n").append(device("keep" + std::to_string(i), i));
  }
  sb.write(kDeviceCfg, registry);

  std::string script;
  for (int i = 1; i <= kEach; ++i) {
    script += "\"$KX\" -a name=new" + std::to_string(i) + " model=m ip=10.0.0." +
              std::to_string(100 + i) + " &\n\"$KX\" -r old" + std::to_string(i) + " &\n";
  }
  const RunResult r = sb.shell(script + "wait\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(sb.tmp_entries(), "");

  // Every new line once, on top in any order; below them every kept line,
  // each behind the empty line its removed neighbour left.
  const std::string after = sb.read(kDeviceCfg).value_or("");
  ASSERT_GE(after.size(), kept_tail.size());
  EXPECT_EQ(after.substr(after.size() - kept_tail.size()), kept_tail);
  std::istringstream head(after.substr(0, after.size() - kept_tail.size()));
  std::set<std::string> added;
  for (std::string line; std::getline(head, line);) added.insert(line + "\n");
  std::set<std::string> expected;
  for (int i = 1; i <= kEach; ++i) expected.insert(device("new" + std::to_string(i), 100 + i));
  EXPECT_EQ(added, expected);
}

}  // namespace
}  // namespace kxsane::e2e
