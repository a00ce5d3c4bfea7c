#include "runtime/values/ufo_memo.h"

#include <string>

#include "gtest/gtest.h"

namespace qzr {
namespace {

TEST(UfoMemoTest, ReadsAndWritesTheStringItPointsAt) {
  std::string code = "int main() {}";
  UfoMemo memo(&code, 64000);
  EXPECT_EQ(memo.TextView(), "int main() {}");
  memo.SetText("print('hi')\n");
  EXPECT_EQ(code, "print('hi')\n");
  // Clones see the same storage, also after it grew.
  std::unique_ptr<UFO> clone = memo.Clone();
  code.assign(10000, 'x');
  char buf[8];
  EXPECT_EQ(clone->GetText(buf, sizeof buf), 10000u);
  EXPECT_EQ(memo.Size(), 64000u);
  memo.Clear(1);
  EXPECT_EQ(code, "");
  EXPECT_TRUE(memo.IsFalse());
}

TEST(UfoMemoTest, LongerTextStopsAtACharacterBoundary) {
  std::string code;
  UfoMemo memo(&code, 5);
  memo.SetText("abcd\xC3\xA9");  // "abcdé": 6 bytes
  EXPECT_EQ(code, "abcd");
  memo.SetText(
      "ab\xE2\x82\xAC"
      "x");  // "ab€x": 6 bytes
  EXPECT_EQ(code, "ab\xE2\x82\xAC");
  char raw[5];
  EXPECT_EQ(memo.StoreRaw(raw), 5u);
  EXPECT_EQ(std::string(raw, 5), "ab\xE2\x82\xAC");
}

}  // namespace
}  // namespace qzr
