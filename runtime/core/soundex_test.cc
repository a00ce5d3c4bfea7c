#include "runtime/core/soundex.h"

#include <gtest/gtest.h>

namespace qzr {
namespace {

TEST(SoundexTest, CodesFollowTheLetterClasses) {
  struct Case {
    const char* text;
    const char* code;
  } cases[] = {
      {"Smith", "S530"},    {"Smyth", "S530"},    {"Robert", "R163"},  {"Rupert", "R163"},
      {"Rubin", "R150"},    {"Ashcraft", "A261"}, {"Tymczak", "T522"}, {"Pfister", "P236"},
      {"Lee", "L000"},      {"a", "A000"},        {"", "!000"},        {"1234 !", "!000"},
      {"  o'brien", "O165"}, {"GUTIERREZ", "G362"}, {"Jackson", "J250"}, {"washington", "W252"},
  };
  for (const Case& c : cases) EXPECT_EQ(SoundexText(Soundex(c.text)), c.code) << c.text;
}

}  // namespace
}  // namespace qzr
