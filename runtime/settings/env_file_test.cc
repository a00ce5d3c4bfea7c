// Tests of the environment-file reader: lines, keys, values, fields, quotes,
// escapes and the file's path.

#include "runtime/settings/env_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qzr {
namespace {

using Fields = std::vector<std::string>;

TEST(EnvFile, LinesKeysAndValues) {
  const std::string bytes =
      "MORCHARSET=OEM\r\n"
      "mor month = January February  \t\n"  // spaces in the key vanish; case folds
      "\n"
      "; a comment without an equals sign\r"
      "NOEQUALS\n"
      "=no key\n"
      "MORLAYOUT=RTL";
  const std::vector<EnvEntry> e = ParseEnvFile(bytes);
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].key, "MORCHARSET");
  EXPECT_EQ(e[0].value, "OEM");
  EXPECT_EQ(e[1].key, "MORMONTH");
  EXPECT_EQ(e[1].value, " January February");
  EXPECT_EQ(e[2].key, "MORLAYOUT");
  EXPECT_EQ(e[2].value, "RTL");
}

TEST(EnvFile, CtrlZEndsTheFile) {
  const std::vector<EnvEntry> e = ParseEnvFile("MORLFN=on\r\n\x1AMORLAYOUT=RTL\r\n");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].key, "MORLFN");
}

TEST(EnvFile, KeyAndValueLimits) {
  const std::string key30(30, 'K'), key31(31, 'K');
  const std::vector<EnvEntry> e =
      ParseEnvFile(key30 + "=a\n" + key31 + "=b\nV=" + std::string(1100, 'x') + "\n");
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].key, key30);
  EXPECT_EQ(e[1].value.size(), kMaxEnvValue);
  // The cut counts characters and never splits one.
  std::string wide;
  for (int i = 0; i < 1100; ++i) wide += "\xC3\xA9";  // é
  const std::vector<EnvEntry> w = ParseEnvFile("V=" + wide);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].value.size(), 2 * kMaxEnvValue);
}

TEST(EnvFile, FieldsQuotesAndEscapes) {
  struct Case {
    const char* value;
    EnvEscapes escapes;
    Fields fields;
  } cases[] = {
      {"a b,c ,, d", EnvEscapes::kBytes, {"a", "b", "c", "d"}},
      {"\"two words\",x", EnvEscapes::kBytes, {"two words", "x"}},
      {"\"say \"\"hi\"\"\"", EnvEscapes::kBytes, {"say \"hi\""}},
      {"\"\" x", EnvEscapes::kBytes, {"", "x"}},
      {"<65<66 C", EnvEscapes::kBytes, {"AB", "C"}},
      {"a<44b", EnvEscapes::kBytes, {"a,b"}},  // an escaped comma stays in its field
      {"<32", EnvEscapes::kBytes, {" "}},
      {"<x <", EnvEscapes::kBytes, {"<x", "<"}},
      {"<233", EnvEscapes::kBytes, {"\xE9"}},
      {"<233", EnvEscapes::kUtf8, {"\xC3\xA9"}},
      {"<8364", EnvEscapes::kUtf8, {"\xE2\x82\xAC"}},
      {"<8364", EnvEscapes::kBytes, {"<8364"}},   // no such byte: the text stands
      {"<55296", EnvEscapes::kUtf8, {"<55296"}},  // a surrogate is no character
      {"<99999999999999", EnvEscapes::kUtf8, {"<99999999999999"}},
      {"\"<34\"", EnvEscapes::kBytes, {"\""}},
      {"", EnvEscapes::kBytes, {}},
      {"   ", EnvEscapes::kBytes, {}},
      {"\"open", EnvEscapes::kBytes, {"open"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitEnvFields(c.value, c.escapes), c.fields) << c.value;
  }
}

TEST(EnvFile, DecodeText) {
  EXPECT_EQ(DecodeEnvText("  Disk full, try again", EnvEscapes::kUtf8), "Disk full, try again");
  EXPECT_EQ(DecodeEnvText("\"Quoted \"\"text\"\"\"", EnvEscapes::kUtf8), "Quoted \"text\"");
  EXPECT_EQ(DecodeEnvText("Line<124two", EnvEscapes::kUtf8), "Line|two");
}

TEST(EnvFile, PathOfTheProgram) {
  struct Case {
    const char* program;
    const char* env;
  } cases[] = {
      {"/opt/app/qzrfunctions", "/opt/app/qzrfunctions.ENV"},
      {"/opt/app/qzrfunctions.exe", "/opt/app/qzrfunctions.ENV"},
      {"/opt/app.d/qzrfunctions", "/opt/app.d/qzrfunctions.ENV"},
      {"C:\\APPS\\QZR.EXE", "C:\\APPS\\QZR.ENV"},
      {"C:QZR", "C:QZR.ENV"},
      {"a.b.c", "a.b.ENV"},
  };
  for (const Case& c : cases) EXPECT_EQ(EnvFilePathFor(c.program), c.env) << c.program;
}

TEST(EnvFile, OemTextBecomesUtf8) {
  EXPECT_EQ(OemToUtf8("abc"), "abc");
  EXPECT_EQ(OemToUtf8("\x81"), "\xC3\xBC");      // ü
  EXPECT_EQ(OemToUtf8("\x9E"), "\xE2\x82\xA7");  // peseta sign
  EXPECT_EQ(OemToUtf8("\xE1"), "\xC3\x9F");      // ß
  EXPECT_EQ(OemToUtf8("\xFF"), "\xC2\xA0");      // no-break space
}

}  // namespace
}  // namespace qzr
