#include "e2e/sandbox.h"

#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "support/wait_for.h"

namespace kxsane::e2e {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void write_file(const std::string& path, const std::string& content, bool executable = false) {
  fs::create_directories(fs::path(path).parent_path());
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
  }
  if (executable)
    ::chmod(path.c_str(), 0755);
}

using kxsane::testing::wait_for;

// Runs argv and returns its exit status (-1 when it cannot run or is killed).
int spawn_and_wait(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
    return -1;
  return wait_for(pid);
}

bool under_tmp(const std::string& path) {
  return path.rfind("/tmp/", 0) == 0;
}

// Where the host's /tmp is bound inside the namespace.
constexpr char kHostTmpInside[] = "/mnt";

std::string stub_script(const std::string& name, const std::string& work) {
  // The call is appended as one line in one write: stubs may run side by
  // side.
  return "#!/bin/sh\n"
         "call=" +
         sh_quote(name) +
         "; for a in \"$@\"; do call=\"$call [$a]\"; done\n"
         "printf '%s\\n' \"$call\" >> " +
         sh_quote(Sandbox::inside(work + "/stub-calls")) +
         "\n"
         "printf 'stub " +
         name + ": %s\\n' \"$*\"\n";
}

// Directories of links to every program on the test's PATH but some, made
// once per process and set of hidden programs (a few thousand links each),
// and removed when the process ends.
class LinkFarms {
 public:
  ~LinkFarms() {
    std::error_code ignored;
    for (const auto& [hidden, dir] : dirs_) fs::remove_all(dir, ignored);
  }
  std::map<std::set<std::string>, std::string>& dirs() { return dirs_; }

 private:
  std::map<std::set<std::string>, std::string> dirs_;
};

// A directory of links to every program on the test's PATH except `hidden`.
std::string path_without(const std::vector<std::string>& hidden) {
  static LinkFarms farms;
  const std::set<std::string> skip(hidden.begin(), hidden.end());
  std::string& dir = farms.dirs()[skip];
  if (!dir.empty())
    return Sandbox::inside(dir);
  dir = std::string(KXSANE_E2E_WORK_ROOT) + "/path-without." + std::to_string(::getpid());
  for (const auto& name : skip) dir += "-" + name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::stringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
  std::string entry;
  while (std::getline(path, entry, ':')) {
    std::error_code ec;
    for (const auto& program : fs::directory_iterator(entry, ec)) {
      const std::string name = program.path().filename();
      if (skip.count(name) != 0)
        continue;
      std::error_code ignored;
      const fs::path link = fs::path(dir) / name;
      if (fs::exists(fs::symlink_status(link, ignored)))
        continue;
      fs::create_symlink(program.path(), link, ignored);
    }
  }
  return Sandbox::inside(dir);
}

// Runs /bin/sh `script_path` (a path as the namespace sees it, see
// Sandbox::inside) in a new private mount namespace that has the
// host's /tmp bound at /mnt, fresh tmpfs mounts over /etc/opt and /tmp, and
// /etc/opt/kestrel/scanner; returns the script's exit status, 88 when the
// namespace could not be made, -1 when nothing could run. The namespace is
// set up here rather than by unshare(1) and mount(8): a test makes hundreds
// of runs, and each program started costs more than the system calls.
int run_in_namespace(const std::string& script_path) {
  const char* argv[] = {"/bin/sh", script_path.c_str(), nullptr};
  const pid_t pid = fork();
  if (pid < 0)
    return -1;
  if (pid == 0) {
    const bool ready = ::unshare(CLONE_NEWNS) == 0 &&
                       ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                       ::mount("/tmp", kHostTmpInside, nullptr, MS_BIND | MS_REC, nullptr) == 0 &&
                       ::mount("kxsane-etc", "/etc/opt", "tmpfs", 0, "mode=0755") == 0 &&
                       ::mount("kxsane-tmp", "/tmp", "tmpfs", 0, "mode=1777") == 0 &&
                       ::mkdir("/etc/opt/kestrel", 0755) == 0 &&
                       ::mkdir("/etc/opt/kestrel/scanner", 0755) == 0;
    if (!ready)
      _exit(88);
    ::execv(argv[0], const_cast<char**>(argv));
    _exit(127);
  }
  return wait_for(pid);
}

}  // namespace

std::string registry_of_size(std::size_t bytes, std::string head) {
  std::string content = std::move(head);
  for (int i = 0; content.size() + 70 < bytes; ++i) {
    content += "DEVICE=dev" + std::to_string(i) + " , \"KX-100\" , 0x4ab:0x123 , IP-ADDRESS=10.0." +
               std::to_string(i / 250) + "." + std::to_string(i % 250) + " \n";
  }
  return content;
}

std::string sorted_lines(const std::string& text) {
  std::multiset<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) lines.insert(line);
  std::string out;
  for (const auto& line : lines) out += line + "\n";
  return out;
}

std::string sh_quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

Sandbox::Sandbox() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  work_ = std::string(KXSANE_E2E_WORK_ROOT) + "/" + info->test_suite_name() + "." + info->name();
  fs::remove_all(work_);
  fs::create_directories(work_ + "/state/kxscan4");
  ::chmod((work_ + "/state/kxscan4").c_str(), 0755);
  for (const char* stub : {"ping", "sane-find-scanner", "scanimage"}) {
    write_file(work_ + "/stubs/" + stub, stub_script(stub, work_), true);
  }
}

Sandbox::~Sandbox() {
  if (!::testing::Test::HasFailure()) {
    std::error_code ignored;
    fs::remove_all(work_, ignored);
  }
}

