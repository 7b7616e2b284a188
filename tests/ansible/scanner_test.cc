// The kestrel.kxsane collection end to end: real ansible-playbook and
// ansible-doc runs against localhost inside the sandbox, with the built
// binary found on PATH as kxsaneconfig4.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

// Empty when both Ansible programs are on PATH; otherwise the one missing.
std::string missing_ansible_program() {
  for (const char* program : {"ansible-playbook", "ansible-doc"}) {
    bool found = false;
    std::stringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
    for (std::string dir; !found && std::getline(path, dir, ':');)
      found = ::access((dir + "/" + program).c_str(), X_OK) == 0;
    if (!found)
      return program;
  }
  return "";
}

#define KXSANE_REQUIRE_ANSIBLE()                                                  \
  do {                                                                            \
    KXSANE_REQUIRE_SANDBOX();                                                     \
    if (const std::string missing = missing_ansible_program(); !missing.empty())  \
      GTEST_SKIP() << "Ansible test skipped: " << missing << " is not installed"; \
  } while (0)

// Runs `commands` in the sandbox with Ansible's home, temporary files and the
// collection's search path set up, and the binary on PATH as kxsaneconfig4.
RunResult run_with_ansible(Sandbox& sb, const std::string& commands) {
  return sb.shell(
      "mkdir -p /tmp/bin /tmp/home && ln -s \"$KX\" /tmp/bin/kxsaneconfig4 || exit 99\n"
      "export HOME=/tmp/home PATH=\"/tmp/bin:$PATH\" LC_ALL=C.UTF-8 PYTHONDONTWRITEBYTECODE=1\n"
      // Ansible takes "~" in the remote temporary directory as the user's home
      // from the password database, not from HOME.
      "export ANSIBLE_LOCAL_TEMP=/tmp/home/local ANSIBLE_REMOTE_TEMP=/tmp/home/remote\n"
      "export ANSIBLE_COLLECTIONS_PATH=" +
      sh_quote(Sandbox::inside(KXSANE_COLLECTIONS_PATH)) + "\n" + commands);
}

constexpr char kModels[] =
    "[Support Model]\n"
    "0x4ab:0x123, 503, 1, \"KX-100\"\n"
    "0x4ab:0x124, 503, 1, \"KX-200\"\n";
constexpr char kOffice5[] = "DEVICE=office , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.0.0.5 \n";
constexpr char kOffice6[] = "DEVICE=office , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.0.0.6 \n";
constexpr char kLab[] = "DEVICE=lab , \"KX-200\" , 0x4ab:0x124 , NODENAME=KXN_00012 \n";
constexpr char kHall[] = "DEVICE=hall , \"\" , Unknown , NODENAME=h1 \n";

// One task of the playbook and what it must come to.
struct Step {
  const char* name;      // the task's name
  const char* task;      // the rest of the task, in YAML, one key per line
  const char* result;    // what kxsane_summary prints for it after "NAME: "
  std::string registry;  // the device configuration file after it
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return in ? content.str() : "(missing)";
}

