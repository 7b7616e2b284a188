// Times what the finder makes of what it found (merging by address, model
// matching, naming) for 2,048 scanners against a table of 10,000 models
// (bench/match_bench.sh runs it). Half the models are "KX-n", half "KX-n MFP",
// so that a scanner announcing the longer one also holds the shorter; half
// the scanners announce a model of the table only as words of a longer text,
// the other half none at all, which every model is tried against.
//
// Usage: kxsane_match_bench [RUNS]
// Prints, per run, the time of one survey in milliseconds, and how many
// scanners it matched.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "discovery/survey.h"

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  constexpr int kModels = 10000;
  constexpr int kScanners = 2048;
  // The machine at 10.0.0.1 on 10.0.0.0/8.
  const std::vector<kxsane::Ipv4Network> kNetworks = {{0x0A000001, 0xFF000000}};
  std::vector<std::string> models;
  for (int i = 0; i < kModels; ++i)
    models.push_back("KX-" + std::to_string(10000 + i % (kModels / 2)) +
                     (i < kModels / 2 ? "" : " MFP"));
  std::vector<kxsane::Sighting> sightings;
  for (int i = 0; i < kScanners; ++i) {
    const std::string n = std::to_string(i % 2 == 0 ? 10000 + i : 90000 + i);
    kxsane::Sighting s;
    s.service = "_uscan._tcp";
    s.name = "Scanner " + std::to_string(i);
    s.host = "kx" + std::to_string(i) + ".local";
    s.address = "10.1." + std::to_string(i / 200) + "." + std::to_string(1 + i % 200);
    s.model_texts = {"KX" + n + "x"};
    s.model_words = "Kestrel KX-" + n + " MFP color duplex Series";
    s.announced = s.model_words;
    sightings.push_back(std::move(s));
  }
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const auto found = kxsane::survey(sightings, models, {}, kNetworks);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    int matched = 0;
    for (const auto& scanner : found) matched += scanner.model.has_value() ? 1 : 0;
    std::printf("%.1f ms, matched: %d of %zu\n", took.count(), matched, found.size());
  }
  return 0;
}
