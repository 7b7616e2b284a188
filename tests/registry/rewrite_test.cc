#include "registry/rewrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/process.h"
#include "common/signal_cleanup.h"
#include "support/test_dir.h"

namespace kxsane {
namespace {

namespace fs = std::filesystem;
using kxsane::testing::TestDir;

// Sets the umask for the lifetime of the object.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }

 private:
  mode_t old_;
};

mode_t mode_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// The names in `dir`, sorted, one per line.
std::string entries(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  std::string out;
  for (const auto& name : names) out += name + "\n";
  return out;
}

Status write_text(int fd, const std::string& text) {
  const ssize_t written = ::write(fd, text.data(), text.size());
  if (written != static_cast<ssize_t>(text.size()))
    return Status::Failed("short write");
  return Status::Ok();
}

// A binary content with NUL and 0xFF bytes, longer than one copy buffer.
std::string binary_content() {
  std::string content;
  for (int i = 0; i < 200000; ++i) content += static_cast<char>(i % 256);
  return content;
}

TEST(RewriteTempFile, PrivateFileFromTheTemplateRemovedWhenDone) {
  TestDir dir;
  const std::string tmpl = dir.file("tmp/kxsane_tempfile4_XXXXXX");
  auto made = make_temp_file(tmpl);
  ASSERT_TRUE(made.ok());
  std::unique_ptr<TempFile> temp = std::move(*made);
  const std::string path = temp->path();
  EXPECT_EQ(path.size(), tmpl.size());
  EXPECT_EQ(path.substr(0, path.size() - 6), tmpl.substr(0, tmpl.size() - 6));
  EXPECT_NE(path.substr(path.size() - 6), "XXXXXX");
  EXPECT_EQ(mode_of(path), 0600);
  ASSERT_TRUE(temp->write("line\n").ok());
  EXPECT_EQ(dir.read("tmp/" + fs::path(path).filename().string()), "line\n");
  temp.reset();
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(make_temp_file(dir.file("missing/kxsane_tempfile4_XXXXXX")).status().message(),
            "cannot create a temporary file: No such file or directory");
}

// A file that a signal could not remove is not made at all.
TEST(RewriteTempFile, RefusedWhenNoSignalCleanupSlotIsFree) {
  TestDir dir;
  std::vector<int> taken;
  for (int slot; (slot = add_cleanup_file(AT_FDCWD, "/nonexistent")) >= 0;) taken.push_back(slot);
  EXPECT_FALSE(make_temp_file(dir.file("tmp/kxsane_tempfile4_XXXXXX")).ok());
  EXPECT_EQ(replace_file(dir.file("cfg/registry"), [](int, int) { return Status::Ok(); })
                .message()
                .find("no room"),
            0u);
  for (int slot : taken) remove_cleanup_file(slot);
  EXPECT_EQ(entries(dir.file("tmp")), "");
  EXPECT_EQ(entries(dir.file("cfg")), "models4\n");
}

TEST(RewriteCopy, AppendsEveryByteBehindWhatIsThere) {
  TestDir dir;
  dir.write("src", binary_content());
  dir.write("dst", "first\n");
  const UniqueFd fd(::open(dir.file("dst").c_str(), O_WRONLY | O_APPEND));
  ASSERT_TRUE(fd.valid());
  EXPECT_TRUE(copy_file(dir.file("src"), fd.get(), false).ok());
  EXPECT_EQ(dir.read("dst"), "first\n" + binary_content());
}

TEST(RewriteCopy, MissingSourceCopiesNothingAndFailsUnlessAllowed) {
  TestDir dir;
  dir.write("dst", "kept\n");
  const UniqueFd fd(::open(dir.file("dst").c_str(), O_WRONLY | O_APPEND));
  ASSERT_TRUE(fd.valid());
  EXPECT_TRUE(copy_file(dir.file("missing"), fd.get(), true).ok());
  const Status status = copy_file(dir.file("missing"), fd.get(), false);
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find(dir.file("missing")), std::string::npos) << status.message();
  EXPECT_EQ(dir.read("dst"), "kept\n");
}

