#include "common/safe_file.h"

#include <fcntl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/test_dir.h"

namespace kxsane {
namespace {

namespace fs = std::filesystem;
using kxsane::testing::TestDir;

// A chain of `links` links to a regular file: cfg/l<links> -> ... -> cfg/l1
// -> cfg/file; returns the path of its first link.
std::string link_chain(const TestDir& dir, int links) {
  dir.write("cfg/file", "content\n");
  std::string target = "file";
  for (int i = 1; i <= links; ++i) {
    const std::string name = "l" + std::to_string(i);
    fs::create_symlink(target, dir.file("cfg/" + name));
    target = name;
  }
  return dir.file("cfg/" + target);
}

TEST(SafeFileLocate, FollowsFortyLinksAndRefusesTheFortyFirst) {
  const struct {
    int links;
    bool opened;
  } kCases[] = {{0, true}, {1, true}, {40, true}, {41, false}};
  for (const auto& c : kCases) {
    TestDir dir;
    const Result<UniqueFd> fd = open_regular(link_chain(dir, c.links));
    EXPECT_EQ(fd.ok() && fd->valid(), c.opened) << c.links << ": " << fd.status().message();
    if (!c.opened) {
      EXPECT_NE(fd.status().message().find("too many levels of symbolic links"), std::string::npos);
    }
  }
}

// A link that takes the place of the located name before it is opened is
// not followed.
TEST(SafeFileOpen, FinalNameThatIsALinkIsRefused) {
  TestDir dir;
  link_chain(dir, 1);
  FileLocation where;
  where.dir = UniqueFd(::open(dir.file("cfg").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  where.name = "l1";
  where.path = dir.file("cfg/l1");
  EXPECT_FALSE(open_regular_at(where).ok());
}

}  // namespace
}  // namespace kxsane
