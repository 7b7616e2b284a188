// Concurrent add commands on one registry: none loses another's device, and
// a name is registered once.
#include <sstream>

#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

// Starts `count` add commands at once, the i-th with the arguments that
// `args_of` gives for i (1-based), and waits for all of them.
template <typename ArgsOf>
RunResult add_concurrently(Sandbox& sb, int count, ArgsOf args_of) {
  std::string script;
  for (int i = 1; i <= count; ++i) script += "\"$KX\" -a " + args_of(i) + " &\n";
  return sb.shell(script + "wait\n");
}

int count_of(const std::string& text, const std::string& needle) {
  int count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

TEST(AddConcurrency, TwentyDistinctNamesAllLand) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg, "# registry\n");
  const RunResult r = add_concurrently(sb, 20, [](int i) {
    return "name=dev" + std::to_string(i) + " model=m ip=10.0.0." + std::to_string(i);
  });
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
  const std::string registry = sb.read(kDeviceCfg).value_or("");
  for (int i = 1; i <= 20; ++i) {
    const std::string line = "DEVICE=dev" + std::to_string(i) +
                             " , \"m\" , Unknown , IP-ADDRESS=10.0.0." + std::to_string(i) + " \n";
    EXPECT_EQ(count_of(registry, line), 1) << line;
  }
  // Twenty device lines above the old content, nothing else.
  EXPECT_EQ(count_of(registry, "\n"), 21);
  EXPECT_EQ(registry.substr(registry.size() - 11), "# registry\n");
  EXPECT_EQ(sb.tmp_entries(), "");
}

TEST(AddConcurrency, OneNameTenTimesIsRegisteredOnce) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write(kDeviceCfg, "# registry\n");
  const RunResult r = add_concurrently(
      sb, 10, [](int i) { return "name=same model=m ip=10.0.0." + std::to_string(i); });
  EXPECT_EQ(r.status, 0);
  // Nine refusals, one line each, and nothing else.
  std::istringstream lines(r.out);
  std::string line;
  int refusals = 0;
  while (std::getline(lines, line)) {
    EXPECT_EQ(line, "\"same\" is already registered.");
    ++refusals;
  }
  EXPECT_EQ(refusals, 9);
  const std::string registry = sb.read(kDeviceCfg).value_or("");
  EXPECT_EQ(count_of(registry, "DEVICE=same "), 1) << registry;
  EXPECT_EQ(count_of(registry, "\n"), 2) << registry;
  EXPECT_EQ(sb.tmp_entries(), "");
}

}  // namespace
}  // namespace kxsane::e2e
