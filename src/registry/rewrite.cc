#include "registry/rewrite.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/process.h"
#include "common/shell_command.h"

namespace kxsane {

namespace {

Status errno_error(const std::string& what) {
  return Status::Error(what + ": " + std::strerror(errno));
}

Status write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return errno_error("write");
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return Status::Ok();
}

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return ".";
  if (slash == 0)
    return "/";
  return path.substr(0, slash);
}

std::string base_name_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file that a write to `path` must reach: symbolic links followed, so
// that a link stays a link. A dangling link resolves to the path it names.
Status resolve_links(const std::string& path, std::string& target) {
  target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) {
      if (errno == ENOENT)
        return Status::Ok();
      return errno_error(target);
    }
    if (!S_ISLNK(st.st_mode))
      return Status::Ok();
    char link[PATH_MAX];
    const ssize_t length = ::readlink(target.c_str(), link, sizeof link - 1);
    if (length < 0)
      return errno_error(target);
    link[length] = '\0';
    target = link[0] == '/' ? std::string(link) : directory_of(target) + "/" + link;
  }
  return Status::Error(path + ": too many levels of symbolic links");
}

// Gives the staging file the mode, owner and group of the file it replaces,
// or the mode a newly created file would have.
Status take_attributes(int fd, const std::string& target) {
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    if (::fchown(fd, st.st_uid, st.st_gid) != 0)
      return errno_error("keeping the owner");
    if (::fchmod(fd, st.st_mode & 07777) != 0)
      return errno_error("keeping the mode");
    return Status::Ok();
  }
  if (errno != ENOENT)
    return errno_error(target);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd, 0666 & ~mask) != 0)
    return errno_error("setting the mode");
  return Status::Ok();
}

void sync_directory(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

TempFile::~TempFile() {
  ::close(fd_);
  ::unlink(path_.c_str());
}

Status TempFile::write(const std::string& text) {
  const Status status = write_all(fd_, text.data(), text.size());
  return status.ok() ? status : Status::Error(path_ + ": " + status.message());
}

std::unique_ptr<TempFile> make_temp_file(const std::string& name_template) {
  std::string name = name_template;
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0)
    return nullptr;
  return std::unique_ptr<TempFile>(new TempFile(name, fd));
}

std::unique_ptr<TempFile> make_command_temp_file(const Paths& paths) {
  std::unique_ptr<TempFile> temp = make_temp_file(paths.temp_template);
  if (!temp) {
    report_unchanged(paths.device_config, errno_error("cannot create a temporary file"));
  }
  return temp;
}

Status copy_file(const std::string& src, int dst_fd, bool missing_ok) {
  const int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    if (errno == ENOENT && missing_ok)
      return Status::Ok();
    return errno_error(src);
  }
  char buffer[1 << 16];
  Status status = Status::Ok();
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      status = errno_error(src);
      break;
    }
    if (got == 0)
      break;
    status = write_all(dst_fd, buffer, static_cast<std::size_t>(got));
    if (!status.ok())
      break;
  }
  ::close(in);
  return status;
}

ConfigLock::ConfigLock(const std::string& config_dir) {
  fd_ = ::open(config_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0)
    return;
  while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

ConfigLock::~ConfigLock() {
  if (fd_ >= 0)
    ::close(fd_);
}

Status replace_file(const std::string& path,
                    const std::function<Status(const std::string& staging_path, int fd)>& produce) {
  std::string target;
  Status status = resolve_links(path, target);
  if (!status.ok())
    return status;
  const std::string dir = directory_of(target);
  // The staging name adds eight characters; a target name near the longest
  // a directory entry may have is shortened in it, not refused.
  std::string base = base_name_of(target);
  constexpr std::size_t kStagingExtra = 8;  // "." before, ".XXXXXX" after
  if (base.size() > NAME_MAX - kStagingExtra)
    base.resize(NAME_MAX - kStagingExtra);
  std::string staging = dir + "/." + base + ".XXXXXX";
  const int fd = ::mkostemp(staging.data(), O_CLOEXEC);
  if (fd < 0)
    return errno_error("cannot create a new file in " + dir);

  status = produce(staging, fd);
  if (status.ok())
    status = take_attributes(fd, target);
  if (status.ok() && ::fsync(fd) != 0)
    status = errno_error(staging);
  if (::close(fd) != 0 && status.ok())
    status = errno_error(staging);
  // Only complete content on disk replaces the old file; rename is atomic.
  if (status.ok() && ::rename(staging.c_str(), target.c_str()) != 0) {
    status = errno_error("cannot replace " + target);
  }
  if (!status.ok()) {
    ::unlink(staging.c_str());
    return status;
  }
  sync_directory(dir);
  return status;
}

Status prepend_to_config(const Paths& paths, TempFile& temp) {
  Status status = copy_file(paths.device_config, temp.fd(), /*missing_ok=*/true);
  if (!status.ok())
    return status;
  return replace_file(paths.device_config, [&](const std::string& staging, int) {
    return run_pipeline(uniq_command(temp.path(), staging));
  });
}

Status filter_config(const Paths& paths, TempFile& first, const std::vector<FilterPass>& passes) {
  if (passes.empty())
    return Status::Ok();
  return replace_file(paths.device_config, [&](const std::string& staging, int) {
    std::string input = paths.device_config;
    for (std::size_t i = 0; i < passes.size(); ++i) {
      std::unique_ptr<TempFile> fresh;
      if (i > 0) {
        fresh = make_temp_file(paths.temp_template);
        if (!fresh)
          return errno_error("cannot create a temporary file");
      }
      TempFile& temp = i == 0 ? first : *fresh;
      Status status = copy_file(input, temp.fd(), /*missing_ok=*/i == 0);
      if (!status.ok())
        return status;
      status = run_pipeline(passes[i](temp.path(), staging));
      if (!status.ok())
        return status;
      input = staging;
    }
    return Status::Ok();
  });
}

void report_unchanged(const std::string& path, const Status& why) {
  std::printf("Could not update %s, it was left unchanged: %s\n", path.c_str(),
              why.message().c_str());
}

}  // namespace kxsane