TEST(AnsibleScanner, PlaybookRegistersChangesAndRemovesDeclaratively) {
  KXSANE_REQUIRE_ANSIBLE();
  // "-r" leaves an empty line where the removed one was.
  const std::string office6_lab = std::string(kOffice6) + kLab + "\n";
  const std::vector<Step> steps = {
      {"register", "kestrel.kxsane.scanner: {name: office, model: KX-100, ip: 10.0.0.5}",
       "changed\n  device: office \"KX-100\" I:10.0.0.5\n", kOffice5},
      {"the same again", "kestrel.kxsane.scanner: {name: office, model: KX-100, ip: 10.0.0.5}",
       "ok\n  device: office \"KX-100\" I:10.0.0.5\n", kOffice5},
      {"by node name, diff",
       "kestrel.kxsane.scanner: {name: lab, model: KX-200, nodename: KXN_00012}\ndiff: true",
       "changed\n  device: lab \"KX-200\" N:KXN_00012\n"
       "  diff: '' -> 'lab \"KX-200\" N:KXN_00012\\n'\n",
       std::string(kLab) + kOffice5},
      {"new address, diff",
       "kestrel.kxsane.scanner: {name: office, model: KX-100, ip: 10.0.0.6}\ndiff: true",
       "changed\n  device: office \"KX-100\" I:10.0.0.6\n"
       "  diff: 'office \"KX-100\" I:10.0.0.5\\n' -> 'office \"KX-100\" I:10.0.0.6\\n'\n",
       office6_lab},
      {"check mode",
       "kestrel.kxsane.scanner: {name: office, model: KX-200, ip: 10.0.0.7}\ncheck_mode: true",
       "changed\n  device: office \"KX-200\" I:10.0.0.7\n", office6_lab},
      {"bad address, new name",
       "kestrel.kxsane.scanner: {name: hall, model: KX-100, ip: 10.0.0.256}",
       "failed\n  msg: Invalid IP address (10.0.0.256)\n  device: none\n", office6_lab},
      // Refused after the old registration was removed: it is put back.
      {"bad address, registered name",
       "kestrel.kxsane.scanner: {name: office, model: KX-100, ip: 1.2.3}",
       "failed\n  msg: Invalid IP address (1.2.3)\n  device: office \"KX-100\" I:10.0.0.6\n",
       office6_lab},
      // The tool would register "hall" alone.
      {"blank in a value", "kestrel.kxsane.scanner: {name: hall 2, model: KX-100, ip: 10.0.0.8}",
       "failed\n  msg: name must not hold whitespace: 'hall 2'\n", office6_lab},
      {"no model", "kestrel.kxsane.scanner: {name: hall, nodename: h1}",
       "changed\n  device: hall \"\" N:h1\n", kHall + office6_lab},
      {"no model again", "kestrel.kxsane.scanner: {name: hall, nodename: h1}",
       "ok\n  device: hall \"\" N:h1\n", kHall + office6_lab},
      {"info", "kestrel.kxsane.scanner_info:",
       "ok\n  models: KX-100, KX-200\n"
       "  devices: hall \"\" N:h1; office \"KX-100\" I:10.0.0.6; lab \"KX-200\" N:KXN_00012\n",
       kHall + office6_lab},
      {"absent", "kestrel.kxsane.scanner: {name: office, state: absent}",
       "changed\n  device: none\n", std::string(kHall) + "\n" + kLab + "\n"},
      {"absent again", "kestrel.kxsane.scanner: {name: office, state: absent}",
       "ok\n  device: none\n", std::string(kHall) + "\n" + kLab + "\n"},
  };
  Sandbox sb;
  sb.write("Kxsane4.ini", kModels);
  // Each step is followed by a copy of the registry as it left it.
  std::string play =
      "- hosts: localhost\n"
      "  connection: local\n"
      "  gather_facts: false\n"
      "  vars: {ansible_python_interpreter: '{{ ansible_playbook_python }}'}\n"
      "  tasks:\n";
  std::string expected;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    play += std::string("    - name: ") + steps[i].name + "\n";
    std::istringstream lines(steps[i].task);
    for (std::string line; std::getline(lines, line);) play += "      " + line + "\n";
    play +=
        "      ignore_errors: true\n"
        "    - ansible.builtin.command: cp " +
        std::string(kCfgDir) + "/" + kDeviceCfg + " " + Sandbox::inside(sb.work()) + "/after-" +
        std::to_string(i) + "\n";
    expected += std::string(steps[i].name) + ": " + steps[i].result;
  }
  const RunResult r = run_with_ansible(
      sb,
      "cat > /tmp/play.yml <<'EOF'\n" + play +
          "EOF\n"
          "ANSIBLE_CALLBACK_PLUGINS=" +
          sh_quote(Sandbox::inside(KXSANE_ANSIBLE_TEST_DIR "/callback_plugins")) +
          " ANSIBLE_STDOUT_CALLBACK=kxsane_summary ansible-playbook -i localhost, /tmp/play.yml\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, expected);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    EXPECT_EQ(read_file(sb.work() + "/after-" + std::to_string(i)), steps[i].registry)
        << steps[i].name;
  }
  // Nothing left beside the registry, such as the configuration saved while
  // replacing; and nothing was pinged.
  EXPECT_EQ(sb.config_entries(), "Kxsane4.ini\nkxsanenetdevice4.cfg\n");
  EXPECT_EQ(sb.stub_calls(), "");
}

TEST(AnsibleScanner, AnsibleDocRendersBothModules) {
  KXSANE_REQUIRE_ANSIBLE();
  const std::vector<std::pair<std::string, std::vector<std::string>>> modules = {
      {"kestrel.kxsane.scanner",
       {"> KESTREL.KXSANE.SCANNER ", "= name", "- model", "- ip", "- nodename", "- state",
        "- executable", "check_mode:", "diff_mode:", "EXAMPLES:", "RETURN VALUES:", "- device"}},
      {"kestrel.kxsane.scanner_info",
       {"> KESTREL.KXSANE.SCANNER_INFO ", "- executable", "EXAMPLES:", "RETURN VALUES:", "- models",
        "- devices"}},
  };
  Sandbox sb;
  for (const auto& [module, fragments] : modules) {
    const RunResult r = run_with_ansible(sb, "ansible-doc -t module " + module + "\n");
    EXPECT_EQ(r.status, 0) << module;
    EXPECT_EQ(r.err, "") << module;
    for (const auto& fragment : fragments)
      EXPECT_NE(r.out.find(fragment), std::string::npos) << module << ": " << fragment;
  }
}

}  // namespace
}  // namespace kxsane::e2e
