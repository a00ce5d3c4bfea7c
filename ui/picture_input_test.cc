#include "ui/picture_input.h"

#include <gtest/gtest.h>

namespace qzr {
namespace {

TEST(PictureInputTest, AcceptsWhatThePictureReadsAndRejectsTheRest) {
  struct Case {
    const char* picture;
    const char* text;
    bool valid;
    const char* value;  // when valid
  };
  const Case kCases[] = {
      {"@s5", "abc", true, "abc"},
      {"@s5", "abcde", true, "abcde"},
      {"@s5", "abcdef", false, ""},
      {"@s5", "äöüßé", true, "äöüßé"},  // five characters, ten bytes
      {"@s5", "", true, ""},
      {"@n5", "123", true, "123"},
      {"@n5", " 12 ", true, "12"},
      {"@n5", "-12", true, "-12"},
      {"@n5", "12a", false, ""},
      {"@n5", "1.5.", false, ""},
      {"@n3", "1234", false, ""},
      {"@n3", "0012", true, "12"},
      {"@n12`.2", "1,234.50", true, "1234.5"},
      {"@n9.2", "1,234.50", false, ""},
      {"@n$9.2", "$12.50", true, "12.5"},
      {"@n-14", "", true, "0"},
      {"@e12.2", "1.5e3", true, "1500"},
      {"@e12.2", "x", false, ""},
      {"@d2", "07/04/2026", true, nullptr},
      {"@d2", "not a date", false, ""},
      {"@d2", "", true, "0"},
      {"@t1", "12:30", true, nullptr},
      {"@t1", "xx", false, ""},
      {"@p###-##p", "123-45", true, "12345"},
      {"@p###-##p", "12345", true, "12345"},
      {"@p###-##p", "123456", false, ""},
      {"@p###-##p", "12x45", false, ""},
      {"@k###-@@k", "123-ab", true, nullptr},
      {"@k###-@@k", "123ab", true, nullptr},
      {"@k###-@@k", "12a-ab", false, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.picture) + " <- \"" + c.text + "\"");
    const CompiledPicture pic = CompilePicture(c.picture);
    ASSERT_TRUE(pic.valid());
    std::string value = "unchanged";
    EXPECT_EQ(ParseInput(pic, c.text, &value), c.valid);
    if (!c.valid) {
      EXPECT_EQ(value, "unchanged");
    } else if (c.value != nullptr) {
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST(PictureInputTest, DisplaysValuesTrimmed) {
  EXPECT_EQ(DisplayText(CompilePicture("@s10"), "abc"), "abc");
  EXPECT_EQ(DisplayText(CompilePicture("@n9.2"), "12.5"), "12.50");
  EXPECT_EQ(DisplayText(CompilePicture(""), "abc   "), "abc");
  EXPECT_EQ(DisplayText(CompilePicture("@s3"), "abcdef"), "abc");
}

}  // namespace
}  // namespace qzr
