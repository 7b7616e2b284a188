// Owners for what the C library opens, so that every way out of a function
// closes it.
#pragma once

#include <dirent.h>

#include <cstdio>
#include <memory>

namespace kxsane {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

}  // namespace kxsane
