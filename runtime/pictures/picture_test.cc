// Tests of picture compilation, FORMAT and DEFORMAT.

#include "runtime/pictures/picture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/os/fault_plan.h"
#include "runtime/pictures/picture_decimal.h"
#include "runtime/settings/locale_data.h"
#include "runtime/values/date_time.h"

namespace qzr {
namespace {

LocalDateTime FakeNow() {
  return {2026, 7, 4, 13, 5, 9, 500};
}

// Default locale data, the window year 2026 and a clock that reads
// 4 July 2026, 13:05:09.5.
class Picture : public ::testing::Test {
 protected:
  void SetUp() override {
    InitLocaleForTesting(IntlSettings{}, "/nonexistent/picture_test.ENV");
    SetWindowYearForTesting(2026);
    clock_.local_clock = &FakeNow;
    old_plan_ = SetProcessFaultPlan(&clock_);
  }
  void TearDown() override {
    SetProcessFaultPlan(old_plan_);
    SetWindowYearForTesting(0);
  }
  FaultPlan clock_;
  FaultPlan* old_plan_ = nullptr;
};

const int32_t kJuly4 = DateFromParts(7, 4, 2026);

TEST_F(Picture, ValidAndInvalidPictures) {
  const char* valid[] = {
      "@N9.2",  "@n9.2",  "@N-9.2",  "@N9.2-",  "@N(9.2)",  "@N$9.2",  "@N~EUR ~9.2", "@N9.2~ kr~",
      "@N_9.2", "@N*9.2", "@N09.2",  "@N12`.2", "@N12.`2",  "@N12_.2", "@N9v2",       "@N9.2B",
      "@N1",    "@N255",  "@N9.",    "@N3.2",   "@S1",      "@S255",   "@s10",        "@D1",
      "@D16",   "@D17",   "@D18",    "@D2-",    "@D2.",     "@D2_",    "@D2`",        "@D2<80",
      "@D2>20", "@D02",   "@D_6",    "@D*6",    "@D6-<50B", "@T1",     "@T6",         "@T7",
      "@T8",    "@T1.",   "@T01",    "@E12.2",  "@E7.0",    "@E7`0",   "@P###-##P",   "@pa#p",
      "@K###K", "@PP#P",  "@Kab|cK",
  };
  for (const char* text : valid) EXPECT_TRUE(CompilePicture(text).valid()) << text;
  const char* invalid[] = {
      "",       "@",   "N9.2",  "@N",     "@N0",    "@N256", "@N-9.2-", "@N(9.2",  "@N9.2)",
      "@N-",    "@N$", "@N~~9", "@N~9",   "@N9.2x", "@N3.5", "@N$-(9",  "@N9.256", "@S0",
      "@S256",  "@S",  "@S1x",  "@S-1",   "@D0",    "@D19",  "@D",      "@D2<",    "@D2<256",
      "@D2--",  "@DX", "@T0",   "@T9",    "@T1<80", "@E6.0", "@E12",    "@E12.9",  "@E256.2",
      "@E12v2", "@PP", "@P###", "@P###p", "@X9",    "@K|K",  "@N9.2BB", "@D2B-",
  };
  for (const char* text : invalid) {
    const CompiledPicture pic = CompilePicture(text);
    EXPECT_FALSE(pic.valid()) << text;
    EXPECT_EQ(FormatNumber(pic, "12"), "") << text;
    const CompiledPicture zero{};
    EXPECT_EQ(std::memcmp(&pic, &zero, sizeof pic), 0) << text;
  }
}

TEST_F(Picture, WidthsAndKinds) {
  struct Case {
    const char* text;
    PictureKind kind;
    int width;
  } cases[] = {
      {"@N9.2", PictureKind::Numeric, 9},   {"@E12.2", PictureKind::Exponent, 12},
      {"@D1", PictureKind::Date, 8},        {"@D2", PictureKind::Date, 10},
      {"@D3", PictureKind::Date, 11},       {"@D4", PictureKind::Date, 21},
      {"@D7", PictureKind::Date, 9},        {"@D8", PictureKind::Date, 11},
      {"@D11", PictureKind::Date, 6},       {"@D13", PictureKind::Date, 5},
      {"@D15", PictureKind::Date, 5},       {"@D16", PictureKind::Date, 7},
      {"@D17", PictureKind::Date, 8},       {"@T1", PictureKind::Time, 5},
      {"@T2", PictureKind::Time, 4},        {"@T3", PictureKind::Time, 7},
      {"@T5", PictureKind::Time, 6},        {"@T6", PictureKind::Time, 10},
      {"@S30", PictureKind::String, 30},    {"@P(###)###-####P", PictureKind::Pattern, 13},
      {"@K###-##K", PictureKind::KeyIn, 6}, {"@P\xE2\x82\xAC##P", PictureKind::Pattern, 3},
      {"@K\\##K", PictureKind::KeyIn, 2},
  };
  for (const Case& c : cases) {
    const CompiledPicture pic = CompilePicture(c.text);
    EXPECT_EQ(pic.kind(), c.kind) << c.text;
    EXPECT_EQ(pic.width, c.width) << c.text;
  }
}

TEST_F(Picture, GoldenBytes) {
  // Header: flags, width, number, separator, window, count, fill, decimal,
  // grouping, options; then (fill, code) pairs.
  const uint8_t d2[] = {2,  10,  2, 0,   80, 10,  0,  0,   0, 0,   ' ', 7,   '0', 7,   '/',
                        19, '0', 8, '0', 8,  '/', 19, '0', 9, '0', 9,   '0', 9,   '0', 9};
  const CompiledPicture p = CompilePicture("@D2");
  EXPECT_EQ(std::memcmp(&p, d2, sizeof d2), 0);
  for (size_t i = sizeof d2; i < sizeof p; ++i) {
    ASSERT_EQ(reinterpret_cast<const uint8_t*>(&p)[i], 0) << i;
  }
  const uint8_t n[] = {0,   9, 2,   0, 0,   9, 0,   '.', 0,   kNumericLeadingSign,
                       '-', 5, ' ', 4, ' ', 4, ' ', 4,   ' ', 4,
                       ' ', 4, '.', 2, '0', 3, '0', 3};
  const CompiledPicture q = CompilePicture("@N-9.2");
  EXPECT_EQ(std::memcmp(&q, n, sizeof n), 0);
  const uint8_t g[] = {0, 7, 0, 0, 0, 7, '0', 0, ',', 0};
  // Fill "0": every digit keeps its zero; a grouping after every three.
  const CompiledPicture r = CompilePicture("@N07`");
  EXPECT_EQ(std::memcmp(&r, g, 10), 0);
  EXPECT_EQ(r.entries[0].code, kDigitShowFill);
  EXPECT_EQ(r.entries[3].code, kGrouping);
  EXPECT_EQ(r.entries[3].fill, ',');
  // Blank when zero is bit 3 of the flags.
  EXPECT_EQ(CompilePicture("@N9.2B").flags, 8);
  EXPECT_EQ(CompilePicture("@p#pb").flags, 8 | 4);
  EXPECT_EQ(CompilePicture("@pb#bp").flags, 4);
  EXPECT_EQ(CompilePicture("@D2>20").year_window(), 79);
}

struct FormatCase {
  const char* picture;
  const char* value;
  const char* shown;
};

void ExpectFormats(const FormatCase* cases, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const FormatCase& c = cases[i];
    EXPECT_EQ(FORMAT(c.value, c.picture), c.shown) << c.picture << " of " << c.value;
  }
}

TEST_F(Picture, FormatNumbers) {
  const FormatCase cases[] = {
      {"@N9.2", "1234.5", "  1234.50"},
      {"@N9.2", "-1234.5", " -1234.50"},
      {"@N9.2", "0", "     0.00"},
      {"@N9.2", "0.5", "     0.50"},
      {"@N9.2B", "0", "         "},
      {"@N9.2B", "0.004", "         "},
      {"@N9.2B", "-0.004", "         "},
      {"@N9.2", "-0.004", "     0.00"},
      {"@N9.2", "0.005", "     0.01"},
      {"@N9.2", "2.345", "     2.35"},
      {"@N9.2", "-2.345", "    -2.35"},
      {"@N9.2", "123456.78", "123456.78"},
      {"@N9.2", "-123456.78", "#########"},
      {"@N9.2", "1234567", "#########"},
      {"@N9.2", "99999.995", "100000.00"},
      {"@N9.2", "999999.995", "#########"},
      {"@N9.2", "abc", "     0.00"},
      {"@N9.2", "  +7", "     7.00"},
      {"@N12.2", "1e3", "     1000.00"},
      {"@N12.2", "1.5E-1", "        0.15"},
      {"@N12.2", "1e99999999999", "############"},
      {"@N-9.2", "-5", "    -5.00"},
      {"@N-9.2", "5", "     5.00"},
      {"@N9.2-", "-5", "    5.00-"},
      {"@N9.2-", "5", "    5.00 "},
      {"@N(9.2)", "-5", "   (5.00)"},
      {"@N(9.2)", "5", "    5.00 "},
      {"@N$9.2", "5", "    $5.00"},
      {"@N$9.2", "-5", "   $-5.00"},
      {"@N$-9.2", "-5", "   $-5.00"},
      {"@N9.2$", "5", "    5.00$"},
      {"@N12`.2", "1234567.891", "1,234,567.89"},
      {"@N12`.2", "-1234", "   -1,234.00"},
      {"@N12`.2", "123", "      123.00"},
      {"@N12.`2", "1234567.891", "1.234.567,89"},
      {"@N12_.2", "1234567.891", "1 234 567.89"},
      {"@N12v.2", "1234567.891", "  1234567.89"},
      {"@N012.2", "-5", "-00000005.00"},
      {"@N012.2", "5", "000000005.00"},
      {"@N07`", "1234", "001,234"},
      {"@N*9.2", "5", "*****5.00"},
      {"@N$*9.2", "5", "$****5.00"},
      {"@N-*9.2", "-5", "-****5.00"},
      {"@N-*9.2", "5", "*****5.00"},
      {"@N*7`", "1234", "**1,234"},
      {"@N9", "1234.5", "     1235"},
      {"@N9", "-1234.5", "    -1235"},
      {"@N9v2", "1.23", "      123"},
      {"@N9v2", "-1.235", "     -124"},
      {"@N9.2~ kr~", "5", "  5.00 kr"},
      {"@N~\xE2\x82\xAC~9.2", "5",
       "    \xE2\x82\xAC"
       "5.00"},
      {"@N3.2", "0.5", ".50"},
      {"@N3.2", "1", "###"},
      {"@N5", "0", "    0"},
      {"@N1", "7", "7"},
      {"@N1", "-7", "#"},
  };
  ExpectFormats(cases, std::size(cases));
}

TEST_F(Picture, FormatExponents) {
  const FormatCase cases[] = {
      {"@E12.2", "1234.5", "   1.23E+003"},
      {"@E12.2", "-0.00012345", "  -1.23E-004"},
      {"@E12.2", "0", "   0.00E+000"},
      {"@E12.2B", "0", "            "},
      {"@E12.2", "9.995", "   1.00E+001"},
      {"@E12.2", "-9.994", "  -9.99E+000"},
      {"@E7.0", "5", " 5E+000"},
      {"@E7.0", "-95", "-1E+002"},
      {"@E12.2", "1e999", "   1.00E+999"},
      {"@E12.2", "1e1000", "############"},
      {"@E12`2", "1234.5", "   1,23E+003"},
  };
  ExpectFormats(cases, std::size(cases));
}

TEST_F(Picture, FormatPatterns) {
  const FormatCase cases[] = {
      {"@P###-##-####P", "123456789", "123-45-6789"},
      {"@P(###)###-####P", "5551234567", "(555)123-4567"},
      {"@P<#/##P", "705", " 7/05"},
      {"@P###P", "5", "005"},
      {"@P###P", "4.6", "005"},
      {"@P###P", "1234", "###"},
      {"@P###P", "-5", "###"},
      {"@P###PB", "0", "   "},
      {"@P<<<P", "0", "   "},
      {"@P\xE2\x82\xAC##P", "12",
       "\xE2\x82\xAC"
       "12"},
  };
  ExpectFormats(cases, std::size(cases));
}

TEST_F(Picture, FormatDates) {
  const std::string d = std::to_string(kJuly4);
  const std::string christmas = std::to_string(DateFromParts(12, 25, 2026));
  const struct {
    const char* picture;
    std::string value;
    const char* shown;
  } cases[] = {
      {"@D1", d, " 7/04/26"},
      {"@D2", d, " 7/04/2026"},
      {"@D2.", d, " 7.04.2026"},
      {"@D2-", d, " 7-04-2026"},
      {"@D2_", d, " 7 04 2026"},
      {"@D2`", d, " 7,04,2026"},
      {"@D3", d, "Jul  4,2026"},
      {"@D3", christmas, "Dec 25,2026"},
      {"@D4", d, "July 4, 2026"},
      {"@D4", christmas, "December 25, 2026"},
      {"@D5", d, " 4/07/26"},
      {"@D6", d, " 4/07/2026"},
      {"@D7", d, " 4 Jul 26"},
      {"@D7-", d, " 4-Jul-26"},
      {"@D8", d, " 4 Jul 2026"},
      {"@D9", d, "26/07/04"},
      {"@D10", d, "2026/07/04"},
      {"@D10-", d, "2026-07-04"},
      {"@D11", d, "260704"},
      {"@D12", d, "20260704"},
      {"@D13", d, "07/26"},
      {"@D14", d, "07/2026"},
      {"@D15", d, "26/07"},
      {"@D16", d, "2026/07"},
      {"@D17", d, "07/04/26"},
      {"@D17-", d, "07-04-26"},
      {"@D18", d, "Sat, July 04, 2026"},
      {"@D02", d, "07/04/2026"},
      {"@D_6", d, " 4/ 7/2026"},
      {"@D*6", d, "*4/*7/2026"},
      {"@D2", "0", "          "},
      {"@D2B", "0", "          "},
      {"@D2", "-1", "##########"},
      {"@D2", "3", "##########"},
      {"@D2", "2994627", "##########"},
      {"@D2", "4", " 1/01/1801"},
      {"@D2", "2994626", "12/31/9999"},
      {"@D2", "99999999999999", "##########"},
  };
  for (const auto& c : cases) EXPECT_EQ(FORMAT(c.value, c.picture), c.shown) << c.picture;
  EXPECT_EQ(FormatDate(CompilePicture("@D2"), kJuly4), " 7/04/2026");
}

TEST_F(Picture, FormatTimes) {
  const int32_t t = TimeFromParts(13, 5, 9, 50);
  const int32_t half_past_midnight = TimeFromParts(0, 30, 0, 0);
  const struct {
    const char* picture;
    int32_t time;
    const char* shown;
  } cases[] = {
      {"@T1", t, "13:05"},
      {"@T2", t, "1305"},
      {"@T3", t, " 1:05PM"},
      {"@T4", t, "13:05:09"},
      {"@T5", t, "130509"},
      {"@T6", t, " 1:05:09PM"},
      {"@T7", t, "01:05 PM"},
      {"@T8", t, "01:05:09 PM"},
      {"@T4.", t, "13.05.09"},
      {"@T1", half_past_midnight, " 0:30"},
      {"@T01", half_past_midnight, "00:30"},
      {"@T3", half_past_midnight, "12:30AM"},
      {"@T3", TimeFromParts(12, 0, 0, 0), "12:00PM"},
      {"@T6", 1, "12:00:00AM"},
      {"@T4", kLastTime, "23:59:59"},
      {"@T1", 0, "     "},
      {"@T1", kLastTime + 1, "#####"},
      {"@T1", -5, "#####"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatTime(CompilePicture(c.picture), c.time), c.shown) << c.picture << " " << c.time;
  }
}

TEST_F(Picture, FormatStringsAndKeyIns) {
  const FormatCase cases[] = {
      {"@S5", "abc", "abc  "},
      {"@S5", "abcdefg", "abcde"},
      {"@S3", "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9\xC3\xA9"},
      {"@S3", "a\xE2\x82", "a\xE2\x82 "},  // a cut-off sequence is one character
      {"@K###-##-####K", "123456789", "123-45-6789"},
      {"@K###-##-####K", "123-45-6789", "123-45-6789"},
      {"@K###-##-####K", "12", "12 -  -    "},
      {"@K^^^K", "abc", "ABC"},
      {"@K__K", "AB", "ab"},
      {"@K#####|-####K", "12345", "12345"},
      {"@K#####|-####K", "123456789", "12345-6789"},
      {"@K\\##K", "5", "#5"},
      {"@K??K", "\xC3\xA9x", "\xC3\xA9x"},
  };
  ExpectFormats(cases, std::size(cases));
}

TEST_F(Picture, MonthNamesFollowTheLocale) {
  const std::string env = ::testing::TempDir() + "picture_test_months.ENV";
  FILE* f = std::fopen(env.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs(
      "MORMONTH=Januar,Februar,M<228rz,April,Mai,Juni,Juli\nMORMON=Jan,Feb,M<228r\n"
      "MORAMPM=vm,nm\n",
      f);
  std::fclose(f);
  InitLocaleForTesting(IntlSettings{}, env);
  const std::string march = std::to_string(DateFromParts(3, 9, 2026));
  EXPECT_EQ(FORMAT(march, "@D3"), "M\xC3\xA4r  9,2026");
  EXPECT_EQ(FORMAT(march, "@D4"), "M\xC3\xA4rz 9, 2026");
  EXPECT_EQ(DEFORMAT("9 m\xC3\xA4rz 2026", "@D8"), march);
  EXPECT_EQ(FORMAT(std::to_string(TimeFromParts(1, 0, 0, 0)), "@T3"), " 1:00vM");
  EXPECT_EQ(DEFORMAT("1:00 nm", "@T3"), std::to_string(TimeFromParts(13, 0, 0, 0)));
  std::remove(env.c_str());
}

struct DeformatCase {
  const char* picture;
  const char* text;
  std::string value;
};

TEST_F(Picture, DeformatNumbers) {
  const DeformatCase cases[] = {
      {"@N9.2", "  1,234.50", "1234.5"},
      {"@N9.2", "-5.00", "-5"},
      {"@N9.2", "(5.00)", "-5"},
      {"@N9.2", "5.00-", "-5"},
      {"@N$9.2", "$1,234.567", "1234.57"},
      {"@N9.2", "", "0"},
      {"@N9.2", "   ", "0"},
      {"@N9.2", "abc", "0"},
      {"@N9.2", "  0.00", "0"},
      {"@N9.2", "-0.00", "0"},
      {"@N9.2", "12", "12"},
      {"@N9.2", "0.05", "0.05"},
      {"@N12.`2", "1.234.567,89", "1234567.89"},
      {"@N12_.2", "1 234 567.89", "1234567.89"},
      {"@N9v2", "123", "1.23"},
      {"@N9v2", "1.5", "1.5"},
      {"@N9v2", "5", "0.05"},
      {"@N9", "12.7", "13"},
      {"@N9", "1,234", "1234"},
      {"@N~EUR~9.2", "EUR12.50", "12.5"},
      {"@E12.2", "   1.23E+003", "1230"},
      {"@E12.2", "-1.5E-002", "-0.015"},
      {"@E12`2", "1,5E+001", "15"},
      {"@P###-##-####P", "123-45-6789", "123456789"},
      {"@P###-##-####P", "123456789", "123456789"},
      {"@P(###)###-####P", "(555) 123", "555123"},
      {"@P1-###P", "1-005", "5"},
  };
  for (const DeformatCase& c : cases) {
    EXPECT_EQ(DEFORMAT(c.text, c.picture), c.value) << c.picture << " of '" << c.text << "'";
  }
}

TEST_F(Picture, DeformatDates) {
  const std::string d = std::to_string(kJuly4);
  const DeformatCase cases[] = {
      {"@D2", " 7/04/2026", d},
      {"@D2", "7/4/26", d},
      {"@D2", "07042026", d},
      {"@D2", "070426", d},
      {"@D2", "7-4-2026", d},
      {"@D2", "7/4", d},  // the current year
      {"@D2", "7/4/46", std::to_string(DateFromParts(7, 4, 1946))},
      {"@D2", "7/4/45", std::to_string(DateFromParts(7, 4, 2045))},
      {"@D2<10", "7/4/20", std::to_string(DateFromParts(7, 4, 2020))},
      {"@D2<10", "7/4/15", std::to_string(DateFromParts(7, 4, 2115))},
      {"@D2>10", "7/4/36", std::to_string(DateFromParts(7, 4, 2036))},
      {"@D2>10", "7/4/37", std::to_string(DateFromParts(7, 4, 1937))},
      {"@D2", "2/30/2024", "0"},
      {"@D2", "13/1/2026", "0"},
      {"@D2", "2/29/1900", "0"},
      {"@D2", "1/1/1800", "0"},
      {"@D2", "7/4/0026", "0"},
      {"@D2", "", "0"},
      {"@D2", "1/2/3/4", "0"},
      {"@D2", "7", "0"},
      {"@D2", "hello", "0"},
      {"@D3", "Jul  4,2026", d},
      {"@D3", "july 4 2026", d},
      {"@D3", "7 4 2026", d},
      {"@D4", "July 4, 2026", d},
      {"@D4", "4 JULY 2026", d},
      {"@D6", " 4/07/2026", d},
      {"@D6", "4.7.26", d},
      {"@D8", " 4 Jul 2026", d},
      {"@D9", "26/07/04", d},
      {"@D10", "2026/07/04", d},
      {"@D11", "260704", d},
      {"@D12", "20260704", d},
      {"@D13", "07/26", std::to_string(DateFromParts(7, 1, 2026))},
      {"@D16", "2026/07", std::to_string(DateFromParts(7, 1, 2026))},
      {"@D17", "07/04/26", d},
      {"@D18", "Sat, July 04, 2026", d},
  };
  for (const DeformatCase& c : cases) {
    EXPECT_EQ(DEFORMAT(c.text, c.picture), c.value) << c.picture << " of '" << c.text << "'";
  }
}

TEST_F(Picture, DeformatTimes) {
  auto t = [](int h, int m, int s, int hs) { return std::to_string(TimeFromParts(h, m, s, hs)); };
  const DeformatCase cases[] = {
      {"@T1", "13:05", t(13, 5, 0, 0)},
      {"@T1", "1:05 PM", t(13, 5, 0, 0)},
      {"@T1", "1305", t(13, 5, 0, 0)},
      {"@T1", "930", t(9, 30, 0, 0)},
      {"@T1", "9", t(9, 0, 0, 0)},
      {"@T1", "0:00", "1"},
      {"@T1", "12:00 AM", "1"},
      {"@T1", "12:30p", t(12, 30, 0, 0)},
      {"@T1", "12:30a", t(0, 30, 0, 0)},
      {"@T1", "", "0"},
      {"@T1", "25:00", "0"},
      {"@T1", "10:60", "0"},
      {"@T1", "13:00 PM", "0"},
      {"@T1", "x", "0"},
      {"@T1", "13h05", t(13, 5, 0, 0)},
      {"@T3", " 1:05PM", t(13, 5, 0, 0)},
      {"@T4", "13:05:09", t(13, 5, 9, 0)},
      {"@T4", "13:05:09.5", t(13, 5, 9, 50)},
      {"@T4", "13:05:09.05", t(13, 5, 9, 5)},
      {"@T4", "130509", t(13, 5, 9, 0)},
      {"@T6", " 1:05:09PM", t(13, 5, 9, 0)},
      {"@T8", "01:05:09 PM", t(13, 5, 9, 0)},
  };
  for (const DeformatCase& c : cases) {
    EXPECT_EQ(DEFORMAT(c.text, c.picture), c.value) << c.picture << " of '" << c.text << "'";
  }
}

TEST_F(Picture, DeformatTexts) {
  const DeformatCase cases[] = {
      {"@S5", "abcdefg", "abcde"},
      {"@S2", "\xC3\xA9\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9"},
      {"@K###-##-####K", "123-45-6789", "123456789"},
      {"@K###-##-####K", "123456789", "123456789"},
      {"@K###-##-####K", "12 -  -    ", "12"},
      {"@K^^^K", "abc", "ABC"},
      {"@K#####|-####K", "12345", "12345"},
      {"@K#####|-####K", "12345-6789", "123456789"},
      {"@Kx??K", "x\xC3\xA9y", "\xC3\xA9y"},
  };
  for (const DeformatCase& c : cases) {
    EXPECT_EQ(DEFORMAT(c.text, c.picture), c.value) << c.picture << " of '" << c.text << "'";
  }
  // An invalid picture leaves the text as it is.
  EXPECT_EQ(DEFORMAT(" 12 ", "@Q"), " 12 ");
}

TEST_F(Picture, DatesRoundTripThroughEveryPicture) {
  // Pictures with four-digit years over the whole range; two-digit years
  // over the window's century (1946..2045); month pictures on the first.
  const char* four[] = {"@D2",  "@D3",  "@D4",  "@D6",  "@D8",  "@D10", "@D12",
                        "@D18", "@D02", "@D_6", "@D*6", "@D2-", "@D8`"};
  const char* two[] = {"@D1", "@D5", "@D7", "@D9", "@D11", "@D17"};
  for (const char* text : four) {
    const CompiledPicture pic = CompilePicture(text);
    for (int32_t date = kFirstDate; date <= kLastDate; date += 613) {
      ASSERT_EQ(Deformat(FormatDate(pic, date), pic), std::to_string(date))
          << text << " " << FormatDate(pic, date);
    }
  }
  for (const char* text : two) {
    const CompiledPicture pic = CompilePicture(text);
    for (int32_t date = DateFromParts(1, 1, 1946); date <= DateFromParts(12, 31, 2045); date += 7) {
      ASSERT_EQ(Deformat(FormatDate(pic, date), pic), std::to_string(date))
          << text << " " << FormatDate(pic, date);
    }
  }
  for (const char* text : {"@D13", "@D14", "@D15", "@D16"}) {
    const CompiledPicture pic = CompilePicture(text);
    const int32_t first = DateFromParts(3, 1, 2030);
    EXPECT_EQ(Deformat(FormatDate(pic, first), pic), std::to_string(first)) << text;
  }
}

TEST_F(Picture, TimesRoundTripThroughEveryPicture) {
  const char* minutes[] = {"@T1", "@T2", "@T3", "@T7"};
  const char* seconds[] = {"@T4", "@T5", "@T6", "@T8", "@T04."};
  for (const char* text : minutes) {
    const CompiledPicture pic = CompilePicture(text);
    for (int m = 0; m < 24 * 60; ++m) {
      const int32_t time = m * 6000 + 1;
      ASSERT_EQ(Deformat(FormatTime(pic, time), pic), std::to_string(time))
          << text << " '" << FormatTime(pic, time) << "'";
    }
  }
  for (const char* text : seconds) {
    const CompiledPicture pic = CompilePicture(text);
    for (int s = 0; s < 24 * 3600; s += 7) {
      const int32_t time = s * 100 + 1;
      ASSERT_EQ(Deformat(FormatTime(pic, time), pic), std::to_string(time))
          << text << " '" << FormatTime(pic, time) << "'";
    }
  }
}

TEST_F(Picture, NumbersRoundTrip) {
  const char* pictures[] = {"@N15.2",  "@N-15.2", "@N15.2-", "@N(15.2)",    "@N$15`.2", "@N015.3",
                            "@N*15.2", "@N15.`2", "@N15v2",  "@N~ kr~15.2", "@N15"};
  const char* values[] = {"0",      "1",          "-1",      "0.5",   "-0.25",
                          "1234.5", "-98765.432", "1000000", "0.004", "999.995"};
  for (const char* p : pictures) {
    const CompiledPicture pic = CompilePicture(p);
    ASSERT_TRUE(pic.valid()) << p;
    for (const char* v : values) {
      std::string ints, frac;
      ASSERT_TRUE(RoundPictureDecimal(ParsePictureDecimal(v), pic.number, 64, &ints, &frac));
      const std::string expected = CanonicalDecimal(MakePictureDecimal(v[0] == '-', ints, frac));
      EXPECT_EQ(Deformat(FormatNumber(pic, v), pic), expected)
          << p << " of " << v << ": '" << FormatNumber(pic, v) << "'";
    }
  }
}

TEST_F(Picture, OutputWidthCountsCharacters) {
  const char* pictures[] = {
      "@N9.2", "@N-12`.2", "@N~\xE2\x82\xAC~9.2", "@E12.2", "@P\xC3\xA9###P", "@S7", "@D2",
      "@D8",   "@T6",      "@K\xC3\xA9##K"};
  for (const char* p : pictures) {
    const CompiledPicture pic = CompilePicture(p);
    for (const char* v : {"0", "-1", "7", "123", "-45.678", "4000000"}) {
      const std::string shown = pic.kind() == PictureKind::Date   ? FormatDate(pic, kJuly4)
                                : pic.kind() == PictureKind::Time ? FormatTime(pic, 4500001)
                                                                  : Format(pic, v);
      EXPECT_EQ(Utf8Length(shown), pic.width) << p << " of " << v << ": '" << shown << "'";
    }
  }
}

TEST(PictureDecimal, ParseRoundAndCanonical) {
  struct Case {
    const char* text;
    const char* canonical;
  } cases[] = {
      {"0", "0"},      {"-0", "0"},          {"007.500", "7.5"}, {"-.5", "-0.5"},
      {"1e3", "1000"}, {"1.5e-3", "0.0015"}, {"12abc", "12"},    {"abc", "0"},
      {"  -3", "-3"},  {"1e", "1"},          {"+.", "0"},        {"123.456e1", "1234.56"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CanonicalDecimal(ParsePictureDecimal(c.text)), c.canonical) << c.text;
  }
  EXPECT_EQ(TruncateToInt64(ParsePictureDecimal("-12.9")), -12);
  EXPECT_EQ(TruncateToInt64(ParsePictureDecimal("1e30")), INT64_MAX);
  EXPECT_EQ(TruncateToInt64(ParsePictureDecimal("-9223372036854775808")), INT64_MIN);
  EXPECT_EQ(TruncateToInt64(ParsePictureDecimal("-9223372036854775809")), INT64_MIN);
}

}  // namespace
}  // namespace qzr
