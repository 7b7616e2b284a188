#include "registry/rewrite.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "common/process.h"
#include "common/safe_file.h"
#include "common/shell_command.h"
#include "common/signal_cleanup.h"

namespace kxsane {

namespace {

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return ".";
  if (slash == 0)
    return "/";
  return path.substr(0, slash);
}

// Copies every extended attribute of `from` to `to`: the access ACL
// (system.posix_acl_access) among them, and a security label.
Status keep_extended_attributes(int from, int to) {
  const ssize_t size = ::flistxattr(from, nullptr, 0);
  if (size < 0)
    return errno == ENOTSUP ? Status::Ok() : errno_error("listing extended attributes");
  std::string names(static_cast<std::size_t>(size), '\0');
  const ssize_t got = ::flistxattr(from, names.data(), names.size());
  if (got < 0)
    return errno_error("listing extended attributes");
  names.resize(static_cast<std::size_t>(got));
  for (std::size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
    const char* name = names.c_str() + at;
    const ssize_t length = ::fgetxattr(from, name, nullptr, 0);
    if (length < 0)
      return errno_error(std::string("reading ") + name);
    std::string value(static_cast<std::size_t>(length), '\0');
    const ssize_t read = ::fgetxattr(from, name, value.data(), value.size());
    if (read < 0)
      return errno_error(std::string("reading ") + name);
    if (::fsetxattr(to, name, value.data(), static_cast<std::size_t>(read), 0) != 0)
      return errno_error(std::string("keeping ") + name);
  }
  return Status::Ok();
}

// Gives the staging file what the file it replaces carries, or the mode a
// newly created file would have.
Status take_attributes(int old_fd, int staging_fd) {
  if (old_fd < 0) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(staging_fd, 0666 & ~mask) != 0)
      return errno_error("setting the mode");
    return Status::Ok();
  }
  struct stat st {};
  if (::fstat(old_fd, &st) != 0)
    return errno_error("reading the old file's attributes");
  if (::fchown(staging_fd, st.st_uid, st.st_gid) != 0)
    return errno_error("keeping the owner");
  // Never setuid, setgid or sticky: a registry that is a hard link to a
  // setuid program must not hand the new file that bit.
  if (::fchmod(staging_fd, st.st_mode & 0777) != 0)
    return errno_error("keeping the mode");
  return keep_extended_attributes(old_fd, staging_fd);
}

Status sync_directory(const UniqueFd& dir) {
  const UniqueFd fd(::openat(dir.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid() || ::fsync(fd.get()) != 0)
    return errno_error("syncing the directory");
  return Status::Ok();
}

// Why `path` cannot be reached: its directory missing says what to do.
Status unreachable(const std::string& path, const Status& why) {
  struct stat st {};
  const std::string dir = directory_of(path);
  if (::stat(dir.c_str(), &st) != 0 && errno == ENOENT)
    return Status::Failed("the directory " + dir +
                          " is missing (install the package or create it)");
  return why;
}

// Empties `fd` and starts writing it again from the beginning.
Status rewind_empty(int fd) {
  if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
    return errno_error("emptying the staging file");
  return Status::Ok();
}

Status seek_to_start(int fd) {
  if (fd >= 0 && ::lseek(fd, 0, SEEK_SET) != 0)
    return errno_error("rewinding");
  return Status::Ok();
}

}  // namespace

TempFile::TempFile(std::string path, UniqueFd fd, int cleanup_slot)
    : path_(std::move(path)), fd_(std::move(fd)), cleanup_slot_(cleanup_slot) {}

TempFile::~TempFile() {
  fd_ = UniqueFd();
  ::unlink(path_.c_str());
  remove_cleanup_file(cleanup_slot_);
}

Status TempFile::write(const std::string& text) {
  const Status status = write_all(fd_.get(), text.data(), text.size());
  return status.ok() ? status : Status::Failed(path_ + ": " + status.message());
}

Result<std::unique_ptr<TempFile>> make_temp_file(const std::string& name_template) {
  std::string name = name_template;
  // Held back until the file is registered for removal on a signal.
  const SignalsHeld held;
  UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (!fd.valid())
    return errno_error("cannot create a temporary file");
  const int slot = add_cleanup_file(AT_FDCWD, name.c_str());
  if (slot < 0) {
    ::unlink(name.c_str());
    return Status::Failed("cannot create a temporary file: no room to note it for removal");
  }
  return std::unique_ptr<TempFile>(new TempFile(std::move(name), std::move(fd), slot));
}

Status copy_file(const std::string& src, int dst_fd, bool missing_ok) {
  Result<UniqueFd> in = open_regular(src);
  if (in.status().not_found() && missing_ok)
    return Status::Ok();
  if (!in.ok())
    return in.status();
  return copy_fd(in->get(), dst_fd);
}

