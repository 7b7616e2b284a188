// The diagnosis report ("-d", "-D3"), end to end: whole output bytes with the
// stub probe programs, the installed files, the model lines, the query
// report and the ping sweep, in program order also through a pipe.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "e2e/sandbox.h"

namespace kxsane::e2e {
namespace {

constexpr char kSep[] = "-----------------------------\n";
constexpr char kCfgShown[] = "/etc/opt/kestrel/scanner/kxscan4//kxsanenetdevice4.cfg";
constexpr char kIniShown[] = "/etc/opt/kestrel/scanner/kxscan4//Kxsane4.ini";
constexpr char kModelsShown[] = "/etc/opt/kestrel/scanner/kxscan4//models4";

constexpr char kDevices[] =
    "DEVICE=office , \"M-1\" , 0x4ab:0x123 , IP-ADDRESS=10.0.0.5 \n"
    "DEVICE=lab , \"M-2\" , 0x4ab:0x124 , NODENAME=kxn-lab \n";
constexpr char kMainIni[] =
    "[Support Model]\n"
    "0x4ab:0x124,7,1,\"M-2\",4,5,x,y,z\n";
constexpr char kModelIni[] =
    "; first model file\n"
    "[Support Model]\n"
    "0x04ab:0x0123,503,7,\"M-1\",2,3,a,b,c\n";

// Every model-file name filter case besides a.ini: none of these is listed.
void write_fixture(Sandbox& sb) {
  sb.write(kDeviceCfg, kDevices);
  sb.write("Kxsane4.ini", kMainIni);
  sb.write("models4/a.ini", kModelIni);
  sb.write("models4/.hidden.ini", kModelIni);
  sb.write("models4/b.INI", kModelIni);
  sb.write("models4/c.ini.bak", kModelIni);
  sb.write("models4/ini", kModelIni);
}

struct Expected {
  std::string out;
  std::string err;
};

// The probe section. The stub programs' output is known; /etc/fstab and
// /proc/bus/usb are the machine's own, so what they give is read by running
// the same commands in the namespace (on a machine without /proc/bus/usb
// that is nothing on standard output and ls's and cat's messages on
// standard error).
Expected probe_section(Sandbox& sb) {
  struct Probe {
    const char* command;
    const char* stub_output;  // nullptr: the machine's own program
  };
  constexpr Probe kProbes[] = {
      {"cat /etc/fstab", nullptr},
      {"sane-find-scanner", "stub sane-find-scanner: \n"},
      {"ls -R -all /proc/bus/usb", nullptr},
      {"cat /proc/bus/usb/devices", nullptr},
      {"scanimage -L", "stub scanimage: -L\n"},
  };
  Expected e{kSep, ""};
  for (const Probe& probe : kProbes) {
    e.out += std::string(probe.command) + "\n";
    if (probe.stub_output != nullptr) {
      e.out += probe.stub_output;
    } else {
      const RunResult r = sb.shell(std::string(probe.command) + "\n");
      e.out += r.out;
      e.err += r.err;
    }
    e.out += kSep;
  }
  return e;
}

std::string header(const std::string& shown_path) {
  return kSep + shown_path + ":\n";
}

// The file section of the fixture: headers, and contents when verbose.
std::string fixture_files(bool verbose) {
  return header(kCfgShown) + (verbose ? kDevices : "") + header(kIniShown) +
         (verbose ? kMainIni : "") + header(std::string(kModelsShown) + "/a.ini") +
         (verbose ? kModelIni : "");
}

constexpr char kModelLines[] =
    "MODEL:\"M-1\",ID:0x4ab:0x123,TYPE:3,7,RE:0x2,WE:0x3 CM:a,b,c\n"
    "MODEL:\"M-2\",ID:0x4ab:0x124,TYPE:7,1,RE:0x4,WE:0x5 CM:x,y,z\n";
constexpr char kQueryReport[] =
    "  0 \"M-1\"\n"
    "  1 \"M-2\"\n"
    "\n"
    "Devices on network\n"
    "  0 office              \"M-1\"               I:10.0.0.5\n"
    "  1 lab                 \"M-2\"               N:kxn-lab\n";
constexpr char kPingSweep[] =
    "ping\n"
    "test lab\n"
    "ping kxn-lab -w 10\n"
    "\n"
    "stub ping: kxn-lab -w 10\n"
    "test office\n"
    "ping 10.0.0.5 -w 10\n"
    "\n"
    "stub ping: 10.0.0.5 -w 10\n";
constexpr char kStubCalls[] =
    "sane-find-scanner\n"
    "scanimage [-L]\n"
    "ping [kxn-lab] [-w] [10]\n"
    "ping [10.0.0.5] [-w] [10]\n";

// The whole report of the fixture at level 0 or 3.
std::string fixture_report(const Expected& probes, bool verbose) {
  return probes.out + fixture_files(verbose) + kSep + (verbose ? kModelLines : "") + kSep +
         (verbose ? kQueryReport : "") + kPingSweep;
}

TEST(Diagnosis, LevelZeroListsFileNamesWithoutContentsModelsOrQueryReport) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  write_fixture(sb);
  const Expected probes = probe_section(sb);
  const RunResult r = sb.run({"-d"});
  EXPECT_EQ(r.out, fixture_report(probes, false));
  EXPECT_EQ(r.err, probes.err);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(sorted_lines(sb.stub_calls()), sorted_lines(kStubCalls));
}

TEST(Diagnosis, VerboseLevelAddsContentsModelLinesAndQueryReport) {
  KXSANE_REQUIRE_SANDBOX();
  for (const char* option : {"-D3", "-D3x"}) {
    Sandbox sb;
    write_fixture(sb);
    const Expected probes = probe_section(sb);
    const RunResult r = sb.run({option});
    EXPECT_EQ(r.out, fixture_report(probes, true)) << option;
    EXPECT_EQ(r.err, probes.err) << option;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(sorted_lines(sb.stub_calls()), sorted_lines(kStubCalls)) << option;
  }
}

// The sweep at the end runs its pings side by side; the device swept first
// answers last, and the output still reads as one ping after the other.
TEST(Diagnosis, OrderHoldsThroughAPipe) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  write_fixture(sb);
  sb.add_stub("ping",
              "#!/bin/sh\n"
              "[ \"$1\" = kxn-lab ] && sleep 0.5\n"
              "printf 'stub ping: %s\\n' \"$*\"\n");
  const Expected probes = probe_section(sb);
  const RunResult r = sb.shell("\"$KX\" -d | cat\n\"$KX\" -D3 | cat\n");
  EXPECT_EQ(r.out, fixture_report(probes, false) + fixture_report(probes, true));
  EXPECT_EQ(r.err, probes.err + probes.err);
}

