// How the device configuration file (and a label file) is changed: new
// content is put together in a temporary file, a pipeline of the standard
// tools writes the result into a staging file beside the target, and only a
// complete result is renamed over the target. Any failure on the way leaves
// the target byte for byte as it was.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/paths.h"
#include "common/status.h"

namespace kxsane {

// A temporary file made securely from the template (mkstemp), open for
// writing through its descriptor. It is never opened again by name by the
// tool; the shell reads it by name while it exists. Deleted when destroyed.
class TempFile {
 public:
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }
  int fd() const { return fd_; }

  // Writes all of `text`; fails on a short write (no space left, ...).
  Status write(const std::string& text);

 private:
  friend std::unique_ptr<TempFile> make_temp_file(const std::string& name_template);
  TempFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

  std::string path_;
  int fd_;
};

// Creates a temporary file from `name_template` (six trailing X). None when it
// cannot be created.
std::unique_ptr<TempFile> make_temp_file(const std::string& name_template);

// Makes the temporary file that a command changing the registry starts
// with; when none can be made, prints the line that says the device
// configuration file is left unchanged, and why, and returns none.
std::unique_ptr<TempFile> make_command_temp_file(const Paths& paths);

// Appends the whole content of the file `src` to the descriptor `dst_fd`.
// A missing `src` copies nothing and succeeds when `missing_ok`; any other
// open, read or write failure is an error.
Status copy_file(const std::string& src, int dst_fd, bool missing_ok);

// Holds an exclusive lock (flock) on the configuration directory for its
// lifetime, so that commands which change the registry never interleave.
// When the directory cannot be opened there is nothing to protect and no lock
// is taken; the change then fails when it is written.
class ConfigLock {
 public:
  explicit ConfigLock(const std::string& config_dir);
  ~ConfigLock();
  ConfigLock(const ConfigLock&) = delete;
  ConfigLock& operator=(const ConfigLock&) = delete;

 private:
  int fd_ = -1;
};

// Writes new content for `path` into a staging file beside it and, when
// `produce` succeeds and the content is on disk, renames it over `path`.
// `produce` gets the staging file's path and an open descriptor of it. A
// symbolic link stays a link and its target gets the content; an existing
// file keeps its mode, owner and group; a new file gets 0666 less the umask.
// On failure the staging file is removed and `path` is as it was.
Status replace_file(const std::string& path,
                    const std::function<Status(const std::string& staging_path, int fd)>& produce);

// Prepend: appends the device configuration file behind the lines already in
// `temp`, then writes "uniq <temp> > <staging>" over the device configuration
// file through replace_file.
Status prepend_to_config(const Paths& paths, TempFile& temp);

// Builds the command text of one filter pass from its input (a temporary
// file) and its output (the staging file).
using FilterPass = std::function<std::string(const std::string& input, const std::string& output)>;

// Filter: runs `passes` one after another, each over the output of the one
// before. A pass copies its input (the device configuration file for the
// first pass, the previous pass's output after that) into a temporary file,
// `first` for the first pass and a fresh one for each later pass, and runs
// its command. The device configuration file is replaced once, by the last
// pass's output; with no pass it is not touched.
Status filter_config(const Paths& paths, TempFile& first, const std::vector<FilterPass>& passes);

// Prints the one line that says the device configuration file (or another
// file the tool changes) was left as it was, and why.
void report_unchanged(const std::string& path, const Status& why);

}  // namespace kxsane
