// kxsanefind4: lists the scanners that announce themselves on the LAN, tells
// which are registered, and prints the kxsaneconfig4 lines that register the
// others (or, with --add, registers them).
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/watch_command.h"
#include "common/paths.h"
#include "discovery/addresses.h"
#include "discovery/protocols.h"
#include "discovery/report.h"
#include "discovery/survey.h"
#include "discovery/watch.h"
#include "models/model_table.h"
#include "registry/device_list.h"
#include "registry/registration.h"
#include "registry/rewrite.h"

namespace kxsane {
namespace {

constexpr double kDefaultTimeout = 3;
constexpr double kMaxTimeout = 60;
// How long a protocol may overrun the timeout, stuck in a call to a daemon
// that stopped answering, before the finder goes on without it.
constexpr std::chrono::milliseconds kGrace{500};

constexpr char kUsage[] =
    "Usage: kxsanefind4 [--json | --add] [--timeout SECONDS] [--protocol dnssd|wsd|snmp|all]\n"
    "                   [--community NAME] [--subnet CIDR]...\n"
    "       kxsanefind4 --watch [--add] [--follow] [--allow CIDR]... [--max-new N]\n"
    "                   [--gone-after MINUTES] [--state DIR]\n"
    "Lists the network scanners that announce themselves on the LAN, matches them\n"
    "to the installed models, tells which are registered, and prints the\n"
    "kxsaneconfig4 lines that register the others.\n"
    "\n"
    "  --json               print one JSON array, one object per scanner\n"
    "  --add                register every new scanner of a known model now\n"
    "  --timeout SECONDS    wait at most this long (default 3, at most 60)\n"
    "  --protocol dnssd|wsd|snmp|all\n"
    "                       find over DNS-SD, WS-Discovery or SNMP only, or over\n"
    "                       all of them side by side (default)\n"
    "  --community NAME     the SNMP community to ask with (default public)\n"
    "  --subnet CIDR        also ask every address of this network (A.B.C.D/N),\n"
    "                       past a router, over WS-Discovery and SNMP (repeatable;\n"
    "                       at most 4096 addresses in all)\n"
    "  --watch              keep watching the LAN until SIGTERM or SIGINT, logging\n"
    "                       one line per event; with --add, register each new\n"
    "                       scanner of a known model as it appears\n"
    "  --follow             with --watch: when a registered scanner turns up at a\n"
    "                       new address, change its registered address\n"
    "  --allow CIDR         with --watch: register or follow only to addresses of\n"
    "                       this network (repeatable; default: the networks of\n"
    "                       this machine's interfaces)\n"
    "  --max-new N          with --watch: at most N new registrations an hour\n"
    "                       (default 16)\n"
    "  --gone-after MINUTES with --watch: report a device not heard of this long\n"
    "                       (default 60); nothing is ever removed\n"
    "  --state DIR          with --watch: keep the devices seen in DIR\n"
    "                       (default /var/lib/kxsanefind4)\n"
    "  -h, --help           print this help\n"
    "\n"
    "Exit status: 0 done (also when nothing was found), 1 no protocol could run,\n"
    "2 bad usage.\n";

struct Options {
  bool json = false;
  bool add = false;
  bool help = false;
  bool watch = false;
  bool watch_only = false;  // an option that only --watch takes was given
  WatchOptions watching;
  std::string state_dir = kWatchStateDir;
  double timeout = kDefaultTimeout;
  std::string protocol = "all";
  SearchScope scope;
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

// A plain decimal count from 1 to `max`.
bool read_count(const char* value, std::size_t max, std::size_t& count) {
  const std::string_view text = value;
  std::size_t read = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), read);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || read == 0 ||
      read > max)
    return false;
  count = read;
  return true;
}