TEST(Diagnosis, WithoutModelsDirectoryFileSectionIsEmptyAndReportEndsWithPing) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  // Neither a models directory nor a device configuration file; the model
  // table still comes from Kxsane4.ini.
  sb.write("Kxsane4.ini", kMainIni);
  const Expected probes = probe_section(sb);

  const RunResult quiet = sb.run({"-d"});
  EXPECT_EQ(quiet.out, probes.out + kSep + kSep + "ping\n");
  EXPECT_EQ(quiet.err, probes.err);

  const RunResult verbose = sb.run({"-D3"});
  EXPECT_EQ(verbose.out, probes.out + kSep +
                             "MODEL:\"M-2\",ID:0x4ab:0x124,TYPE:7,1,RE:0x4,WE:0x5 CM:x,y,z\n" +
                             kSep + "  0 \"M-2\"\n\nDevices on network\nping\n");
  EXPECT_EQ(verbose.err, probes.err);
}

TEST(Diagnosis, MissingConfigurationFilesKeepTheirHeadersAndErrorsGoToStandardError) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  sb.write("models4/a.ini", kModelIni);
  const Expected probes = probe_section(sb);
  const std::string files_quiet =
      header(kCfgShown) + header(kIniShown) + header(std::string(kModelsShown) + "/a.ini");

  const RunResult quiet = sb.run({"-d"});
  EXPECT_EQ(quiet.out, probes.out + files_quiet + kSep + kSep + "ping\n");
  EXPECT_EQ(quiet.err, probes.err);

  const RunResult verbose = sb.run({"-D3"});
  EXPECT_EQ(verbose.out, probes.out + header(kCfgShown) + header(kIniShown) +
                             header(std::string(kModelsShown) + "/a.ini") + kModelIni + kSep +
                             "MODEL:\"M-1\",ID:0x4ab:0x123,TYPE:3,7,RE:0x2,WE:0x3 CM:a,b,c\n" +
                             kSep + "  0 \"M-1\"\n\nDevices on network\nping\n");
  EXPECT_EQ(verbose.err, probes.err + "cat: " + kCfgShown + ": No such file or directory\n" +
                             "cat: " + kIniShown + ": No such file or directory\n");
}

