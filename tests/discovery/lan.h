// A private LAN for network tests: two network namespaces joined by a veth
// pair, the "admin side" (where the program under test runs) and the
// "scanner side" (where made-up scanners announce themselves). Each side is
// a holder process in mount, network and PID namespaces of its own, with a
// tmpfs over /run, its own `dbus-daemon --system` and its own avahi-daemon
// (IPv4 only, bound to the veth end). Nothing reaches the machine's own
// network, bus or daemons. Every process started on a side lives in that
// side's PID namespace and ends with the LAN.
#pragma once

#include <string>
#include <vector>

namespace kxsane::lan {

// Both sides are on 10.77.0.0/16, so that a made-up scanner at any 10.77.x.y
// is on a network of the admin side, as the finder asks of a scanner.
inline constexpr char kAdminAddress[] = "10.77.0.1";
inline constexpr char kScannerAddress[] = "10.77.0.2";

// One made-up scanner announced over DNS-SD from the scanner side: an
// address record HOST.local -> address, and one service instance per type.
struct Announcement {
  std::string host;     // without ".local"
  std::string address;  // dotted IPv4; any, it need not be on the network
  std::string instance;
  std::vector<std::string> services;  // "_uscan._tcp", ...
  std::vector<std::string> txt;       // "key=value", as announced
  int port = 80;
};

struct ShellResult {
  int status = -1;  // exit status, -1 when it could not run or was killed
  std::string out;  // standard output and standard error
};

class Lan {
 public:
  // Empty when a LAN can be built here; otherwise why not (not root, a
  // program missing, no namespaces). Checked once per process.
  static const std::string& unavailable_reason();

  // Builds the LAN and starts both sides' daemons; `work` is a directory of
  // the test's own (under the build tree) for configuration files and logs.
  // Returns when both Avahi daemons are running; error() says what failed.
  explicit Lan(std::string work);
  // Ends every process of both sides.
  ~Lan();
  Lan(const Lan&) = delete;
  Lan& operator=(const Lan&) = delete;

  // Empty when the LAN is up.
  const std::string& error() const { return error_; }

  // Runs a /bin/sh script on one side and waits for it; $KXLAN_WORK is the
  // work directory. Jobs it leaves in
  // the background (a responder, a publisher) run until the LAN ends; give
  // them their own output redirections.
  ShellResult admin_shell(const std::string& script) const;
  ShellResult scanner_shell(const std::string& script) const;

  // The command that runs a program on the admin side: append the program
  // and its arguments.
  std::vector<std::string> admin_enter() const;

  // Announces `scanners` from the scanner side and returns once the
  // scanner side's daemon has established every record (empty), or what
  // failed.
  std::string announce(const std::vector<Announcement>& scanners) const;

  // Has the scanner side's daemon itself announce `count` scanners of
  // _uscan._tcp ("Bulk N" on bulkN.local, "mdl=KX-100"), in place of the
  // ones it announced so before (0: none): thousands without a process
  // each. Their hosts have addresses 10.77.2.1, 10.77.2.2, ... when
  // `resolvable`, and none otherwise, so that they never resolve. Returns
  // once the daemon has established them (empty), or what failed.
  std::string announce_in_bulk(int count, bool resolvable) const;

 private:
  ShellResult shell(int holder, const std::string& script) const;

  std::string work_;
  std::string error_;
  int admin_holder_ = -1;  // unshare's process id
  int admin_pid_ = -1;     // the side's PID namespace init, as the machine sees it
  int scanner_holder_ = -1;
  int scanner_pid_ = -1;
};

}  // namespace kxsane::lan
