#include "common/safe_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace kxsane {

namespace {

constexpr int kMaxLinks = 40;

// The components of `path` in reverse order, for a stack: the first one
// last. Empty components (double slashes) are left out.
void push_components(const std::string& path, std::vector<std::string>& stack) {
  std::size_t end = path.size();
  while (end > 0) {
    const std::size_t slash = path.rfind('/', end - 1);
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    if (end > start)
      stack.push_back(path.substr(start, end - start));
    if (slash == std::string::npos)
      break;
    end = slash;
  }
}

UniqueFd open_root(const std::string& path) {
  return UniqueFd(::open(path.starts_with('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// Whether a link owned by `uid` may be followed: the rule the kernel applies
// to links in sticky directories.
bool trusted_owner(uid_t uid) {
  return uid == 0 || uid == ::geteuid();
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0)
    ::close(fd_);
}

int UniqueFd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

Status errno_error(const std::string& what) {
  return Status::Failed(what + ": " + std::strerror(errno));
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

Status copy_fd(int in, int out) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      return errno_error("read");
    }
    if (got == 0)
      return Status::Ok();
    Status status = write_all(out, buffer, static_cast<std::size_t>(got));
    if (!status.ok())
      return status;
  }
}

Result<FileLocation> locate(const std::string& path) {
  std::vector<std::string> pending;
  push_components(path, pending);
  UniqueFd dir = open_root(path);
  if (!dir.valid())
    return errno_error(path);
  int links = 0;
  while (!pending.empty()) {
    const std::string name = std::move(pending.back());
    pending.pop_back();
    const bool last = pending.empty();
    UniqueFd node(::openat(dir.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!node.valid()) {
      if (errno == ENOENT && last) {
        return FileLocation{std::move(dir), name, path};
      }
      // A directory on the way that is missing: so is the file.
      if (errno == ENOENT)
        return Status::NotFound(path + ": " + std::strerror(ENOENT));
      return errno_error(path);
    }
    struct stat st {};
    if (::fstat(node.get(), &st) != 0)
      return errno_error(path);
    if (S_ISLNK(st.st_mode)) {
      if (!trusted_owner(st.st_uid)) {
        return Status::Failed(path + ": leads through a symbolic link owned by user " +
                              std::to_string(st.st_uid));
      }
      if (++links > kMaxLinks)
        return Status::Failed(path + ": too many levels of symbolic links");
      // The link read is the very one whose owner was checked.
      char target[PATH_MAX];
      const ssize_t length = ::readlinkat(node.get(), "", target, sizeof target - 1);
      if (length < 0)
        return errno_error(path);
      target[length] = '\0';
      push_components(target, pending);
      if (target[0] == '/')
        dir = open_root(target);
      if (!dir.valid())
        return errno_error(path);
      continue;
    }
    if (last) {
      return FileLocation{std::move(dir), name, path};
    }
    if (!S_ISDIR(st.st_mode))
      return Status::Failed(path + ": " + std::strerror(ENOTDIR));
    dir = std::move(node);
  }
  return Status::Failed(path + ": names no file");
}

Result<UniqueFd> open_regular_at(const FileLocation& where) {
  UniqueFd fd(::openat(where.dir.get(), where.name.c_str(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) {
    return errno == ENOENT ? Status::NotFound(where.path + ": " + std::strerror(ENOENT))
                           : errno_error(where.path);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0)
    return errno_error(where.path);
  if (!S_ISREG(st.st_mode))
    return Status::Failed(where.path + ": not a regular file");
  return fd;
}

Result<UniqueFd> open_regular(const std::string& path) {
  Result<FileLocation> where = locate(path);
  if (!where.ok())
    return where.status();
  return open_regular_at(*where);
}

Result<UniqueFile> open_regular_stream(const std::string& path) {
  Result<UniqueFd> fd = open_regular(path);
  if (!fd.ok())
    return fd.status();
  UniqueFile file(::fdopen(fd->get(), "r"));
  if (!file)
    return errno_error(path);
  fd->release();
  return file;
}

Result<CreatedFile> create_exclusive_at(const UniqueFd& dir, const std::string& prefix) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[6];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
      return errno_error("getrandom");
    std::string name = prefix;
    for (unsigned char r : random) name += kLetters[r % (sizeof kLetters - 1)];
    UniqueFd fd(::openat(dir.get(), name.c_str(),
                         O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.valid())
      return CreatedFile{std::move(name), std::move(fd)};
    if (errno != EEXIST)
      return errno_error("cannot create a new file " + name);
  }
  return Status::Failed("cannot create a new file " + prefix + "XXXXXX: every name taken");
}

}  // namespace kxsane
