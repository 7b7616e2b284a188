#include "cli/watch_command.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <systemd/sd-daemon.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

#include "common/paths.h"
#include "common/signal_cleanup.h"
#include "discovery/dnssd.h"
#include "discovery/watch_sources.h"

namespace kxsane {

namespace {

// Sightings wait here for the watcher; a flood beyond this is dropped (a
// device that matters says itself again).
constexpr std::size_t kMaxQueued = 1024;
constexpr std::chrono::seconds kTick{5};

class HeardQueue {
 public:
  void push(Heard heard) {
    {
      const std::lock_guard lock(mutex_);
      if (queue_.size() >= kMaxQueued)
        return;
      queue_.push_back(std::move(heard));
    }
    ready_.notify_one();
  }
  void stop() {
    {
      const std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    ready_.notify_one();
  }
  // Waits until `until` for sightings; false once stopped.
  bool take(std::deque<Heard>& out, WatchClock::time_point until) {
    std::unique_lock lock(mutex_);
    ready_.wait_until(lock, until, [&] { return stopped_ || !queue_.empty(); });
    out.swap(queue_);
    return !stopped_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Heard> queue_;
  bool stopped_ = false;
};

void print(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) std::fputs(line.c_str(), stdout);
  if (!lines.empty())
    std::fflush(stdout);
}

void say(const std::string& line) {
  print({line + "\n"});
}

}  // namespace

int run_watch(const WatchOptions& options, const std::string& state_dir) {
  // SIGTERM and SIGINT end the watcher between two events, never inside a
  // change: they are taken by a thread of their own, in every thread held.
  arm_signal_cleanup();
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGINT);
  pthread_sigmask(SIG_BLOCK, &ending, nullptr);

  // Before any thread starts: it changes the environment.
  use_standard_system_bus();
  const Paths paths;
  ModelTable models(paths.models_dir, paths.main_model_file);
  if (const Status loaded = models.load(); !loaded.ok()) {
    say("cannot read the model table, nothing will be registered: " + loaded.message());
    models.free_model_table();
  }
  ::mkdir(state_dir.c_str(), 0755);
  Watcher watcher(options, paths, models, local_networks(), state_dir + "/state.json");
  if (const Status state = watcher.load_state(); !state.ok())
    say("starting without the devices seen before: " + state.message());

  HeardQueue queue;
  std::thread([&] {
    int signal = 0;
    sigwait(&ending, &signal);
    queue.stop();
  }).detach();

  const HeardSink sink = [&](Heard heard) { queue.push(std::move(heard)); };
  WsdWatch wsd;
  const Status wsd_open = wsd.open();
  if (!wsd_open.ok())
    say("WS-Discovery is not watched: " + wsd_open.message());
  else
    std::thread([&] { wsd.run(sink); }).detach();
  std::mutex ready_mutex;
  std::condition_variable ready_cv;
  bool dnssd_ready = false;
  const std::function<void()> ready = [&] {
    {
      const std::lock_guard lock(ready_mutex);
      dnssd_ready = true;
    }
    ready_cv.notify_one();
  };
  std::thread([&] { watch_dnssd(sink, ready); }).detach();
  {
    std::unique_lock lock(ready_mutex);
    ready_cv.wait(lock, [&] { return dnssd_ready; });
  }
  say(std::string("watching") + (options.add ? ", registering new scanners" : "") +
      (options.follow ? ", following moved scanners" : ""));
  sd_notify(0, "READY=1");

  std::deque<Heard> heard;
  WatchClock::time_point next_tick = WatchClock::now() + kTick;
  while (queue.take(heard, next_tick)) {
    for (const Heard& h : heard) print(watcher.on_heard(h, WatchClock::now()));
    heard.clear();
    if (WatchClock::now() >= next_tick) {
      print(watcher.on_tick(WatchClock::now()));
      if (const Status saved = watcher.save_state(); !saved.ok())
        say("cannot keep the devices seen: " + saved.message());
      next_tick = WatchClock::now() + kTick;
    }
  }
  sd_notify(0, "STOPPING=1");
  watcher.save_state();
  std::fflush(stdout);
  return 0;
}

}  // namespace kxsane
