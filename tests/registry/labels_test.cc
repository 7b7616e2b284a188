#include "registry/labels.h"

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/test_dir.h"

namespace kxsane {
namespace {

using testing::capture_stdout;
using testing::TestDir;

TEST(LabelPath, BuildsThePathInTheConfigurationDirectory) {
  const Paths paths;
  char dst[512];
  EXPECT_EQ(label_path(paths, "-s:office", dst, sizeof dst), 1);
  EXPECT_STREQ(dst, "/etc/opt/kestrel/scanner/kxscan4/office.kxsaneconfig4");
  EXPECT_EQ(label_path(paths, "-l:", dst, 48), 1);
  EXPECT_STREQ(dst, "/etc/opt/kestrel/scanner/kxscan4/.kxsaneconfig4");
  EXPECT_EQ(label_path(paths, "-s:..", dst, sizeof dst), 1);
  EXPECT_STREQ(dst, "/etc/opt/kestrel/scanner/kxscan4/...kxsaneconfig4");
}

TEST(LabelPath, RefusalsLeaveTheEmptyPath) {
  const Paths paths;
  char dst[512];
  for (const char* argument : {"-s:../x", "-s:/etc/passwd", "-l:a/b", "-s:x/", "-s"}) {
    dst[0] = 'x';
    EXPECT_EQ(label_path(paths, argument, dst, sizeof dst), -1) << argument;
    EXPECT_STREQ(dst, "") << argument;
  }
  dst[0] = 'x';
  EXPECT_EQ(label_path(paths, "-s:", dst, 47), -1);
  EXPECT_STREQ(dst, "");
}

TEST(LabelPath, LongestLabelThatFitsAndOneMore) {
  const Paths paths;
  char dst[512];
  // 33 + 464 + 14 characters and the terminator fill the 512 bytes.
  const std::string fits = "-s:" + std::string(464, 'a');
  EXPECT_EQ(label_path(paths, fits.c_str(), dst, sizeof dst), 1);
  EXPECT_EQ(std::string(dst).size(), 511u);
  const std::string too_long = "-s:" + std::string(465, 'a');
  EXPECT_EQ(label_path(paths, too_long.c_str(), dst, sizeof dst), -1);
  EXPECT_STREQ(dst, "");
}

class LabelSaveLoad : public ::testing::Test {
 protected:
  std::string label_file(const std::string& label) {
    return dir_.paths().config_dir + label + ".kxsaneconfig4";
  }
  int run(int direction, const std::string& path, std::string* out = nullptr) {
    int result = 0;
    const std::string printed =
        capture_stdout([&] { result = save_or_load(dir_.paths(), direction, path.c_str()); });
    if (out != nullptr) {
      *out = printed;
    } else {
      EXPECT_EQ(printed, "");
    }
    return result;
  }

  TestDir dir_;
};

TEST_F(LabelSaveLoad, EmptyPathAndUnknownDirectionTouchNothing) {
  dir_.write("cfg/kxsanenetdevice4.cfg", "cfg\n");
  dir_.write("cfg/x.kxsaneconfig4", "label\n");
  EXPECT_EQ(run(0, ""), 0);
  EXPECT_EQ(run(1, ""), 0);
  EXPECT_EQ(run(2, label_file("x")), 0);
  EXPECT_EQ(run(-1, label_file("x")), 0);
  EXPECT_EQ(dir_.read("cfg/kxsanenetdevice4.cfg"), "cfg\n");
  EXPECT_EQ(dir_.read("cfg/x.kxsaneconfig4"), "label\n");
}

TEST_F(LabelSaveLoad, SaveThatFailsReadingKeepsTheOldLabelWhole) {
  std::filesystem::create_directory(dir_.file("cfg/kxsanenetdevice4.cfg"));
  dir_.write("cfg/old.kxsaneconfig4", "old\n");
  EXPECT_EQ(run(0, label_file("old")), 0);
  EXPECT_EQ(dir_.read("cfg/old.kxsaneconfig4"), "old\n");
}

TEST_F(LabelSaveLoad, LabelThatIsNoRegularFileIsAWrongParameter) {
  dir_.write("cfg/kxsanenetdevice4.cfg", "cfg\n");
  std::filesystem::create_directory(dir_.file("cfg/dir.kxsaneconfig4"));
  std::string out;
  EXPECT_EQ(run(1, label_file("dir"), &out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(dir_.read("cfg/kxsanenetdevice4.cfg"), "cfg\n");
}

TEST_F(LabelSaveLoad, LabelFileNameOfTheLongestLengthIsSaved) {
  // 241 + 14 characters: the longest name a directory entry may have.
  const std::string label(241, 'l');
  dir_.write("cfg/kxsanenetdevice4.cfg", "cfg\n");
  EXPECT_EQ(run(0, label_file(label)), 1);
  EXPECT_EQ(dir_.read("cfg/" + label + ".kxsaneconfig4"), "cfg\n");
  EXPECT_EQ(run(1, label_file(label)), 1);
}

TEST_F(LabelSaveLoad, DestinationsKeepTheirModes) {
  dir_.write("cfg/kxsanenetdevice4.cfg", "cfg\n");
  dir_.write("cfg/l.kxsaneconfig4", "label\n");
  ::chmod(dir_.file("cfg/kxsanenetdevice4.cfg").c_str(), 0640);
  ::chmod(dir_.file("cfg/l.kxsaneconfig4").c_str(), 0604);
  EXPECT_EQ(run(0, label_file("l")), 1);
  EXPECT_EQ(run(1, label_file("l")), 1);
  struct stat st {};
  ASSERT_EQ(::stat(dir_.file("cfg/kxsanenetdevice4.cfg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_EQ(::stat(dir_.file("cfg/l.kxsaneconfig4").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
}

}  // namespace
}  // namespace kxsane
