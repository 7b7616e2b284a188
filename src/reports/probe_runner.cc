#include "reports/probe_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "common/process.h"
#include "common/safe_file.h"
#include "common/status.h"

namespace kxsane {

namespace {

// A block's command, from its start until it has ended and been reaped.
struct Probe {
  pid_t pid = -1;
  UniqueFd output;     // the read end of its standard output while it runs
  std::string held;    // what it wrote before its block's turn came
  bool ended = false;  // also for a block without command
};

class BlockRunner {
 public:
  explicit BlockRunner(const std::vector<ProbeBlock>& blocks)
      : blocks_(blocks), probes_(blocks.size()) {}

  void run() {
    std::fflush(stdout);
    for (;;) {
      start_probes();
      write_ready_blocks();
      write_out();
      if (head_ == blocks_.size())
        return;
      const Status status = read_output();
      if (!status.ok()) {
        std::fprintf(stderr, "%s\n", status.message().c_str());
        stop_probes();
        return;
      }
      write_out();
    }
  }

 private:
  // Starts blocks in order while fewer than kMaxRunningProbes run.
  void start_probes() {
    while (next_ < blocks_.size() && running_ < kMaxRunningProbes) {
      if (!start(next_))
        return;
      ++next_;
    }
  }

  // False when the command must wait for a running one to end: processes or
  // descriptors may be short only for as long as the others run.
  bool start(std::size_t index) {
    Probe& probe = probes_[index];
    const std::string& command = blocks_[index].command;
    if (command.empty()) {
      probe.ended = true;
      return true;
    }
    Status why = Status::Ok();
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) == 0) {
      const UniqueFd write_end(ends[1]);
      probe.output = UniqueFd(ends[0]);
      const Result<pid_t> pid = start_shell(command, write_end.get());
      if (pid.ok()) {
        probe.pid = *pid;
        ++running_;
        return true;
      }
      why = pid.status();
      probe.output = UniqueFd();
    } else {
      why = errno_error("pipe");
    }
    if (running_ > 0)
      return false;
    std::fprintf(stderr, "%s\n", why.message().c_str());
    probe.ended = true;
    return true;
  }

  // Queues the head block's heading and held output once, and moves on past
  // every block that has ended.
  void write_ready_blocks() {
    while (head_ < blocks_.size()) {
      Probe& probe = probes_[head_];
      if (!head_written_) {
        out_ += blocks_[head_].heading;
        out_ += probe.held;
        std::string().swap(probe.held);
        head_written_ = true;
      }
      if (!probe.ended)
        return;
      ++head_;
      head_written_ = false;
    }
  }

  // Waits until a running probe writes or ends, and takes what it wrote:
  // the head block's output is queued, a later block's held, up to
  // kHeldOutputMax. The head block has not ended, so at least one probe runs
  // and its pipe is always watched.
  Status read_output() {
    std::vector<pollfd> polled;
    std::vector<std::size_t> owners;
    for (std::size_t index = head_; index < next_; ++index) {
      const Probe& probe = probes_[index];
      if (probe.output.valid() && (index == head_ || probe.held.size() < kHeldOutputMax)) {
        polled.push_back({probe.output.get(), POLLIN, 0});
        owners.push_back(index);
      }
    }
    if (::poll(polled.data(), polled.size(), -1) < 0)
      return errno == EINTR ? Status::Ok() : errno_error("waiting for the probes' output");
    for (std::size_t i = 0; i < polled.size(); ++i) {
      if (polled[i].revents != 0)
        read_from(owners[i]);
    }
    return Status::Ok();
  }

  void read_from(std::size_t index) {
    Probe& probe = probes_[index];
    char buffer[1 << 16];
    std::size_t room = sizeof buffer;
    if (index != head_)
      room = std::min(room, kHeldOutputMax - probe.held.size());
    const ssize_t got = ::read(probe.output.get(), buffer, room);
    if (got < 0 && errno == EINTR)
      return;
    if (got > 0) {
      if (index == head_) {
        out_.append(buffer, static_cast<std::size_t>(got));
      } else {
        hold(probe.held, buffer, static_cast<std::size_t>(got));
      }
      return;
    }
    // End of its output (or a pipe that cannot be read): the shell is done
    // with it and is reaped.
    probe.output = UniqueFd();
    wait_child(probe.pid);
    probe.ended = true;
    --running_;
  }

  // Appends to held output without growing it past kHeldOutputMax of room.
  static void hold(std::string& held, const char* data, std::size_t size) {
    if (held.size() + size > held.capacity())
      held.reserve(std::min(std::max(2 * held.capacity(), held.size() + size), kHeldOutputMax));
    held.append(data, size);
  }

  // Stops every probe that runs; their blocks are not written.
  void stop_probes() {
    for (std::size_t index = head_; index < next_; ++index) {
      Probe& probe = probes_[index];
      if (probe.output.valid()) {
        probe.output = UniqueFd();
        stop_child(probe.pid);
      }
    }
    running_ = 0;
  }

  // Writes what is ready for standard output, before the runner waits
  // again. Failures go unreported, as everywhere the reports print: there is
  // nowhere left to report them.
  void write_out() {
    (void)write_all(STDOUT_FILENO, out_.data(), out_.size());
    out_.clear();
  }

  const std::vector<ProbeBlock>& blocks_;
  std::vector<Probe> probes_;
  std::size_t next_ = 0;       // the next block to start
  std::size_t head_ = 0;       // the block whose turn it is to be written
  bool head_written_ = false;  // its heading and held output are out
  int running_ = 0;
  // Output ready to be written; one write for many short blocks in a row.
  std::string out_;
};

}  // namespace

void run_probe_blocks(const std::vector<ProbeBlock>& blocks) {
  BlockRunner(blocks).run();
}

}  // namespace kxsane
