#include "common/process.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace kxsane {

namespace {

// The shell used for pipelines: bash is essential on the systems the tool is
// made for, and unlike dash it can report a failed stage inside a pipeline.
constexpr char kPipelineShell[] = "/bin/bash";

}  // namespace

int run_echoed(const std::string& command) {
  std::fputs(command.c_str(), stdout);
  std::fputc('\n', stdout);
  return run_shell(command);
}

int run_shell(const std::string& command) {
  std::fflush(stdout);
  return std::system(command.c_str());
}

Status run_pipeline(const std::string& command) {
  std::fflush(stdout);
  const char* argv[] = {"bash", "-o", "pipefail", "-c", command.c_str(), nullptr};
  pid_t pid = 0;
  const int spawn_error =
      posix_spawn(&pid, kPipelineShell, nullptr, nullptr, const_cast<char* const*>(argv), environ);
  if (spawn_error != 0) {
    return Status::Error(std::string("cannot run ") + kPipelineShell + ": " +
                         std::strerror(spawn_error));
  }
  int wait_status = 0;
  while (waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR)
      return Status::Error(std::string("wait: ") + std::strerror(errno));
  }
  if (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0)
    return Status::Ok();
  if (WIFSIGNALED(wait_status)) {
    return Status::Error("pipeline killed by signal " + std::to_string(WTERMSIG(wait_status)));
  }
  return Status::Error("pipeline failed with status " + std::to_string(WEXITSTATUS(wait_status)));
}

}  // namespace kxsane
