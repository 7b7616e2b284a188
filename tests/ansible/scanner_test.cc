// The kestrel.kxsane collection end to end: real ansible-playbook and
// ansible-doc runs against localhost inside the sandbox, with the built
// binary found on PATH as kxsaneconfig4.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
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
constexpr char kAnnex[] = "DEVICE=annex , \"KX-900\" , Unknown , IP-ADDRESS=10.0.0.9 \n";
constexpr char kFound[] = "DEVICE=KX-200_lab , \"KX-200\" , 0x4ab:0x124 , IP-ADDRESS=10.0.0.7 \n";
constexpr char kLog[] = "log=/tmp/kx_sane.log , 1 , w\n";
constexpr char kLabelFile[] = "before-move.kxsaneconfig4";
constexpr char kMissing[] = "(missing)";

// One task of a playbook and what it must come to.
struct Step {
  const char* name;      // the task's name
  const char* task;      // the rest of the task, in YAML, one key per line
  std::string result;    // what kxsane_summary prints for it after "NAME: "
  std::string registry;  // the device configuration file after it
  // When set, the label file before-move after it (kMissing: none).
  std::optional<std::string> label = std::nullopt;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return in ? content.str() : kMissing;
}

// Runs the steps as one play against localhost in a sandbox whose
// configuration directory holds the models and `registry`, after `setup`
// (shell commands, e.g. stub programs in /tmp/bin), and checks what each
// step printed and left.
void run_playbook(const std::vector<Step>& steps, const std::string& registry,
                  const std::string& setup = "") {
  Sandbox sb;
  sb.write("Kxsane4.ini", kModels);
  if (!registry.empty())
    sb.write(kDeviceCfg, registry);
  std::string play =
      "- hosts: localhost\n"
      "  connection: local\n"
      "  gather_facts: false\n"
      "  vars: {ansible_python_interpreter: '{{ ansible_playbook_python }}'}\n"
      "  tasks:\n";
  std::string expected;
  for (const Step& step : steps) {
    play += std::string("    - name: ") + step.name + "\n";
    std::istringstream lines(step.task);
    for (std::string line; std::getline(lines, line);) play += "      " + line + "\n";
    play += "      ignore_errors: true\n";
    expected += std::string(step.name) + ": " + step.result;
  }
  const std::string snapshots = sb.work() + "/after";
  const RunResult r = run_with_ansible(
      sb, setup + "cat > /tmp/play.yml <<'EOF'\n" + play +
              "EOF\n"
              "ANSIBLE_CALLBACK_PLUGINS=" +
              sh_quote(Sandbox::inside(KXSANE_ANSIBLE_TEST_DIR "/callback_plugins")) +
              " ANSIBLE_STDOUT_CALLBACK=kxsane_summary KXSANE_SNAPSHOT_DIR=" +
              sh_quote(Sandbox::inside(snapshots)) +
              " ansible-playbook -i localhost, /tmp/play.yml\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, expected);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const std::string after = snapshots + "/" + std::to_string(i) + "/";
    EXPECT_EQ(read_file(after + kDeviceCfg), steps[i].registry) << steps[i].name;
    if (steps[i].label) {
      EXPECT_EQ(read_file(after + kLabelFile), *steps[i].label) << steps[i].name;
    }
  }
  // Nothing was pinged.
  EXPECT_EQ(sb.stub_calls(), "");
}

// A text as kxsane_summary shows a diff's side: in single quotes, line
// breaks as "\n".
std::string quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
  return out + "'";
}

constexpr char kNotListed[] =
    " is not listed in the model description files on this host (the closest listed: ";

