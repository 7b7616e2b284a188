// kxsanefind4 --watch: the watcher's front end. It listens to the LAN until
// SIGTERM or SIGINT and logs one line per event on standard output.
#pragma once

#include <string>

#include "discovery/watch.h"

namespace kxsane {

// Where the watcher keeps what it has seen across restarts.
inline constexpr char kWatchStateDir[] = "/var/lib/kxsanefind4";

// Runs the watcher with `options` against the system's fixed paths, keeping
// its state in `state_dir`; says READY=1 to systemd once it listens. Returns
// the exit status: 0 after a signal to end, 1 when it cannot listen at all.
int run_watch(const WatchOptions& options, const std::string& state_dir);

}  // namespace kxsane
