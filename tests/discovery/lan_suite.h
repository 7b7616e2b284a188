// A test suite on one private LAN (built once, a few seconds) shared by its
// cases; each case gets a fresh sandbox on the admin side with two models.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "discovery/lan.h"
#include "e2e/sandbox.h"

namespace kxsane::lan {

inline constexpr char kLanModels[] =
    "[Support Model]\n"
    "0x4ab:0x123, 503, 1, \"KX-100\", 1, 2\n"
    "0x4ab:0x124, 503, 1, \"KX-200\", 1, 2\n";

// Checks one object of the --json list; a null `model` means none matched.
inline void expect_json_scanner(const nlohmann::json& scanner, const char* address,
                                const char* name, const char* model) {
  SCOPED_TRACE(address);
  EXPECT_EQ(scanner["address"], address);
  EXPECT_EQ(scanner["name"], name);
  EXPECT_EQ(scanner["model"], model ? nlohmann::json(model) : nlohmann::json(nullptr));
}

class LanSuite : public ::testing::Test {
 protected:
  // Builds the LAN under `work` and lets `populate` start what the scanner
  // side announces; a failure is kept and reported by every case.
  static void start_lan(const std::string& work,
                        const std::function<std::string(const Lan&)>& populate) {
    if (!e2e::Sandbox::unavailable_reason().empty() || !Lan::unavailable_reason().empty())
      return;
    lan_ = std::make_unique<Lan>(work);
    if (lan_->error().empty())
      setup_error_ = populate(*lan_);
  }
  static void TearDownTestSuite() { lan_.reset(); }

  void SetUp() override {
    KXSANE_REQUIRE_SANDBOX();
    if (!Lan::unavailable_reason().empty())
      GTEST_SKIP() << "LAN test skipped: " << Lan::unavailable_reason();
    ASSERT_EQ(lan_->error(), "");
    ASSERT_EQ(setup_error_, "");
    sandbox_ = std::make_unique<e2e::Sandbox>();
    sandbox_->write("models4/kx.ini", kLanModels);
  }

  // Runs on the admin side; without its Avahi daemon when `avahi` is false
  // (a /run of its own hides the side's system bus).
  e2e::RunOptions on_admin_side(bool avahi = true) const {
    e2e::RunOptions options;
    options.enter = lan_->admin_enter();
    if (!avahi) {
      for (const char* arg : {"unshare", "-m", "--propagation", "private", "/bin/sh", "-c",
                              "mount -t tmpfs kxsane-run /run && exec \"$@\"", "sh"})
        options.enter.emplace_back(arg);
    }
    return options;
  }

  // Runs `kxsanefind4 --json` with `args` on the admin side; the list it
  // printed (a failure and an empty list when it failed or printed
  // something else).
  nlohmann::json run_json(std::vector<std::string> args = {}) const {
    args.insert(args.begin(), "--json");
    const e2e::RunResult result = sandbox_->run(args, on_admin_side());
    EXPECT_EQ(result.status, 0) << result.err;
    nlohmann::json list = nlohmann::json::parse(result.out, nullptr, false);
    EXPECT_TRUE(list.is_array()) << result.out;
    return list.is_array() ? list : nlohmann::json::array();
  }

  static inline std::unique_ptr<Lan> lan_;
  static inline std::string setup_error_;
  std::unique_ptr<e2e::Sandbox> sandbox_;
};

}  // namespace kxsane::lan
