#include "registry/labels.h"

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "support/test_dir.h"

namespace kxsane {
namespace {

using testing::TestDir;

TEST(LabelPath, BuildsThePathInTheConfigurationDirectory) {
  const Paths paths;
  EXPECT_EQ(label_path(paths, "-s:office"),
            "/etc/opt/kestrel/scanner/kxscan4/office.kxsaneconfig4");
  EXPECT_EQ(label_path(paths, "-l:"), "/etc/opt/kestrel/scanner/kxscan4/.kxsaneconfig4");
  EXPECT_EQ(label_path(paths, "-s:.."), "/etc/opt/kestrel/scanner/kxscan4/...kxsaneconfig4");
}

TEST(LabelPath, LabelsThatLeaveTheDirectoryAreRefused) {
  const Paths paths;
  for (const char* argument : {"-s:../x", "-s:/etc/passwd", "-l:a/b", "-s:x/", "-s"}) {
    EXPECT_EQ(label_path(paths, argument), std::nullopt) << argument;
  }
}

TEST(LabelPath, LongestLabelThatFitsAndOneMore) {
  const Paths paths;
  // 33 + 464 + 14 characters fill the 512-byte buffer with its terminator.
  const std::string fits = "-s:" + std::string(464, 'a');
  EXPECT_EQ(label_path(paths, fits.c_str()).value_or("").size(), 511u);
  const std::string too_long = "-s:" + std::string(465, 'a');
  EXPECT_EQ(label_path(paths, too_long.c_str()), std::nullopt);
}

class LabelSaveLoad : public ::testing::Test {
 protected:
  std::string label_file(const std::string& label) {
    return dir_.paths().config_dir + label + ".kxsaneconfig4";
  }
  // Saves (direction 0) or loads (1); whether it succeeded.
  bool run(int direction, const std::string& path) { return outcome(direction, path).ok(); }
  Status outcome(int direction, const std::string& path) {
    return save_or_load(dir_.paths(),
                        direction == 0 ? LabelDirection::kSave : LabelDirection::kLoad, path);
  }

  TestDir dir_;
};

TEST_F(LabelSaveLoad, EmptyPathTouchesNothing) {
  dir_.write("cfg/kxsanenetdevice4.cfg", "cfg\n");
  dir_.write("cfg/x.kxsaneconfig4", "label\n");
  EXPECT_FALSE(run(0, ""));
  EXPECT_FALSE(run(1, ""));
  EXPECT_EQ(dir_.read("cfg/kxsanenetdevice4.cfg"), "cfg\n");
  EXPECT_EQ(dir_.read("cfg/x.kxsaneconfig4"), "label\n");
}

TEST_F(LabelSaveLoad, SaveThatFailsReadingKeepsTheOldLabelWhole) {
  std::filesystem::create_directory(dir_.file("cfg/kxsanenetdevice4.cfg"));
  dir_.write("cfg/old.kxsaneconfig4", "old\n");
  EXPECT_FALSE(run(0, label_file("old")));
  EXPECT_EQ(dir_.read("cfg/old.kxsaneconfig4"), "old\n");
}

TEST_F(LabelSaveLoad, LabelThatIsNoRegularFileIsAWrongParameter) {
  dir_.write("cfg/kxsanenetdevice4.cfg", "cfg\n");
  std::filesystem::create_directory(dir_.file("cfg/dir.kxsaneconfig4"));
  EXPECT_TRUE(outcome(1, label_file("dir")).refused());
  EXPECT_EQ(dir_.read("cfg/kxsanenetdevice4.cfg"), "cfg\n");
}

TEST_F(LabelSaveLoad, LabelFileNameOfTheLongestLengthIsSaved) {
  // 241 + 14 characters: the longest name a directory entry may have.
  const std::string label(241, 'l');
  dir_.write("cfg/kxsanenetdevice4.cfg", "cfg\n");
  EXPECT_TRUE(run(0, label_file(label)));
  EXPECT_EQ(dir_.read("cfg/" + label + ".kxsaneconfig4"), "cfg\n");
  EXPECT_TRUE(run(1, label_file(label)));
}

TEST_F(LabelSaveLoad, DestinationsKeepTheirModes) {
  dir_.write("cfg/kxsanenetdevice4.cfg", "cfg\n");
  dir_.write("cfg/l.kxsaneconfig4", "label\n");
  ::chmod(dir_.file("cfg/kxsanenetdevice4.cfg").c_str(), 0640);
  ::chmod(dir_.file("cfg/l.kxsaneconfig4").c_str(), 0604);
  EXPECT_TRUE(run(0, label_file("l")));
  EXPECT_TRUE(run(1, label_file("l")));
  struct stat st {};
  ASSERT_EQ(::stat(dir_.file("cfg/kxsanenetdevice4.cfg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_EQ(::stat(dir_.file("cfg/l.kxsaneconfig4").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
}

}  // namespace
}  // namespace kxsane
