// kxsanefind4: lists the scanners that announce themselves on the LAN, tells
// which are registered, and prints the kxsaneconfig4 lines that register the
// others (or, with --add, registers them).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/paths.h"
#include "discovery/protocols.h"
#include "discovery/report.h"
#include "discovery/survey.h"
#include "models/model_table.h"
#include "registry/add_device.h"
#include "registry/device_list.h"

namespace kxsane {
namespace {

constexpr double kDefaultTimeout = 3;
constexpr double kMaxTimeout = 60;
// How long a protocol may overrun the timeout, stuck in a call to a daemon
// that stopped answering, before the finder goes on without it.
constexpr std::chrono::milliseconds kGrace{500};

constexpr char kUsage[] =
    "Usage: kxsanefind4 [--json | --add] [--timeout SECONDS] [--protocol dnssd|wsd|all]\n"
    "Lists the network scanners that announce themselves on the LAN, matches them\n"
    "to the installed models, tells which are registered, and prints the\n"
    "kxsaneconfig4 lines that register the others.\n"
    "\n"
    "  --json               print one JSON array, one object per scanner\n"
    "  --add                register every new scanner of a known model now\n"
    "  --timeout SECONDS    wait at most this long (default 3, at most 60)\n"
    "  --protocol dnssd|wsd|all\n"
    "                       find over DNS-SD or WS-Discovery only, or over both\n"
    "                       side by side (default)\n"
    "  -h, --help           print this help\n"
    "\n"
    "Exit status: 0 done (also when nothing was found), 1 no protocol could run,\n"
    "2 bad usage.\n";

struct Options {
  bool json = false;
  bool add = false;
  bool help = false;
  double timeout = kDefaultTimeout;
  std::string protocol = "all";
};

// Applies an option's value; false when the value is not one it takes.
using ApplyOption = bool (*)(Options&, const char* value);

struct OptionSpec {
  const char* name;
  bool takes_value;
  ApplyOption apply;
};

bool known_protocol(const char* name) {
  if (std::strcmp(name, "all") == 0)
    return true;
  for (const Protocol& p : all_protocols()) {
    if (std::strcmp(name, p.key) == 0)
      return true;
  }
  return false;
}

constexpr OptionSpec kOptions[] = {
    {"--json", false, [](Options& o, const char*) { return o.json = true; }},
    {"--add", false, [](Options& o, const char*) { return o.add = true; }},
    {"--help", false, [](Options& o, const char*) { return o.help = true; }},
    {"-h", false, [](Options& o, const char*) { return o.help = true; }},
    {"--timeout", true,
     [](Options& o, const char* value) {
       char* end = nullptr;
       o.timeout = std::strtod(value, &end);
       return end != value && *end == '\0' && o.timeout > 0 && o.timeout <= kMaxTimeout;
     }},
    {"--protocol", true,
     [](Options& o, const char* value) {
       o.protocol = value;
       return known_protocol(value);
     }},
};

int bad_usage(const std::string& message) {
  std::fprintf(stderr, "kxsanefind4: %s\nTry 'kxsanefind4 --help'.\n", message.c_str());
  return 2;
}

// Reads the options ("--name VALUE" or "--name=VALUE"); 0, or the exit status
// of bad usage after saying why.
int parse_options(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const OptionSpec* option = nullptr;
    for (const OptionSpec& s : kOptions) {
      if (name == s.name)
        option = &s;
    }
    if (option == nullptr || (!option->takes_value && equals != std::string::npos))
      return bad_usage("unknown option " + printable(arg));
    std::string value;
    if (option->takes_value) {
      if (equals != std::string::npos) {
        value = arg.substr(equals + 1);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        return bad_usage(name + " needs a value");
      }
    }
    if (!option->apply(options, value.c_str()))
      return bad_usage("invalid value for " + name + ": " + printable(value));
  }
  if (options.json && options.add)
    return bad_usage("--json and --add do not go together");
  return 0;
}

// Registers a new scanner through the add command's own path (its checks,
// lock and rewrite), and prints one line: that it was registered, or the
// add command's refusal.
void register_scanner(const Paths& paths, const FoundScanner& scanner) {
  std::string name = "name=" + scanner.name;
  std::string model = "model=" + scanner.model.value_or("");
  std::string ip = "ip=" + scanner.address;
  char program[] = "kxsanefind4";
  char option[] = "-a";
  char* argv[] = {program, option, name.data(), model.data(), ip.data(), nullptr};
  std::printf("%s: ", scanner.name.c_str());
  std::fflush(stdout);
  // A list and a table of their own: the add command reads the registry
  // under its lock, after every earlier registration.
  DeviceList devices(paths.device_config);
  ModelTable models(paths.models_dir, paths.main_model_file);
  const int result = add_device(paths, devices, models, argv, 5);
  DeviceList after(paths.device_config);
  char address[kDeviceFieldSize];
  if (after.device_field_by_name(scanner.name.c_str(), kIpAddress, address, sizeof address) &&
      scanner.address == address) {
    std::printf("registered as \"%s\" at %s\n", scanner.model->c_str(), scanner.address.c_str());
  } else if (result != 0) {
    std::printf("not registered: no temporary file could be made\n");
  }
  std::fflush(stdout);
}

int find(const Options& options) {
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                    std::chrono::duration<double>(options.timeout));
  std::vector<const Protocol*> selected;
  for (const Protocol& p : all_protocols()) {
    if (options.protocol == "all" || options.protocol == p.key)
      selected.push_back(&p);
  }
  std::vector<Sighting> sightings;
  std::vector<std::string> labels;
  std::vector<ProtocolResult> results = run_protocols(selected, deadline, kGrace);
  const bool any_ran = std::any_of(results.begin(), results.end(),
                                   [](const ProtocolResult& r) { return r.status.ok(); });
  for (ProtocolResult& result : results) {
    if (!result.status.ok()) {
      std::fprintf(stderr, "kxsanefind4: %s%s%s\n", result.status.message().c_str(),
                   any_ran ? "; skipped " : "", any_ran ? result.protocol->label : "");
      continue;
    }
    if (!result.unfinished.empty()) {
      std::fprintf(stderr, "kxsanefind4: %s did not finish: %s; listed what it found until then\n",
                   result.protocol->label, result.unfinished.c_str());
    }
    labels.emplace_back(result.protocol->label);
    for (Sighting& s : result.sightings) sightings.push_back(std::move(s));
  }
  if (labels.empty())
    return 1;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const Paths paths;
  ModelTable models(paths.models_dir, paths.main_model_file);
  models.load_model_table();
  DeviceList devices(paths.device_config);
  const std::vector<RegisteredScanner> registered = registered_scanners(devices);
  if (!devices.load_status().ok()) {
    std::fprintf(stderr, "kxsanefind4: %s: %s\n", paths.device_config.c_str(),
                 devices.load_status().message().c_str());
  }
  const std::vector<FoundScanner> found = survey(sightings, model_texts(models), registered);
  const std::string report =
      options.json ? json_report(found) : text_report(found, labels, seconds, !options.add);
  std::fwrite(report.data(), 1, report.size(), stdout);
  std::fflush(stdout);
  if (options.add) {
    for (const FoundScanner& scanner : found) {
      if (scanner.is_new())
        register_scanner(paths, scanner);
    }
  }
  return 0;
}

}  // namespace
}  // namespace kxsane

int main(int argc, char** argv) {
  kxsane::Options options;
  if (const int status = kxsane::parse_options(argc, argv, options); status != 0)
    return status;
  if (options.help) {
    std::fputs(kxsane::kUsage, stdout);
    return 0;
  }
  const int status = kxsane::find(options);
  std::fflush(stdout);
  // A protocol given up on may still be blocked in a call on its thread: end
  // without running destructors under it.
  std::_Exit(std::ferror(stdout) ? 1 : status);
}
