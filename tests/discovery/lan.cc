#include "discovery/lan.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/wait_for.h"

namespace kxsane::lan {

namespace fs = std::filesystem;

namespace {

// Seconds a side's set-up or an announcement may take before it counts as
// failed; far above what they take (about one second).
constexpr int kReadySeconds = 20;

std::string quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

using kxsane::testing::wait_for;

// Starts `args` with standard output into `out_fd` (or unchanged for -1)
// and standard error with it; returns its process id, or -1.
pid_t spawn(const std::vector<std::string>& args, int out_fd) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (out_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out_fd, STDERR_FILENO);
  }
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Starts a holder: a process in new mount, network and PID namespaces that
// only waits. Its first line of output is its process id as the machine
// sees it (the holder is its namespace's init, whose death ends every
// process of the namespace). Returns unshare's id; `pid` gets the holder's.
pid_t start_holder(int* pid) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return -1;
  const pid_t unshare = spawn({"unshare", "-m", "-n", "-p", "-f", "--kill-child", "--propagation",
                               "private", "/bin/sh", "-c",
                               "read -r pid rest < /proc/self/stat; echo \"$pid\"; "
                               "exec sleep infinity > /dev/null 2>&1"},
                              fds[1]);
  close(fds[1]);
  std::string line;
  char c = 0;
  while (unshare > 0 && read(fds[0], &c, 1) == 1 && c != '\n') line += c;
  close(fds[0]);
  *pid = std::atoi(line.c_str());
  return *pid > 0 ? unshare : -1;
}

void end_holder(pid_t unshare, pid_t pid) {
  if (pid > 0)
    kill(pid, SIGKILL);
  if (unshare > 0) {
    kill(unshare, SIGKILL);
    wait_for(unshare);
  }
}

bool on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/sbin:/usr/bin:/sbin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0)
      return true;
  }
  return false;
}

// A system bus that lets everyone connect, own any name and talk to anyone:
// it serves one side's daemons and the program under test, nothing else.
constexpr char kBusConfig[] = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)";

std::string avahi_config(const std::string& host_name, const std::string& interface) {
  return "[server]\nhost-name=" + host_name +
         "\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=" + interface +
         "\nenable-dbus=yes\nratelimit-interval-usec=1000000\nratelimit-burst=1000\n"
         // Room for the records of a few thousand scanners (the default holds
         // about 700).
         "cache-entries-max=16384\n"
         "[wide-area]\nenable-wide-area=no\n"
         "[publish]\npublish-hinfo=no\npublish-workstation=no\npublish-aaaa-on-ipv4=no\n"
         "[reflector]\n[rlimits]\n";
}

// A side's own /run (its bus socket, its daemon's pid file), and a /proc of
// its PID namespace, so that the side's processes see their own ids there
// (the sanitizers' leak check reads /proc/self/task).
constexpr char kSideMounts[] =
    "mount -t tmpfs -o mode=0755 kxlan-run /run\nmkdir /run/dbus\n"
    "mount -t proc kxlan-proc /proc\n";

// Brings a side's end of the link up and starts its bus and its Avahi
// daemon (configuration and log avahi-SIDE.* in the work directory).
std::string side_setup(const std::string& address, const std::string& interface,
                       const std::string& side) {
  return std::string("set -e\n") + kSideMounts + "ip link set lo up\nip addr add " + address +
         "/16 dev " + interface + "\nip link set " + interface +
         " up\n"
         "dbus-daemon --config-file=\"$KXLAN_WORK/bus.conf\" --fork --nopidfile --nosyslog\n"
         "avahi-daemon --no-drop-root --no-chroot --no-rlimits -f \"$KXLAN_WORK/avahi-" +
         side + ".conf\" > \"$KXLAN_WORK/avahi-" + side + ".log\" 2>&1 &\n";
}

// Waits, polling the daemon's state over the side's bus, until its Avahi
// daemon runs (state 2: its host name is established).
std::string wait_running_script() {
  return "i=0; until dbus-send --system --print-reply --dest=org.freedesktop.Avahi / "
         "org.freedesktop.Avahi.Server.GetState 2>/dev/null | grep -q 'int32 2'; do\n"
         "  i=$((i+1)); [ $i -lt " +
         std::to_string(kReadySeconds * 50) +
         " ] || { echo 'avahi-daemon did not start'; exit 1; }; sleep 0.02\n"
         "done\n";
}

}  // namespace