const std::string& Sandbox::unavailable_reason() {
  static const std::string reason = [] {
    if (::geteuid() != 0)
      return std::string("not running as root, so no mount namespace");
    if (!fs::is_directory("/etc/opt") || !fs::is_directory(kHostTmpInside))
      return std::string("/etc/opt or ") + kHostTmpInside + " does not exist";
    const int status = run_in_namespace("/dev/null");
    if (status != 0) {
      return std::string("cannot make a private mount namespace with tmpfs mounts (unshare)");
    }
    return std::string();
  }();
  return reason;
}

void Sandbox::write(const std::string& rel, const std::string& content) {
  write_file(state_path(rel), content);
}

std::optional<std::string> Sandbox::read(const std::string& rel) const {
  return read_file(state_path(rel));
}

void Sandbox::remove(const std::string& rel) {
  fs::remove_all(state_path(rel));
}

std::string Sandbox::inside(const std::string& host_path) {
  return under_tmp(host_path) ? kHostTmpInside + host_path.substr(4) : host_path;
}

std::string Sandbox::state_path(const std::string& rel) const {
  return rel.empty() ? work_ + "/state/kxscan4" : work_ + "/state/kxscan4/" + rel;
}

RunResult Sandbox::run(const std::vector<std::string>& args, const RunOptions& options) {
  std::string script = "\"$KX\"";
  for (const auto& arg : args) script.append(" ").append(sh_quote(arg));
  return shell(script + "\n", options);
}

RunResult Sandbox::shell(const std::string& script, const RunOptions& options) {
  const std::string w = sh_quote(inside(work_));
  std::string path = "\"$WORK/stubs:$PATH\"";
  if (!options.hidden_tools.empty()) {
    path = "\"$WORK/stubs:" + path_without(options.hidden_tools) + "\"";
  }
  std::string runner =
      "set -u\n"
      "WORK=" +
      w +
      "\n"
      "CFG=" +
      std::string(kCfgDir) + "\n";
  if (!options.config_fs_size.empty()) {
    runner += "mkdir \"$CFG\" && mount -t tmpfs -o size=" + options.config_fs_size +
              ",mode=0755 kxsane-cfg \"$CFG\" || exit 92\n"
              "cp -a \"$WORK/state/kxscan4/.\" \"$CFG/\" || exit 93\n";
  } else {
    runner += "cp -a \"$WORK/state/kxscan4\" \"$CFG\" || exit 93\n";
  }
  if (options.read_only_config) {
    runner += "mount --bind \"$CFG\" \"$CFG\" && mount -o remount,bind,ro \"$CFG\" || exit 94\n";
  }
  runner += "KX=" + sh_quote(inside(KXSANE_BINARY)) +
            "\n"
            "PATH=" +
            path +
            "\n"
            "export KX CFG WORK PATH\n"
            "cd /\n"
            "/bin/sh \"$WORK/script.sh\" > \"$WORK/stdout\" 2> \"$WORK/stderr\"\n"
            "echo $? > \"$WORK/status\"\n"
            "cp -a \"$CFG\" \"$WORK/state-after\" || exit 95\n"
            "LC_ALL=C ls -A /tmp > \"$WORK/tmp-entries\"\n";
  write_file(work_ + "/script.sh", script);
  write_file(work_ + "/runner.sh", runner);
  std::remove((work_ + "/status").c_str());
  fs::remove_all(work_ + "/state-after");

  int runner_status = -1;
  if (options.enter.empty()) {
    runner_status = run_in_namespace(inside(work_ + "/runner.sh"));
  } else {
    // Under a command that enters other namespaces first (a test LAN's
    // side), unshare(1) and mount(8) make the mount namespace.
    write_file(work_ + "/enter.sh",
               "mount --rbind /tmp " + std::string(kHostTmpInside) +
                   " || exit 89\n"
                   "mount -t tmpfs -o mode=0755 kxsane-etc /etc/opt || exit 90\n"
                   "mount -t tmpfs -o mode=1777 kxsane-tmp /tmp || exit 91\n"
                   "mkdir -p /etc/opt/kestrel/scanner || exit 92\n"
                   ". " +
                   sh_quote(inside(work_ + "/runner.sh")) + "\n");
    std::vector<std::string> command = options.enter;
    for (const char* arg : {"unshare", "-m", "--propagation", "private", "/bin/sh"})
      command.emplace_back(arg);
    command.push_back(work_ + "/enter.sh");
    runner_status = spawn_and_wait(command);
  }
  // The state the run left replaces the one it found.
  if (fs::is_directory(work_ + "/state-after")) {
    fs::remove_all(state_path());
    fs::rename(work_ + "/state-after", state_path());
  }
  RunResult result;
  result.out = read_file(work_ + "/stdout").value_or("");
  result.err = read_file(work_ + "/stderr").value_or("");
  const auto status = read_file(work_ + "/status");
  EXPECT_EQ(runner_status, 0) << "the sandbox runner failed; see " << work_ << "/runner.sh";
  result.status = status ? std::atoi(status->c_str()) : -1;
  return result;
}

void Sandbox::add_stub(const std::string& name, const std::string& script) {
  write_file(work_ + "/stubs/" + name, script, true);
}

std::string Sandbox::config_entries() const {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(state_path())) {
    names.insert(entry.path().filename());
  }
  std::string out;
  for (const auto& name : names) out += name + "\n";
  return out;
}

std::string Sandbox::stub_calls() const {
  return read_file(work_ + "/stub-calls").value_or("");
}

std::string Sandbox::tmp_entries() const {
  return read_file(work_ + "/tmp-entries").value_or("");
}

}  // namespace kxsane::e2e
