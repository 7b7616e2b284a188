#include "cli/dispatch.h"

#include <gtest/gtest.h>

#include <vector>

namespace kxsane {
namespace {

std::int32_t code(std::vector<const char*> args) {
  args.insert(args.begin(), "kxsaneconfig4");
  return option_code(static_cast<int>(args.size()), const_cast<char**>(args.data()));
}

TEST(OptionCode, TwoAndThreeByteOptions) {
  EXPECT_EQ(code({}), 0);
  EXPECT_EQ(code({"-a"}), 0x2D61);
  EXPECT_EQ(code({"-D3"}), 0x2D4433);
  EXPECT_EQ(code({"-s:"}), 0x2D733A);
  EXPECT_EQ(code({"-l:"}), 0x2D6C3A);
  EXPECT_EQ(code({"-LI"}), 0x2D4C49);
  EXPECT_EQ(code({"-?"}), 0x2D3F);
}

TEST(OptionCode, BytesAfterTheThirdNeverCount) {
  EXPECT_EQ(code({"-s:office"}), code({"-s:"}));
  EXPECT_EQ(code({"-D3x"}), code({"-D3"}));
  EXPECT_EQ(code({"-LIfoo"}), code({"-LI"}));
}

TEST(OptionCode, ShortArgumentsAreUnrecognised) {
  EXPECT_EQ(code({""}), -1);
  EXPECT_EQ(code({"-"}), -1);
}

TEST(OptionCode, HighBytesAreUnsigned) {
  EXPECT_EQ(code({"\xff\xff\xff"}), 0xFFFFFF);
}

}  // namespace
}  // namespace kxsane
