// How the device configuration file (and a label file) is changed: new
// content is put together in a temporary file, a pipeline of the standard
// tools writes the result into a staging file created beside the target,
// and only a complete result is renamed over the target. Any failure on the
// way, or a signal that ends the tool, leaves the target byte for byte as it
// was, and no temporary or staging file behind.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/paths.h"
#include "common/safe_file.h"
#include "common/status.h"

namespace kxsane {

// A temporary file made securely from the template (mkstemp), open for
// writing through its descriptor. It is never opened again by name by the
// tool; the shell reads it by name while it exists. Deleted when destroyed,
// or when a signal ends the tool.
class TempFile {
 public:
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }
  int fd() const { return fd_.get(); }

  // Writes all of `text`; fails on a short write (no space left, ...).
  Status write(const std::string& text);

 private:
  friend Result<std::unique_ptr<TempFile>> make_temp_file(const std::string& name_template);
  TempFile(std::string path, UniqueFd fd, int cleanup_slot);

  std::string path_;
  UniqueFd fd_;
  int cleanup_slot_;
};

// Creates a temporary file from `name_template` (six trailing X), registered
// for removal should a signal end the tool. Failed when it cannot be created
// or registered.
Result<std::unique_ptr<TempFile>> make_temp_file(const std::string& name_template);

// Appends the whole content of the regular file `src` to the descriptor
// `dst_fd`. A missing `src` copies nothing and succeeds when `missing_ok`;
// anything else that is no regular file, a link that cannot be trusted and
// any open, read or write failure are errors.
Status copy_file(const std::string& src, int dst_fd, bool missing_ok);

// How long a change waits for another run's lock before it gives up.
inline constexpr int kLockWaitSeconds = 15;

// An exclusive lock (flock) on the configuration directory, held for the
// object's lifetime, so that commands which change the registry never
// interleave.
class ConfigLock {
 public:
  // Waits at most kLockWaitSeconds for the lock; Failed when it is not to be
  // had. When the directory cannot be opened there is nothing to protect
  // and no lock is taken; the change then fails when it is written.
  static Result<ConfigLock> take(const std::string& config_dir);

  ConfigLock(ConfigLock&&) = default;
  ConfigLock& operator=(ConfigLock&&) = default;

 private:
  explicit ConfigLock(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;
};

// Produces the new content of a file: `old_fd` reads the file being
// replaced (-1 when there is none), `staging_fd` receives the new content.
using Producer = std::function<Status(int old_fd, int staging_fd)>;

// Writes new content for `path` into a staging file created exclusively
// beside it and, when `produce` succeeds and the content is on disk, renames
// it over `path`. Links to `path` are followed only when root or the tool's
// user owns them (see locate()), so a link stays a link and its target gets
// the content. Only a regular file (or none) is replaced. The new file keeps
// the old one's permission bits (never setuid, setgid or sticky), owner,
// group, access ACL and other extended attributes; a new file gets 0666 less
// the umask. On failure the staging
// file is removed and `path` is as it was.
Status replace_file(const std::string& path, const Producer& produce);

// Prepend: appends the device configuration file behind the lines already in
// `temp`, then writes "uniq <temp>" over the device configuration file
// through replace_file.
Status prepend_to_config(const Paths& paths, TempFile& temp);

// Builds the command text of one filter pass from its input, a temporary
// file; the pass writes its result on standard output.
using FilterPass = std::function<std::string(const std::string& input)>;

// Filter: runs `passes` one after another, each over the output of the one
// before. A pass copies its input (the device configuration file for the
// first pass, the previous pass's output after that) into a temporary file,
// `first` for the first pass and a fresh one for each later pass, and runs
// its command. The device configuration file is replaced once, by the last
// pass's output; with no pass it is not touched.
Status filter_config(const Paths& paths, TempFile& first, const std::vector<FilterPass>& passes);

// A change to the registry, run inside the frame: it reads what it needs
// (the registry through a DeviceList it loads, a label file), decides, and
// writes through `temp` and replace_file. It returns the outcome.
using RegistryChange = std::function<Status(TempFile& temp)>;

// The one frame of every command that changes the device configuration
// file, in one order: makes the temporary file, takes the configuration
// lock, runs `change` (which loads, decides and rewrites) and, whatever
// happened, removes the temporary file and releases the lock. Returns what
// `change` returned, or Failed when the temporary file or the lock could not
// be had (nothing read or changed then).
Status change_registry(const Paths& paths, const RegistryChange& change);

// The line (with its line break) that says the device configuration file
// (or another file the tool changes) was left as it was, and why.
std::string unchanged_message(const std::string& path, const Status& why);

}  // namespace kxsane