TEST(AnsibleScanner, PlaybookRegistersChangesAndRemovesDeclaratively) {
  KXSANE_REQUIRE_ANSIBLE();
  const std::string header = std::string("/etc/opt/kestrel/scanner/kxscan4/") + kDeviceCfg + ": ";
  // "-r" leaves an empty line where the removed one was.
  const std::string office6_lab = std::string(kOffice6) + kLab + "\n";
  const std::string annex = kAnnex + office6_lab;
  const std::string refused_model =
      "; set allow_unknown_model to register it with the USB IDs "
      "\"Unknown\"\n";
  const std::vector<Step> steps = {
      {"register", "kestrel.kxsane.scanner: {name: office, model: KX-100, ip: 10.0.0.5}",
       "changed\n  device: office \"KX-100\" I:10.0.0.5\n", kOffice5},
      {"the same again", "kestrel.kxsane.scanner: {name: office, model: KX-100, ip: 10.0.0.5}",
       "ok\n  device: office \"KX-100\" I:10.0.0.5\n", kOffice5},
      {"by node name, diff",
       "kestrel.kxsane.scanner: {name: lab, model: KX-200, nodename: KXN_00012}\ndiff: true",
       "changed\n  device: lab \"KX-200\" N:KXN_00012\n  diff: " + header +
           "'' -> 'lab \"KX-200\" N:KXN_00012\\n'\n",
       std::string(kLab) + kOffice5},
      {"new address, diff",
       "kestrel.kxsane.scanner: {name: office, model: KX-100, ip: 10.0.0.6}\ndiff: true",
       "changed\n  device: office \"KX-100\" I:10.0.0.6\n  diff: " + header +
           "'office \"KX-100\" I:10.0.0.5\\n' -> 'office \"KX-100\" I:10.0.0.6\\n'\n",
       office6_lab},
      {"check mode",
       "kestrel.kxsane.scanner: {name: office, model: KX-200, ip: 10.0.0.7}\ncheck_mode: true",
       "changed\n  device: office \"KX-200\" I:10.0.0.7\n", office6_lab},
      {"bad address, new name",
       "kestrel.kxsane.scanner: {name: hall, model: KX-100, ip: 10.0.0.256}",
       "failed\n  msg: registering \"hall\" (model KX-100, ip 10.0.0.256) failed: "
       "/tmp/bin/kxsaneconfig4 -a name=hall model=KX-100 ip=10.0.0.256 said: "
       "Invalid IP address (10.0.0.256)\n  device: none\n",
       office6_lab},
      // Refused after the old registration was removed: it is put back.
      {"bad address, registered name",
       "kestrel.kxsane.scanner: {name: office, model: KX-100, ip: 1.2.3}",
       "failed\n  msg: registering \"office\" (model KX-100, ip 1.2.3) failed: "
       "/tmp/bin/kxsaneconfig4 -a name=office model=KX-100 ip=1.2.3 said: "
       "Invalid IP address (1.2.3)\n  device: office \"KX-100\" I:10.0.0.6\n",
       office6_lab},
      // The tool would register "hall" alone.
      {"blank in a value", "kestrel.kxsane.scanner: {name: hall 2, model: KX-100, ip: 10.0.0.8}",
       "failed\n  msg: name must not hold whitespace: 'hall 2'\n", office6_lab},
      {"typo", "kestrel.kxsane.scanner: {name: hall, model: KX-1OO, ip: 10.0.0.8}",
       std::string("failed\n  msg: not registering \"hall\": model \"KX-1OO\"") + kNotListed +
           "KX-100)" + refused_model,
       office6_lab},
      {"wrong case, check mode",
       "kestrel.kxsane.scanner: {name: office, model: kx-100, ip: 10.0.0.6}\ncheck_mode: true",
       std::string("failed\n  msg: not registering \"office\": model \"kx-100\"") + kNotListed +
           "KX-100, KX-200)" + refused_model,
       office6_lab},
      {"no model", "kestrel.kxsane.scanner: {name: hall, nodename: h1}",
       "failed\n  msg: state is present but all of the following are missing: model\n",
       office6_lab},
      {"unknown model allowed, check mode",
       "kestrel.kxsane.scanner: {name: annex, model: KX-900, ip: 10.0.0.9, "
       "allow_unknown_model: true}\ncheck_mode: true",
       std::string("changed\n  warning: registering \"annex\" with the USB IDs \"Unknown\": model "
                   "\"KX-900\"") +
           kNotListed + "KX-100, KX-200)\n  device: annex \"KX-900\" I:10.0.0.9\n",
       office6_lab},
      {"unknown model allowed",
       "kestrel.kxsane.scanner: {name: annex, model: KX-900, ip: 10.0.0.9, "
       "allow_unknown_model: true}",
       std::string("changed\n  warning: registering \"annex\" with the USB IDs \"Unknown\": model "
                   "\"KX-900\"") +
           kNotListed + "KX-100, KX-200)\n  device: annex \"KX-900\" I:10.0.0.9\n",
       annex},
      {"info", "kestrel.kxsane.scanner_info:",
       "ok\n  models: KX-100, KX-200\n  devices: annex \"KX-900\" I:10.0.0.9; "
       "office \"KX-100\" I:10.0.0.6; lab \"KX-200\" N:KXN_00012\n",
       annex},
      {"missing executable",
       "kestrel.kxsane.scanner: {name: office, state: absent, executable: /nonexistent}",
       "failed\n  msg: cannot run kxsaneconfig4: the executable /nonexistent does not exist\n",
       annex},
      {"absent", "kestrel.kxsane.scanner: {name: office, state: absent}",
       "changed\n  device: none\n", std::string(kAnnex) + "\n" + kLab + "\n"},
      {"absent again", "kestrel.kxsane.scanner: {name: office, state: absent}",
       "ok\n  device: none\n", std::string(kAnnex) + "\n" + kLab + "\n"},
  };
  run_playbook(steps, "");
}

