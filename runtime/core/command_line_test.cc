#include "runtime/core/command_line.h"

#include "gtest/gtest.h"

namespace qzr {
namespace {

TEST(CommandLineTest, SwitchesMatchWholeArgumentsWithoutCase) {
  SetProgramArguments({"list", "/lwDBG", "/LWdbgReg"});
  EXPECT_TRUE(HasProgramSwitch("/LWdbg"));
  EXPECT_TRUE(HasProgramSwitch("/LWdbgReg"));
  EXPECT_FALSE(HasProgramSwitch("/LW"));
  EXPECT_EQ(ProgramArguments().size(), 3u);
  SetProgramArguments({});
  EXPECT_FALSE(HasProgramSwitch("/LWdbg"));
}

}  // namespace
}  // namespace qzr
