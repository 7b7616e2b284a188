// Opening the tool's files as a root tool must. Any file it opens may be a
// symbolic link, a FIFO or a device, and a directory on the way may be
// writable by someone else. So links are followed only when root or the
// tool's own user placed them, the final name is opened without following
// links, files are opened without blocking and checked on the descriptor
// (not by name), and nothing is ever written by name: new content goes into
// a file created exclusively beside the old one.
#pragma once

#include <string>

#include "common/closers.h"
#include "common/status.h"

namespace kxsane {

// A file descriptor that closes itself.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();

 private:
  int fd_ = -1;
};

// Where a path leads: a directory, opened, and a name in it that is no
// symbolic link (or does not exist yet).
struct FileLocation {
  UniqueFd dir;
  std::string name;
  std::string path;  // as asked for, for messages
};

// Follows `path` component by component. A symbolic link on the way, or as
// the final name, is followed only when it is owned by root or by the
// effective user (at most 40 of them). NotFound when a directory on the way
// is missing; Failed when a link is owned by anyone else, or when a
// directory on the way is no directory.
Result<FileLocation> locate(const std::string& path);

// Opens the location's name for reading, without following a link and
// without blocking: the descriptor of a regular file. NotFound when there is
// no such file; Failed for anything else (a FIFO, a device, a directory, a
// link that appeared after `locate`).
Result<UniqueFd> open_regular_at(const FileLocation& where);

// locate() and open_regular_at() in one.
Result<UniqueFd> open_regular(const std::string& path);

// open_regular() as a stream for reading.
Result<UniqueFile> open_regular_stream(const std::string& path);

// A file just created, and its name in its directory.
struct CreatedFile {
  std::string name;
  UniqueFd fd;
};

// Creates a new file with a unique name made from `prefix` in `dir`,
// exclusively and readable and writable by its owner only.
Result<CreatedFile> create_exclusive_at(const UniqueFd& dir, const std::string& prefix);

// Appends everything from the current offset of `in` to `out`.
Status copy_fd(int in, int out);

// Writes all of `size` bytes; fails on a short write (no space left, ...).
Status write_all(int fd, const char* data, std::size_t size);

// "<what>: <strerror(errno)>".
Status errno_error(const std::string& what);

}  // namespace kxsane