TEST(AnsibleScanner, PlaybookSwitchesLoggingKeepsLabelsAndRegistersWhatWasFound) {
  KXSANE_REQUIRE_ANSIBLE();
  const std::string dir = "/etc/opt/kestrel/scanner/kxscan4/";
  const std::string start = std::string(kOffice6) + kLab;
  const std::string logging = kLog + start;
  // "-LO" leaves an empty line where the logging line was.
  const std::string no_logging = "\n" + start;
  const std::string label_path = dir + kLabelFile;
  const std::string missing_label =
      "failed\n  msg: cannot restore the label \"other\": there is no " + dir +
      "other.kxsaneconfig4 (saved labels: before-move)\n";
  // kxsanefind4 stand-ins: one that lists a registered scanner that was
  // seen, a new one, an unmatched one and a registered one that was not.
  const std::string setup =
      "mkdir -p /tmp/bin && cat > /tmp/bin/kxsanefind4 <<'EOF' && chmod +x /tmp/bin/kxsanefind4\n"
      "#!/bin/sh\n"
      "[ \"$*\" = '--json --timeout 2 --subnet 10.78.0.0/24' ] || "
      "{ echo \"bad usage: $*\" >&2; exit 2; }\n"
      "echo '[{\"name\": \"office\", \"model\": \"KX-100\", \"announced\": \"Kestrel KX-100\", "
      "\"address\": \"10.0.0.6\", \"host\": \"kx100.local\", \"services\": [\"_uscan._tcp\"], "
      "\"registered\": true},"
      " {\"name\": \"KX-200_lab\", \"model\": \"KX-200\", \"announced\": \"Kestrel KX-200\", "
      "\"address\": \"10.0.0.7\", \"host\": \"kx200.local\", "
      "\"services\": [\"_uscan._tcp\", \"_scanner._tcp\"], \"registered\": false},"
      " {\"name\": \"Laser_9\", \"model\": null, \"announced\": \"Other Laser 9\", "
      "\"address\": \"10.0.0.8\", \"host\": \"l9.local\", \"services\": [\"_scanner._tcp\"], "
      "\"registered\": false},"
      " {\"name\": \"lab\", \"model\": \"KX-200\", \"announced\": \"\", \"address\": \"\", "
      "\"host\": \"\", \"services\": [], \"registered\": true}]'\n"
      "EOF\n"
      "printf '#!/bin/sh\\necho \"no Avahi daemon: start avahi-daemon\" >&2\\nexit 1\\n' "
      "> /tmp/bin/kxsanefind4-broken && chmod +x /tmp/bin/kxsanefind4-broken\n";
  const std::vector<Step> steps = {
      {"logging on, check mode",
       "kestrel.kxsane.scanner_logging: {state: 'on'}\ncheck_mode: true\n"
       "diff: true",
       "changed\n  diff: " + dir + kDeviceCfg + ": " + quoted(start) + " -> " + quoted(logging) +
           "\n",
       start},
      {"logging on", "kestrel.kxsane.scanner_logging: {state: 'on'}", "changed\n", logging},
      {"logging on again", "kestrel.kxsane.scanner_logging: {state: 'on'}", "ok\n", logging},
      {"save, check mode, diff",
       "kestrel.kxsane.scanner_label: {label: before-move}\ncheck_mode: true\ndiff: true",
       "changed\n  diff: " + label_path + ": '' -> " + quoted(logging) + "\n", logging, kMissing},
      {"save", "kestrel.kxsane.scanner_label: {label: before-move}", "changed\n", logging, logging},
      {"save again", "kestrel.kxsane.scanner_label: {label: before-move}", "ok\n", logging,
       logging},
      {"logging off", "kestrel.kxsane.scanner_logging: {state: 'off'}", "changed\n", no_logging},
      {"logging off again", "kestrel.kxsane.scanner_logging: {state: 'off'}", "ok\n", no_logging},
      {"restore, check mode",
       "kestrel.kxsane.scanner_label: {label: before-move, state: restored}\ncheck_mode: true",
       "changed\n", no_logging, logging},
      {"restore", "kestrel.kxsane.scanner_label: {label: before-move, state: restored}",
       "changed\n", logging, logging},
      {"restore again", "kestrel.kxsane.scanner_label: {label: before-move, state: restored}",
       "ok\n", logging, logging},
      {"restore a missing label", "kestrel.kxsane.scanner_label: {label: other, state: restored}",
       missing_label, logging},
      {"drop, check mode, diff",
       "kestrel.kxsane.scanner_label: {label: before-move, state: absent}\ncheck_mode: true\n"
       "diff: true",
       "changed\n  diff: " + label_path + ": " + quoted(logging) + " -> ''\n", logging, logging},
      {"drop", "kestrel.kxsane.scanner_label: {label: before-move, state: absent}", "changed\n",
       logging, kMissing},
      {"drop again", "kestrel.kxsane.scanner_label: {label: before-move, state: absent}", "ok\n",
       logging, kMissing},
      {"discover, check mode",
       "kestrel.kxsane.scanner_discovery: {timeout: 2, subnets: [10.78.0.0/24]}\n"
       "check_mode: true\nregister: found",
       "ok\n  scanners: office 10.0.0.6 KX-100 registered; KX-200_lab 10.0.0.7 KX-200; "
       "Laser_9 10.0.0.8 None; lab  KX-200 registered\n",
       logging},
      {"register what was found",
       "kestrel.kxsane.scanner: {name: '{{ item.name }}', model: '{{ item.model }}', "
       "ip: '{{ item.address }}'}\n"
       "loop: \"{{ found.scanners | rejectattr('registered') | selectattr('model') | list }}\"",
       "changed\n", kFound + logging},
      {"discovery fails",
       "kestrel.kxsane.scanner_discovery: {executable: /tmp/bin/kxsanefind4-broken}",
       "failed\n  msg: finding the scanners on the network failed: /tmp/bin/kxsanefind4-broken "
       "--json --timeout 3 said: status 1: no Avahi daemon: start avahi-daemon\n",
       kFound + logging},
  };
  run_playbook(steps, start, setup);
}