Result<ConfigLock> ConfigLock::take(const std::string& config_dir) {
  UniqueFd fd(::open(config_dir.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid())
    return ConfigLock(UniqueFd());
  // Polled rather than waited for, so that the wait has an end.
  constexpr auto kPoll = std::chrono::milliseconds(20);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kLockWaitSeconds);
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR)
      continue;
    if (errno != EWOULDBLOCK)
      return errno_error("cannot lock " + config_dir);
    if (std::chrono::steady_clock::now() >= deadline) {
      return Status::Failed("the registry is locked by another run (waited " +
                            std::to_string(kLockWaitSeconds) + " s)");
    }
    std::this_thread::sleep_for(kPoll);
  }
  return ConfigLock(std::move(fd));
}

Status replace_file(const std::string& path, const Producer& produce) {
  Result<FileLocation> located = locate(path);
  if (!located.ok())
    return unreachable(path, located.status());
  const FileLocation& where = *located;
  Result<UniqueFd> opened = open_regular_at(where);
  if (!opened.ok() && !opened.status().not_found())
    return opened.status();
  const UniqueFd old = opened.ok() ? std::move(*opened) : UniqueFd();
  // The staging name adds eight characters; a target name near the longest
  // a directory entry may have is shortened in it, not refused.
  std::string prefix = "." + where.name;
  constexpr std::size_t kStagingExtra = 7;  // "." before, six letters after
  if (prefix.size() > NAME_MAX - kStagingExtra)
    prefix.resize(NAME_MAX - kStagingExtra);
  prefix += '.';
  std::string staging_name;
  UniqueFd staging;
  int slot = -1;
  {
    const SignalsHeld held;
    Result<CreatedFile> created = create_exclusive_at(where.dir, prefix);
    if (!created.ok())
      return Status::Failed(created.status().message() + " in " + directory_of(path));
    staging_name = std::move(created->name);
    staging = std::move(created->fd);
    slot = add_cleanup_file(where.dir.get(), staging_name.c_str());
    if (slot < 0) {
      ::unlinkat(where.dir.get(), staging_name.c_str(), 0);
      return Status::Failed("no room to note " + staging_name + " for removal");
    }
  }

  Status status = produce(old.get(), staging.get());
  if (status.ok())
    status = take_attributes(old.get(), staging.get());
  if (status.ok() && ::fsync(staging.get()) != 0)
    status = errno_error("writing " + path);
  if (::close(staging.release()) != 0 && status.ok())
    status = errno_error("writing " + path);
  {
    // Only complete content on disk replaces the old file; rename is atomic.
    const SignalsHeld held;
    if (status.ok() && ::renameat(where.dir.get(), staging_name.c_str(), where.dir.get(),
                                  where.name.c_str()) != 0) {
      status = errno_error("cannot replace " + path);
    }
    if (!status.ok())
      ::unlinkat(where.dir.get(), staging_name.c_str(), 0);
    remove_cleanup_file(slot);
  }
  if (!status.ok())
    return status;
  return sync_directory(where.dir);
}

Status prepend_to_config(const Paths& paths, TempFile& temp) {
  return replace_file(paths.device_config, [&](int old_fd, int staging_fd) {
    if (old_fd >= 0) {
      Status status = copy_fd(old_fd, temp.fd());
      if (!status.ok())
        return status;
    }
    return run_pipeline(uniq_command(temp.path()), staging_fd);
  });
}

Status filter_config(const Paths& paths, TempFile& first, const std::vector<FilterPass>& passes) {
  if (passes.empty())
    return Status::Ok();
  return replace_file(paths.device_config, [&](int old_fd, int staging_fd) {
    int input = old_fd;
    for (std::size_t i = 0; i < passes.size(); ++i) {
      std::unique_ptr<TempFile> fresh;
      if (i > 0) {
        Result<std::unique_ptr<TempFile>> made = make_temp_file(paths.temp_template);
        if (!made.ok())
          return made.status();
        fresh = std::move(*made);
      }
      TempFile& temp = i == 0 ? first : *fresh;
      Status status = seek_to_start(input);
      if (status.ok() && input >= 0)
        status = copy_fd(input, temp.fd());
      if (status.ok())
        status = rewind_empty(staging_fd);
      if (status.ok())
        status = run_pipeline(passes[i](temp.path()), staging_fd);
      if (!status.ok())
        return status;
      input = staging_fd;
    }
    return Status::Ok();
  });
}

Status change_registry(const Paths& paths, const RegistryChange& change) {
  Result<std::unique_ptr<TempFile>> temp = make_temp_file(paths.temp_template);
  if (!temp.ok())
    return temp.status();
  Result<ConfigLock> lock = ConfigLock::take(paths.config_dir);
  if (!lock.ok())
    return lock.status();
  return change(**temp);
}

std::string unchanged_message(const std::string& path, const Status& why) {
  return "Could not update " + path + ", it was left unchanged: " + why.message() + "\n";
}

}  // namespace kxsane