constexpr OptionSpec kOptions[] = {
    {"--watch", false, [](Options& o, const char*) { return o.watch = true; }},
    {"--follow", false,
     [](Options& o, const char*) { return o.watch_only = o.watching.follow = true; }},
    {"--allow", true,
     [](Options& o, const char* value) {
       const Result<Ipv4Network> network = parse_subnet(value);
       if (network.ok())
         o.watching.allow.push_back(*network);
       return o.watch_only = network.ok();
     }},
    {"--max-new", true,
     [](Options& o, const char* value) {
       return o.watch_only = read_count(value, 100000, o.watching.max_new);
     }},
    {"--gone-after", true,
     [](Options& o, const char* value) {
       std::size_t minutes = 0;
       o.watching.gone_after = std::chrono::minutes(60);
       if (!read_count(value, 100000, minutes))
         return false;
       o.watching.gone_after = std::chrono::minutes(minutes);
       return o.watch_only = true;
     }},
    {"--state", true,
     [](Options& o, const char* value) {
       o.state_dir = value;
       return o.watch_only = value[0] == '/';
     }},
    {"--json", false, [](Options& o, const char*) { return o.json = true; }},
    {"--add", false, [](Options& o, const char*) { return o.add = true; }},
    {"--help", false, [](Options& o, const char*) { return o.help = true; }},
    {"-h", false, [](Options& o, const char*) { return o.help = true; }},
    {"--timeout", true,
     [](Options& o, const char* value) {
       // Digits with at most one point: strtod alone also takes blanks,
       // signs, hexadecimal, exponents, "inf" and "nan".
       const std::string_view text = value;
       const bool plain = !text.empty() && text.front() >= '0' && text.front() <= '9' &&
                          text.find_first_not_of("0123456789.") == std::string_view::npos &&
                          std::count(text.begin(), text.end(), '.') <= 1;
       o.timeout = std::strtod(value, nullptr);
       return plain && o.timeout > 0 && o.timeout <= kMaxTimeout;
     }},
    {"--protocol", true,
     [](Options& o, const char* value) {
       o.protocol = value;
       return known_protocol(value);
     }},
    {"--community", true,
     [](Options& o, const char* value) {
       o.scope.community = value;
       return !o.scope.community.empty() && o.scope.community.size() <= kMaxCommunity;
     }},
    {"--subnet", true,
     [](Options& o, const char* value) {
       const Result<Ipv4Network> network = parse_subnet(value);
       if (network.ok())
         o.scope.subnets.push_back(*network);
       return network.ok();
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
  if (options.watch && options.json)
    return bad_usage("--watch and --json do not go together");
  if (options.watch_only && !options.watch)
    return bad_usage("--follow, --allow, --max-new, --gone-after and --state go with --watch");
  std::uint64_t addresses = 0;
  for (const Ipv4Network& subnet : options.scope.subnets) addresses += address_count(subnet);
  if (addresses > kMaxSubnetAddresses) {
    return bad_usage("--subnet: " + std::to_string(addresses) + " addresses in all, at most " +
                     std::to_string(kMaxSubnetAddresses));
  }
  if (!options.scope.subnets.empty() && (options.watch || options.protocol == "dnssd"))
    return bad_usage("--subnet goes with --protocol wsd, snmp or all, not with --watch");
  options.watching.add = options.add;
  return 0;
}

// Registers every new scanner of `found` with the add command's checks, lock
// and failure-safe rewrite, all in one hold of the lock, and prints one line
// for each: that it was registered, or the add command's refusal, or why the
// registry was left unchanged.
void register_new(const Paths& paths, const ModelTable& models, const Status& models_loaded,
                  const std::vector<FoundScanner>& found) {
  std::vector<const FoundScanner*> scanners;
  std::vector<NewDevice> requests;
  for (const FoundScanner& scanner : found) {
    if (!scanner.is_new())
      continue;
    scanners.push_back(&scanner);
    requests.push_back({scanner.name, *scanner.model, scanner.address, ""});
  }
  if (requests.empty())
    return;
  // A model table read in part could register a known model as unknown.
  std::vector<AddOutcome> outcomes(
      requests.size(), {Status::Failed(unchanged_message(paths.device_config, models_loaded)), {}});
  if (models_loaded.ok())
    outcomes = register_devices(paths, models, requests);
  for (std::size_t i = 0; i < scanners.size(); ++i) {
    const FoundScanner& scanner = *scanners[i];
    if (outcomes[i].status.ok()) {
      std::printf("%s: registered as \"%s\" at %s\n", scanner.name.c_str(), scanner.model->c_str(),
                  scanner.address.c_str());
    } else {
      std::printf("%s: %s", scanner.name.c_str(), outcomes[i].status.message().c_str());
    }
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
  bool asked_subnets = false;  // DNS-SD does not reach past the local links
  std::vector<ProtocolResult> results = run_protocols(selected, options.scope, deadline, kGrace);
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
    asked_subnets = asked_subnets || std::strcmp(result.protocol->key, "dnssd") != 0;
    for (Sighting& s : result.sightings) sightings.push_back(std::move(s));
  }
  if (labels.empty())
    return 1;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const Paths paths;
  ModelTable models(paths.models_dir, paths.main_model_file);
  const Status models_loaded = models.load();
  DeviceList devices(paths.device_config);
  if (const Status loaded = devices.load(); !loaded.ok() && !loaded.not_found())
    std::fprintf(stderr, "kxsanefind4: %s\n", loaded.message().c_str());
  const std::vector<RegisteredScanner> registered = registered_scanners(devices);
  // A scanner may be at any host of the subnets asked, past the router.
  std::vector<Ipv4Network> networks = local_networks();
  std::vector<std::string> subnets;
  for (const Ipv4Network& subnet : options.scope.subnets) {
    networks.push_back(subnet);
    if (asked_subnets)
      subnets.push_back(subnet_text(subnet));
  }
  const std::vector<FoundScanner> found =
      survey(sightings, model_texts(models), registered, networks);
  const std::string report = options.json
                                 ? json_report(found)
                                 : text_report(found, labels, subnets, seconds, !options.add);
  std::fwrite(report.data(), 1, report.size(), stdout);
  std::fflush(stdout);
  if (options.add)
    register_new(paths, models, models_loaded, found);
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
  const int status = options.watch ? kxsane::run_watch(options.watching, options.state_dir)
                                   : kxsane::find(options);
  std::fflush(stdout);
  // A protocol given up on may still be blocked in a call on its thread: end
  // without running destructors under it.
  std::_Exit(std::ferror(stdout) ? 1 : status);
}
