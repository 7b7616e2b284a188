#include "common/process.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kxsane {

namespace {

// The shell used for pipelines: bash is essential on the systems the tool is
// made for, and unlike dash it can report a failed stage inside a pipeline.
constexpr char kPipelineShell[] = "/bin/bash";

// The environment of a pipeline: the tool's own, with the C locale for every
// category. The registry is bytes: in a UTF-8 locale sed's "." does not match a
// byte outside the character set (a hand-written Latin-1 model text would keep
// its device line), and uniq compares lines by collation, not byte for byte.
std::vector<char*> pipeline_environment() {
  static char c_locale[] = "LC_ALL=C";
  std::vector<char*> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "LC_ALL=", 7) != 0)
      env.push_back(*entry);
  }
  env.push_back(c_locale);
  env.push_back(nullptr);
  return env;
}

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
  std::vector<char*> env = pipeline_environment();
  pid_t pid = 0;
  const int spawn_error = posix_spawn(&pid, kPipelineShell, nullptr, nullptr,
                                      const_cast<char* const*>(argv), env.data());
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