TEST(Diagnosis, MissingProbeProgramDoesNotStopTheReport) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  write_fixture(sb);
  std::filesystem::remove(sb.work() + "/stubs/sane-find-scanner");
  Expected probes = probe_section(sb);
  const std::string stub_line = "stub sane-find-scanner: \n";
  probes.out.erase(probes.out.find(stub_line), stub_line.size());
  RunOptions without_tool;
  without_tool.hidden_tools = {"sane-find-scanner"};
  const RunResult r = sb.run({"-d"}, without_tool);
  EXPECT_EQ(r.out, fixture_report(probes, false));
  EXPECT_NE(r.err.find("sane-find-scanner: not found"), std::string::npos) << r.err;
}

// Names that a shell would split, expand, execute or read as an option. An
// injected command would run in the working directory, the namespace's
// /tmp, and leave its marker file there.
TEST(Diagnosis, HostileModelFileNamesAreShownAndDumpedWithoutRunningAnything) {
  KXSANE_REQUIRE_SANDBOX();
  Sandbox sb;
  const std::vector<std::string> names = {
      "a b.ini",
      "it's.ini",
      "say \"hi\".ini",
      "$(touch pwned1).ini",
      "`touch pwned2`.ini",
      "x;touch pwned3;.ini",
      "x&touch pwned4&.ini",
      "x|tee pwned5|.ini",
      "-n.ini",
      "*.ini",
      "back\\slash.ini",
      "new\nline.ini",
      "x>pwned6.ini",
      "${HOME}.ini",
  };
  for (std::size_t i = 0; i < names.size(); ++i) {
    sb.write("models4/" + names[i], "content " + std::to_string(i) + "\n");
  }
  const Expected probes = probe_section(sb);
  // The directory's listing order, as the tool will meet it.
  const RunResult r = sb.shell(
      "cd /tmp || exit 1\n"
      "find \"$CFG/models4\" -mindepth 1 -maxdepth 1 -printf '%f\\0' > \"$WORK/listing\"\n"
      "\"$KX\" -D3\n");

  std::ifstream listing(sb.work() + "/listing", std::ios::binary);
  std::string files = header(kCfgShown) + header(kIniShown);
  std::string name;
  std::size_t listed = 0;
  while (std::getline(listing, name, '\0')) {
    const auto it = std::find(names.begin(), names.end(), name);
    ASSERT_NE(it, names.end()) << name;
    files += header(std::string(kModelsShown) + "/" + name) + "content " +
             std::to_string(it - names.begin()) + "\n";
    ++listed;
  }
  ASSERT_EQ(listed, names.size());

  EXPECT_EQ(r.out, probes.out + files + kSep + kSep + "\nDevices on network\nping\n");
  EXPECT_EQ(r.err, probes.err + "cat: " + kCfgShown + ": No such file or directory\n" +
                       "cat: " + kIniShown + ": No such file or directory\n");
  EXPECT_EQ(sb.tmp_entries(), "");
  EXPECT_EQ(sb.stub_calls(), "sane-find-scanner\nscanimage [-L]\n");
}

}  // namespace
}  // namespace kxsane::e2e