TEST(AnsibleScanner, AnsibleDocRendersEveryModule) {
  KXSANE_REQUIRE_ANSIBLE();
  const std::vector<std::pair<std::string, std::vector<std::string>>> modules = {
      {"kestrel.kxsane.scanner",
       {"> KESTREL.KXSANE.SCANNER ", "= name", "- model", "- allow_unknown_model", "- ip",
        "- nodename", "- state", "- executable",
        "check_mode:", "diff_mode:", "EXAMPLES:", "RETURN VALUES:", "- device"}},
      {"kestrel.kxsane.scanner_info",
       {"> KESTREL.KXSANE.SCANNER_INFO ", "- executable", "EXAMPLES:", "RETURN VALUES:", "- models",
        "- devices"}},
      {"kestrel.kxsane.scanner_logging",
       {"> KESTREL.KXSANE.SCANNER_LOGGING ", "= state", "- executable",
        "check_mode:", "diff_mode:", "EXAMPLES:", "RETURN VALUES:"}},
      {"kestrel.kxsane.scanner_label",
       {"> KESTREL.KXSANE.SCANNER_LABEL ", "= label", "- state", "- executable",
        "check_mode:", "diff_mode:", "EXAMPLES:", "RETURN VALUES:", "- path"}},
      {"kestrel.kxsane.scanner_discovery",
       {"> KESTREL.KXSANE.SCANNER_DISCOVERY ", "- timeout", "- subnets", "- executable",
        "check_mode:", "EXAMPLES:", "RETURN VALUES:", "- scanners"}},
      {"kestrel.kxsane.scanner_watch",
       {"> KESTREL.KXSANE.SCANNER_WATCH ", "- state", "- enabled", "- allow", "- max_new",
        "- gone_after", "check_mode:", "diff_mode:", "EXAMPLES:", "RETURN VALUES:", "- actions"}},
  };
  // One ansible-doc run renders them all, one after the other.
  std::string names;
  for (const auto& [module, fragments] : modules) names += " " + module;
  Sandbox sb;
  const RunResult r = run_with_ansible(sb, "ansible-doc -t module" + names + "\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  for (const auto& [module, fragments] : modules) {
    const std::size_t start = r.out.find(fragments.front());
    ASSERT_NE(start, std::string::npos) << module;
    const std::string page = r.out.substr(start, r.out.find("\n> ", start) - start);
    for (const auto& fragment : fragments)
      EXPECT_NE(page.find(fragment), std::string::npos) << module << ": " << fragment;
  }
}

TEST(AnsibleScanner, AnsibleTestPassesTheCollectionsUnitAndCompileTests) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  const RunResult r =
      sb.shell("sh " + sh_quote(Sandbox::inside(KXSANE_ANSIBLE_TEST_DIR "/ansible_test.sh")) + " " +
               sh_quote(Sandbox::inside(KXSANE_COLLECTION_DIR)) + " \"$WORK/ansible-test\"");
  if (r.status == 77)
    GTEST_SKIP() << r.out;
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

}  // namespace
}  // namespace kxsane::e2e