TEST(RewriteCopy, ReadAndWriteErrorsAreErrors) {
  TestDir dir;
  dir.write("src", "data\n");
  const UniqueFd read_only(::open(dir.file("src").c_str(), O_RDONLY));
  ASSERT_TRUE(read_only.valid());
  EXPECT_FALSE(copy_file(dir.file("src"), read_only.get(), true).ok());
  // A directory opens but cannot be read.
  const UniqueFd fd(::open(dir.file("dst").c_str(), O_WRONLY | O_CREAT, 0600));
  EXPECT_FALSE(copy_file(dir.file("tmp"), fd.get(), true).ok());
  const UniqueFd full(::open("/dev/full", O_WRONLY));
  if (full.valid()) {
    EXPECT_FALSE(copy_file(dir.file("src"), full.get(), true).ok());
  }
}

TEST(RewriteReplace, NewFileGetsDefaultModeLessUmask) {
  TestDir dir;
  for (const mode_t mask : {022, 027, 077}) {
    ScopedUmask umask(mask);
    const std::string target = dir.file("cfg/new" + std::to_string(mask));
    ASSERT_TRUE(replace_file(target, [](int, int fd) { return write_text(fd, "x\n"); }).ok());
    EXPECT_EQ(mode_of(target), 0666 & ~mask);
    EXPECT_EQ(dir.read("cfg/new" + std::to_string(mask)), "x\n");
  }
}

// The permission bits stay; setuid, setgid and sticky never come back (a
// registry hard-linked to a setuid program).
TEST(RewriteReplace, ExistingFileKeepsPermissionsOwnerAndGroup) {
  TestDir dir;
  const std::string target = dir.file("cfg/registry");
  const bool root = ::geteuid() == 0;
  ScopedUmask umask(077);
  for (const auto& [mode, kept] :
       {std::pair<mode_t, mode_t>{0604, 0604}, {04755, 0755}, {02750, 0750}, {01777, 0777}}) {
    dir.write("cfg/registry", "old\n");
    ASSERT_EQ(::chmod(target.c_str(), mode), 0);
    if (root) {
      ASSERT_EQ(::chown(target.c_str(), 1234, 4321), 0);
      ASSERT_EQ(::chmod(target.c_str(), mode), 0);  // chown cleared setuid
    }
    ASSERT_TRUE(replace_file(target, [](int, int fd) { return write_text(fd, "new\n"); }).ok());
    EXPECT_EQ(dir.read("cfg/registry"), "new\n");
    EXPECT_EQ(mode_of(target), kept) << std::oct << mode;
    if (root) {
      struct stat st {};
      ASSERT_EQ(::stat(target.c_str(), &st), 0);
      EXPECT_EQ(st.st_uid, 1234u);
      EXPECT_EQ(st.st_gid, 4321u);
    }
  }
}

TEST(RewriteReplace, LinkStaysALinkAndItsTargetGetsTheContent) {
  TestDir dir;
  dir.write("cfg/saved/real.cfg", "old\n");
  // A chain: cfg/registry -> hop (relative), hop -> saved/real.cfg.
  fs::create_symlink("saved/real.cfg", dir.file("cfg/hop"));
  fs::create_symlink("hop", dir.file("cfg/registry"));
  std::string staging_seen;
  ASSERT_TRUE(replace_file(dir.file("cfg/registry"), [&](int, int fd) {
                staging_seen = fs::read_symlink("/proc/self/fd/" + std::to_string(fd));
                return write_text(fd, "new\n");
              }).ok());
  EXPECT_TRUE(fs::is_symlink(dir.file("cfg/registry")));
  EXPECT_TRUE(fs::is_symlink(dir.file("cfg/hop")));
  EXPECT_EQ(dir.read("cfg/saved/real.cfg"), "new\n");
  // Staged beside the file it replaces, so the rename never crosses file
  // systems.
  EXPECT_EQ(fs::path(staging_seen).parent_path(), fs::path(dir.file("cfg/saved")));
  EXPECT_EQ(entries(dir.file("cfg/saved")), "real.cfg\n");
}

TEST(RewriteReplace, FailureLeavesTheTargetAndNoStagingFile) {
  TestDir dir;
  dir.write("cfg/registry", "old\n");
  const Status status = replace_file(dir.file("cfg/registry"), [](int, int fd) {
    write_text(fd, "half");
    return Status::Failed("produce failed");
  });
  EXPECT_FALSE(status.ok());
  EXPECT_EQ(status.message(), "produce failed");
  EXPECT_EQ(dir.read("cfg/registry"), "old\n");
  EXPECT_EQ(entries(dir.file("cfg")), "models4\nregistry\n");
}

