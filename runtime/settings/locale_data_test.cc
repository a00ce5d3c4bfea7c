// Tests of the locale data: defaults, the [intl] pictures, every key of the
// environment file, and initialisation from a file a test names.

#include "runtime/settings/locale_data.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/pictures/picture.h"
#include "runtime/values/date_time.h"

namespace qzr {
namespace {

LocaleData FromEnv(std::string_view env) {
  return BuildLocaleData(IntlSettings{}, env);
}

TEST(LocaleData, DefaultsWithoutAFile) {
  const LocaleData d = BuildLocaleData(IntlSettings{}, std::nullopt);
  EXPECT_EQ(d.long_month_names[0], "January");
  EXPECT_EQ(d.long_month_names[11], "December");
  EXPECT_EQ(d.short_month_names[8], "Sep");
  EXPECT_EQ(d.am_text, "AM");
  EXPECT_EQ(d.pm_text, "PM");
  EXPECT_FALSE(d.oem_charset);
  for (int c = 0; c < 256; ++c) EXPECT_EQ(d.collating_sequence[c], c);
  EXPECT_EQ(d.upper['a'], 'A');
  EXPECT_EQ(d.lower['Z'], 'z');
  EXPECT_EQ(d.upper['1'], '1');
  EXPECT_EQ(d.char_class['Q'], kClassUpper);
  EXPECT_EQ(d.char_class['q'], kClassLower);
  EXPECT_EQ(d.char_class['7'], kClassDigit);
  EXPECT_EQ(d.char_class[0xE9], 0);
  EXPECT_FALSE(d.digraph_on);
  EXPECT_TRUE(d.short_date_picture.valid());
  EXPECT_TRUE(d.long_time_picture.valid());
  EXPECT_TRUE(d.message_overrides.empty());
}

TEST(LocaleData, MonthNamesAmPmAndFlags) {
  const LocaleData d = FromEnv(
      "MORMONTH=Januar,Februar,\"M<228rz\",April,Mai,Juni,Juli,August,September,Oktober,"
      "November,Dezemberxxxxxxxx\n"
      "MORMON=Jan Feb M<228r Apr\n"
      "MORAMPM=vm,nm\n"
      "MORLFN=ON\n"
      "MORLAYOUT=rtl\n"
      "MORSYSTEMCHARSET=238\n");
  EXPECT_EQ(d.long_month_names[2], "M\xC3\xA4rz");
  EXPECT_EQ(d.long_month_names[11], "Dezemberxxxx");  // cut to 12 characters
  EXPECT_EQ(d.short_month_names[2], "M\xC3\xA4r");
  EXPECT_EQ(d.short_month_names[4], "May");  // not given: unchanged
  EXPECT_EQ(d.am_text, "vm");
  EXPECT_EQ(d.pm_text, "nm");
  EXPECT_TRUE(d.long_file_names);
  EXPECT_TRUE(d.right_to_left);
  EXPECT_EQ(d.system_charset, "238");
}

TEST(LocaleData, AmPmWindowsKeepsTheProfileTexts) {
  IntlSettings intl;
  intl.s1159 = "a";
  intl.s2359 = "p";
  const LocaleData d = BuildLocaleData(intl, "MORAMPM=WINDOWS\n");
  EXPECT_EQ(d.am_text, "a");
  EXPECT_EQ(d.pm_text, "p");
  EXPECT_EQ(BuildLocaleData(intl, "MORAMPM=xAM,xPM\n").am_text, "xA");  // two characters
}

TEST(LocaleData, OemValuesAreConverted) {
  // MORCHARSET may come after the values it governs.
  const LocaleData d = FromEnv("MORMON=M\x84r,<132r\nMORCHARSET=oem\n");
  EXPECT_TRUE(d.oem_charset);
  EXPECT_EQ(d.short_month_names[0], "M\xC3\xA4r");
  EXPECT_EQ(d.short_month_names[1], "\xC3\xA4r");
}

TEST(LocaleData, CollatingSequenceList) {
  const LocaleData d = FromEnv("MORCOLSEQ=AaBb\n");
  // A, a, B, b take the weights of A, B, a, b in that order.
  EXPECT_EQ(d.collating_sequence['A'], 'A');
  EXPECT_EQ(d.collating_sequence['a'], 'B');
  EXPECT_EQ(d.collating_sequence['B'], 'a');
  EXPECT_EQ(d.collating_sequence['b'], 'b');
  EXPECT_EQ(d.collating_sequence['C'], 'C');
  // Still a permutation.
  bool used[256] = {};
  for (int c = 0; c < 256; ++c) {
    EXPECT_FALSE(used[d.collating_sequence[c]]);
    used[d.collating_sequence[c]] = true;
  }
  // The list is bytes, escapes included, never converted.
  const LocaleData e = FromEnv("MORCHARSET=OEM\nMORCOLSEQ=<200<100\n");
  EXPECT_EQ(e.collating_sequence[200], 100);
  EXPECT_EQ(e.collating_sequence[100], 200);
  EXPECT_EQ(FromEnv("MORCOLSEQ=\n").collating_sequence['a'], 'a');
}

TEST(LocaleData, CollatingSequenceWindowsIsAPermutation) {
  const LocaleData d = FromEnv("MORCOLSEQ=windows\n");
  bool used[256] = {};
  for (int c = 0; c < 256; ++c) {
    EXPECT_FALSE(used[d.collating_sequence[c]]) << c;
    used[d.collating_sequence[c]] = true;
  }
  EXPECT_EQ(d.collating_sequence[0], 0);
  EXPECT_EQ(d.collating_sequence[255], 255);
  EXPECT_LT(d.collating_sequence['A'], d.collating_sequence['B']);
}

TEST(LocaleData, CasePairs) {
  const LocaleData d = FromEnv("MORCASE=<196<214 <228<246\n");  // Ä Ö / ä ö as bytes
  EXPECT_EQ(d.lower[196], 228);
  EXPECT_EQ(d.upper[228], 196);
  EXPECT_EQ(d.upper[196], 196);
  EXPECT_EQ(d.lower[246], 246);
  EXPECT_EQ(d.char_class[214], kClassUpper);
  EXPECT_EQ(d.char_class[246], kClassLower);
  EXPECT_EQ(d.upper['a'], 'A');  // ASCII pairs stay
  // Pairs below 128 are ignored.
  EXPECT_EQ(FromEnv("MORCASE=X y\n").lower['X'], 'x');
  // WINDOWS in the C locale adds nothing above 127 and breaks nothing.
  EXPECT_EQ(FromEnv("MORCASE=WINDOWS\n").lower['Q'], 'q');
}

TEST(LocaleData, Digraphs) {
  const LocaleData d = FromEnv("MORDIGRAPH=<198AE,<230ae <223ss,toolong,xy\n");
  EXPECT_TRUE(d.digraph_on);
  ASSERT_EQ(d.digraph_count, 3);
  EXPECT_EQ(d.digraphs[0][0], 198);
  EXPECT_EQ(d.digraphs[0][1], 'A');
  EXPECT_EQ(d.digraphs[0][2], 'E');
  EXPECT_EQ(d.digraphs[2][0], 223);
  std::string many = "MORDIGRAPH=";
  for (int i = 0; i < 20; ++i) many += "abc,";
  EXPECT_EQ(FromEnv(many).digraph_count, 16);
}

TEST(LocaleData, MessagesAndButtons) {
  const LocaleData d = FromEnv(
      "MORMSG2=Datei nicht gefunden\n"
      "MORMSG 35 = \"Satz nicht gefunden\"\n"
      "MORMSGX=ignored\n"
      "MORBUTTON=&Ja &Nein \"&Abbrechen jetzt\"\n");
  EXPECT_EQ(d.message_overrides.at(2), "Datei nicht gefunden");
  EXPECT_EQ(d.message_overrides.at(35), "Satz nicht gefunden");
  EXPECT_EQ(d.message_overrides.at(kButtonMessageBase), "&Ja");
  EXPECT_EQ(d.message_overrides.at(kButtonMessageBase + 2), "&Abbrechen jetzt");
  EXPECT_EQ(d.message_overrides.size(), 5u);
}

TEST(LocaleData, IntlPictures) {
  IntlSettings intl;
  const LocaleData d = BuildLocaleData(intl, std::nullopt);
  EXPECT_EQ(d.short_date_picture.number, 17);
  EXPECT_EQ(d.long_date_picture.number, 18);
  EXPECT_EQ(d.short_time_picture.number, 7);
  EXPECT_EQ(d.long_time_picture.number, 8);
  // A format no picture can show falls back to the default.
  intl.sShortDate = "'no fields'";
  EXPECT_EQ(BuildLocaleData(intl, std::nullopt).short_date_picture.width,
            d.short_date_picture.width);
}

class LocaleFromFile : public ::testing::Test {
 protected:
  void TearDown() override {
    std::remove(path_.c_str());
    InitLocaleForTesting(IntlSettings{}, "/nonexistent/none.ENV");
  }
  std::string path_ =
      ::testing::TempDir() + "locale_data_test_" + std::to_string(getpid()) + ".ENV";
};

TEST_F(LocaleFromFile, InitialisesTheProcessDataFromAGivenPath) {
  {
    std::ofstream out(path_, std::ios::binary);
    out << "MORMON=Ene,Feb\r\nMORMSG77=Seventy-seven\r\n\x1A"
           "MORMSG78=never\r\n";
  }
  const LocaleData& before = Locale();
  InitLocaleForTesting(IntlSettings{}, path_);
  EXPECT_EQ(Locale().short_month_names[0], "Ene");
  EXPECT_EQ(RuntimeMessageOverride(77).value_or(""), "Seventy-seven");
  EXPECT_FALSE(RuntimeMessageOverride(78).has_value());
  // A reference from before the re-initialisation is still readable.
  EXPECT_FALSE(before.short_month_names[0].empty());
  InitLocaleForTesting(IntlSettings{}, "/nonexistent/none.ENV");
  EXPECT_EQ(Locale().short_month_names[0], "Jan");
}

// Given a user profile whose [intl] section sets a day-first date, a
// 24-hour clock and "." between the time parts, when several threads ask for
// the locale data at once, then all get the one data set built from it.
TEST(LocaleData, FirstUseReadsTheIntlProfileOnceAcrossThreads) {
  const std::string dir = ::testing::TempDir() + "locale_intl_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  {
    std::ofstream out(dir + "/profile.ini");
    out << "[intl]\niTime=1\niTLzero=0\nsTime=.\nsShortDate=dd.MM.yyyy\n"
           "sLongDate=dddd d MMMM yyyy\n";
  }
  const char* old = getenv("QZR_CONFIG_DIR");
  const std::string saved = old ? old : "";
  setenv("QZR_CONFIG_DIR", dir.c_str(), 1);
  ResetLocaleForTesting();
  const LocaleData* seen[4] = {};
  std::vector<std::thread> threads;
  for (auto& s : seen) threads.emplace_back([&s] { s = &Locale(); });
  for (auto& t : threads) t.join();
  for (const LocaleData* s : seen) EXPECT_EQ(s, seen[0]);
  const int32_t date = DateFromParts(7, 4, 2026);
  EXPECT_EQ(FormatDate(CompilePicture("@D17"), date), "04.07.2026");
  EXPECT_EQ(FormatDate(CompilePicture("@D18"), date), "Saturday 4 July 2026");
  EXPECT_EQ(FormatTime(CompilePicture("@T7"), TimeFromParts(9, 5, 0, 0)), "9.05");
  EXPECT_EQ(FormatTime(CompilePicture("@T8"), TimeFromParts(21, 5, 7, 0)), "21.05.07");
  if (old) {
    setenv("QZR_CONFIG_DIR", saved.c_str(), 1);
  } else {
    unsetenv("QZR_CONFIG_DIR");
  }
  InitLocaleForTesting(IntlSettings{}, "/nonexistent/none.ENV");
  std::remove((dir + "/profile.ini").c_str());
}

TEST(LocaleData, ProgramEnvFileIsBesideTheExecutable) {
  const std::string path = ProgramEnvFilePath();
  ASSERT_FALSE(path.empty());
  EXPECT_NE(path.find("qzr_runtime_tests.ENV"), std::string::npos) << path;
}

}  // namespace
}  // namespace qzr