const std::string& Lan::unavailable_reason() {
  static const std::string reason = []() -> std::string {
    if (geteuid() != 0)
      return "not running as root, so no network namespaces";
    for (const char* program : {"unshare", "nsenter", "ip", "dbus-daemon", "dbus-send",
                                "avahi-daemon", "avahi-publish"}) {
      if (!on_path(program))
        return std::string(program) +
               " is not installed (packages avahi-daemon, avahi-utils, dbus-daemon, iproute2)";
    }
    const pid_t pid =
        spawn({"unshare", "-m", "-n", "-p", "-f", "--propagation", "private", "/bin/sh", "-c",
               "mount -t tmpfs kxlan-probe /run && ip link set lo up"},
              -1);
    if (pid < 0 || wait_for(pid) != 0)
      return "cannot make mount, network and PID namespaces (unshare -m -n -p)";
    return "";
  }();
  return reason;
}

Lan::Lan(std::string work) : work_(std::move(work)) {
  fs::create_directories(work_);
  write_file(work_ + "/bus.conf", kBusConfig);
  write_file(work_ + "/avahi-admin.conf", avahi_config("kxlan-admin", "kxlan0"));
  write_file(work_ + "/avahi-scanner.conf", avahi_config("kxlan-scanner", "kxlan1"));
  admin_holder_ = start_holder(&admin_pid_);
  scanner_holder_ = start_holder(&scanner_pid_);
  if (admin_holder_ < 0 || scanner_holder_ < 0) {
    error_ = "cannot start the namespaces' holders";
    return;
  }
  // Made from the admin side's network namespace but outside the PID
  // namespaces, where the scanner side's holder id is the one we know.
  const pid_t veth =
      spawn({"nsenter", "-t", std::to_string(admin_pid_), "-n", "--", "ip", "link", "add", "kxlan0",
             "type", "veth", "peer", "name", "kxlan1", "netns", std::to_string(scanner_pid_)},
            -1);
  if (veth < 0 || wait_for(veth) != 0) {
    error_ = "cannot make the veth pair";
    return;
  }
  const ShellResult admin = admin_shell(side_setup(kAdminAddress, "kxlan0", "admin"));
  const ShellResult scanner = scanner_shell(side_setup(kScannerAddress, "kxlan1", "scanner"));
  if (admin.status != 0 || scanner.status != 0) {
    error_ = "cannot set up the LAN: " + admin.out + scanner.out;
    return;
  }
  for (const ShellResult& ready :
       {admin_shell(wait_running_script()), scanner_shell(wait_running_script())}) {
    if (ready.status != 0)
      error_ += ready.out + " (see " + work_ + "/avahi-*.log)";
  }
}

Lan::~Lan() {
  end_holder(admin_holder_, admin_pid_);
  end_holder(scanner_holder_, scanner_pid_);
}

std::vector<std::string> Lan::admin_enter() const {
  return {"nsenter", "-t", std::to_string(admin_pid_), "-m", "-n", "-p", "--"};
}

ShellResult Lan::admin_shell(const std::string& script) const {
  return shell(admin_pid_, script);
}

ShellResult Lan::scanner_shell(const std::string& script) const {
  return shell(scanner_pid_, script);
}