TEST(RewriteReplace, MissingDirectoryFailsAndCreatesNothing) {
  TestDir dir;
  EXPECT_FALSE(replace_file(dir.file("nowhere/registry"), [](int, int fd) {
                 return write_text(fd, "x\n");
               }).ok());
  EXPECT_FALSE(fs::exists(dir.file("nowhere")));
}

TEST(RewritePipeline, AFailingStageAnywhereIsAFailure) {
  EXPECT_TRUE(run_pipeline("true | true", -1).ok());
  EXPECT_FALSE(run_pipeline("false | true", -1).ok());
  EXPECT_FALSE(run_pipeline("true | kxsane-no-such-tool | cat > /dev/null", -1).ok());
  EXPECT_FALSE(run_pipeline("echo x > /dev/full", -1).ok());
}

TEST(RewritePipeline, WritesThroughTheDescriptorItIsGiven) {
  TestDir dir;
  const std::string out = dir.file("tmp/out");
  const UniqueFd fd(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  ASSERT_TRUE(fd.valid());
  EXPECT_TRUE(run_pipeline("printf 'a\\na\\nb\\n' | uniq", fd.get()).ok());
  EXPECT_EQ(dir.read("tmp/out"), "a\nb\n");
}

class RewritePrepend : public ::testing::Test {
 protected:
  // New lines in the temporary file, then prepend; returns the status.
  Status prepend(const std::string& lines) {
    auto temp = make_temp_file(paths_.temp_template);
    if (!temp.ok())
      return temp.status();
    EXPECT_TRUE((*temp)->write(lines).ok());
    return prepend_to_config(paths_, **temp);
  }
  std::optional<std::string> registry() const { return dir_.read("cfg/kxsanenetdevice4.cfg"); }

  TestDir dir_;
  Paths paths_ = dir_.paths();
};

TEST_F(RewritePrepend, NewLinesOnTopAndOnlyAdjacentDuplicatesCollapse) {
  dir_.write("cfg/kxsanenetdevice4.cfg", "a\nb\n\n\nc\na\n");
  ASSERT_TRUE(prepend("a\n").ok());
  EXPECT_EQ(registry(), "a\nb\n\nc\na\n");
  ASSERT_TRUE(prepend("z\n").ok());
  EXPECT_EQ(registry(), "z\na\nb\n\nc\na\n");
  EXPECT_EQ(entries(dir_.file("tmp")), "");
  EXPECT_EQ(entries(dir_.file("cfg")), "kxsanenetdevice4.cfg\nmodels4\n");
}

TEST_F(RewritePrepend, MissingRegistryIsWrittenFromTheNewLinesAlone) {
  ASSERT_TRUE(prepend("only\n").ok());
  EXPECT_EQ(registry(), "only\n");
}

TEST_F(RewritePrepend, ContentWithHighBytesSurvives) {
  dir_.write("cfg/kxsanenetdevice4.cfg", "x\xff\xfey\n\xff\n");
  ASSERT_TRUE(prepend("new\n").ok());
  EXPECT_EQ(registry(), "new\nx\xff\xfey\n\xff\n");
}

TEST_F(RewritePrepend, PathsThatNeedQuotingReachTheShellIntact) {
  const std::string odd = dir_.file("odd dir 'q' $HOME;x");
  fs::create_directories(odd);
  paths_.config_dir = odd + "/";
  paths_.device_config = odd + "//kxsanenetdevice4.cfg";
  paths_.temp_template = odd + "/tmp file_XXXXXX";
  dir_.write("odd dir 'q' $HOME;x/kxsanenetdevice4.cfg", "old\n");
  ASSERT_TRUE(prepend("new\n").ok());
  EXPECT_EQ(dir_.read("odd dir 'q' $HOME;x/kxsanenetdevice4.cfg"), "new\nold\n");
  EXPECT_EQ(entries(odd), "kxsanenetdevice4.cfg\n");
}

TEST_F(RewritePrepend, UnreadableRegistryIsAFailureNotAnEmptyFile) {
  // A directory in the registry's place opens but cannot be read: the copy
  // fails and nothing is replaced.
  fs::create_directories(dir_.file("cfg/kxsanenetdevice4.cfg"));
  EXPECT_FALSE(prepend("new\n").ok());
  EXPECT_TRUE(fs::is_directory(dir_.file("cfg/kxsanenetdevice4.cfg")));
}

}  // namespace
}  // namespace kxsane
