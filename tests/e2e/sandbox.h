// End-to-end harness: runs the real kxsaneconfig4 with its fixed paths inside
// a private mount namespace, with fresh tmpfs mounts over /etc/opt and /tmp,
// so that no test touches the machine's own configuration or /tmp. Stub
// programs named ping, sane-find-scanner and scanimage come first on PATH;
// they record their arguments and print a recognisable line, and nothing is
// ever sent over a network.
//
// The state of the configuration directory /etc/opt/kestrel/scanner/kxscan4
// is kept in the test's work directory (under the build tree) between runs:
// each run copies it in, and copies it back out afterwards, with modes,
// owners and symbolic links preserved.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kxsane::e2e {

inline constexpr char kCfgDir[] = "/etc/opt/kestrel/scanner/kxscan4";
// The device configuration file's name inside the configuration directory.
inline constexpr char kDeviceCfg[] = "kxsanenetdevice4.cfg";

struct RunResult {
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error
  int status = -1;  // exit status of the command (or of the script)
};

struct RunOptions {
  // Non-empty: the configuration directory is a tmpfs of this size (e.g.
  // "16k") holding the state, so that a rewrite runs out of space.
  std::string config_fs_size;
  // The configuration directory is mounted read-only.
  bool read_only_config = false;
  // Programs that are missing from PATH for this run (e.g. {"sed"}).
  std::vector<std::string> hidden_tools;
  // A command the namespace is made under (e.g. one that enters a test
  // LAN's side): the run's arguments are appended to it.
  std::vector<std::string> enter;
};

class Sandbox {
 public:
  // Makes a fresh work directory <build>/tests/e2e-work/<suite>.<test> with
  // an empty configuration directory and the stubs.
  Sandbox();
  // Removes the work directory unless the test failed.
  ~Sandbox();

  // Empty when the namespace can be made; otherwise why not (not root, no
  // mount namespaces, ...). Checked once per process.
  static const std::string& unavailable_reason();

  // Files of the configuration directory, relative to it ("kxsanenetdevice4.cfg",
  // "models4/a.ini"): what the next run finds, and what the last run left.
  void write(const std::string& rel, const std::string& content);
  std::optional<std::string> read(const std::string& rel) const;
  void remove(const std::string& rel);
  // The configuration directory's state on the host side, for tests that
  // need modes, owners or symbolic links.
  std::string state_path(const std::string& rel = "") const;

  // Runs kxsaneconfig4 with `args` in a fresh namespace.
  RunResult run(const std::vector<std::string>& args, const RunOptions& options = {});

  // Runs a /bin/sh script in a fresh namespace. In it $KX is the binary,
  // $CFG the configuration directory and $WORK the work directory (outside
  // the namespace's tmpfs mounts); PATH starts with the stubs.
  RunResult shell(const std::string& script, const RunOptions& options = {});

  // Adds (or replaces) a stub program that shadows the system's one.
  void add_stub(const std::string& name, const std::string& script);

  // The names in the configuration directory's state, sorted, one per line.
  std::string config_entries() const;

  // The calls the stubs recorded, one line each: the program name followed
  // by each argument in brackets, e.g. "ping [10.0.0.5] [-w] [10]". Stubs
  // run side by side (the pings of a sweep) record in the order they start.
  std::string stub_calls() const;

  // The names left in the namespace's /tmp after the last run, sorted, one
  // per line.
  std::string tmp_entries() const;

  const std::string& work() const { return work_; }

  // Where a host path is found inside the namespace. The namespace's /tmp
  // is a fresh tmpfs, so the host's /tmp is seen under /mnt there: a build
  // tree checked out under /tmp stays reachable. Other paths are the same.
  static std::string inside(const std::string& host_path);

 private:
  std::string work_;
};

// The lines of `text`, sorted, each with its line break: for comparing what
// does not come in a fixed order.
std::string sorted_lines(const std::string& text);

// Quotes `text` as one literal /bin/sh word.
std::string sh_quote(const std::string& text);

}  // namespace kxsane::e2e

// Skips the current test, visibly and with the reason, where the namespace
// cannot be made. CI runs as root and runs them all.
#define KXSANE_REQUIRE_SANDBOX()                                                                   \
  do {                                                                                             \
    if (!::kxsane::e2e::Sandbox::unavailable_reason().empty())                                     \
      GTEST_SKIP() << "end-to-end test skipped: " << ::kxsane::e2e::Sandbox::unavailable_reason(); \
  } while (0)