ShellResult Lan::shell(int holder, const std::string& script) const {
  static std::atomic<int> serial{0};
  const std::string path = work_ + "/shell-" + std::to_string(++serial);
  ShellResult result;
  // From a file: a script that announces a thousand scanners is longer than
  // one argument may be.
  write_file(path + ".sh", "KXLAN_WORK=" + quote(work_) + "\n" + script);
  const int fd = open((path + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0)
    return result;
  const pid_t pid = spawn(
      {"nsenter", "-t", std::to_string(holder), "-m", "-n", "-p", "--", "/bin/sh", path + ".sh"},
      fd);
  close(fd);
  if (pid > 0)
    result.status = wait_for(pid);
  result.out = read_file(path + ".out");
  fs::remove(path + ".out");
  fs::remove(path + ".sh");
  return result;
}

std::string Lan::announce(const std::vector<Announcement>& scanners) const {
  static std::atomic<int> serial{0};
  const std::string dir = "/run/kxlan-announce-" + std::to_string(++serial);
  std::string script = "mkdir -p " + dir + " && cd " + dir + " || exit 1\n";
  int count = 0;
  for (const Announcement& s : scanners) {
    const std::string host = quote(s.host + ".local");
    script += "avahi-publish -a -R " + host + " " + quote(s.address) + " > " +
              std::to_string(count++) + " 2>&1 &\n";
    for (const std::string& type : s.services) {
      script += "avahi-publish -s -H " + host + " " + quote(s.instance) + " " + quote(type) + " " +
                std::to_string(s.port);
      for (const std::string& txt : s.txt) script += " " + quote(txt);
      script += " > " + std::to_string(count++) + " 2>&1 &\n";
    }
  }
  // Each publisher says "Established under name ..." once its records are
  // announced, or why it failed.
  script += "i=0; while [ \"$(grep -l Established * 2>/dev/null | wc -l)\" -lt " +
            std::to_string(count) +
            " ]; do\n"
            "  if grep -l -i -e fail -e error * > /dev/null 2>&1; then cat *; exit 1; fi\n"
            "  i=$((i+1)); [ $i -lt " +
            std::to_string(kReadySeconds * 50) +
            " ] || { echo 'announcements not established'; cat *; exit 1; }; sleep 0.02\n"
            "done\n";
  const ShellResult result = scanner_shell(script);
  return result.status == 0 ? "" : "announcing failed: " + result.out;
}

std::string Lan::announce_in_bulk(int count, bool resolvable) const {
  // The daemon's own service files and hosts file, which it reads again on
  // SIGHUP and logs a line for each record it established.
  const std::string script =
      "set -e\ndir=\"$KXLAN_WORK/bulk\"\nlog=\"$KXLAN_WORK/avahi-scanner.log\"\n"
      "mkdir -p \"$dir/services\" \"$dir/new\" && touch \"$dir/hosts\"\n"
      "mountpoint -q /etc/avahi/services || mount --bind \"$dir/services\" /etc/avahi/services\n"
      "mountpoint -q /etc/avahi/hosts || mount --bind \"$dir/hosts\" /etc/avahi/hosts\n"
      ": > \"$dir/hosts.new\"\n"
      "i=0; while [ $i -lt " +
      std::to_string(count) +
      " ]; do i=$((i+1))\n"
      "  echo \"<service-group><name>Bulk $i</name><service><type>_uscan._tcp</type>"
      "<port>80</port><host-name>bulk$i.local</host-name><txt-record>mdl=KX-100</txt-record>"
      "</service></service-group>\" > \"$dir/new/$i.service\"\n" +
      (resolvable ? "  echo \"10.77.$((2 + (i - 1) / 250)).$((1 + (i - 1) % 250)) bulk$i.local\" "
                    ">> \"$dir/hosts.new\"\n"
                  : "") +
      "done\n"
      "find \"$dir/services\" -name '*.service' -delete\n"
      "find \"$dir/new\" -name '*.service' -exec mv -t \"$dir/services\" {} +\n"
      "cat \"$dir/hosts.new\" > \"$dir/hosts\"\n"
      "before=$(grep -c . \"$log\" || true)\n"
      "kill -HUP \"$(cat /run/avahi-daemon/pid)\"\n"
      "n=0; until tail -n +$((before+1)) \"$log\" | grep -q 'SIGHUP' && "
      "[ \"$(tail -n +$((before+1)) \"$log\" | grep -c 'established')\" -ge " +
      std::to_string(resolvable ? 2 * count : count) +
      " ]; do\n"
      "  n=$((n+1)); [ $n -lt " +
      std::to_string(kReadySeconds * 50) +
      " ] || { echo 'not established'; exit 1; }; sleep 0.02\n"
      "done\n";
  const ShellResult result = scanner_shell(script);
  return result.status == 0 ? "" : "announcing in bulk failed: " + result.out;
}

}  // namespace kxsane::lan
