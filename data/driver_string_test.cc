// Tests of the driver-string parser: the syntax, the switch table's typed
// values, and each warning's exact text.

#include "data/driver_string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/core/runtime_message.h"

namespace qzr {
namespace {

const std::vector<SwitchSpec>& TestSwitches() {
  static const std::vector<SwitchSpec> specs = {
      {"TCF", SwitchType::kString, "", std::nullopt, "", ""},
      {"DecimalCheck", SwitchType::kBool, "ON", std::nullopt, "ON", "OFF"},
      {"FULLBUILD", SwitchType::kBool, "OFF", "ON", "ON", "OFF"},
      {"BUFFERS", SwitchType::kNumber, "16", "16", "", ""},
  };
  return specs;
}

std::string Joined(const ParsedDriverString& p) {
  std::string out;
  for (const DriverSwitch& s : p.switches) out += s.name + "=" + s.value + ";";
  return out;
}

TEST(DriverString, SplitsSwitchesInEveryAcceptedForm) {
  struct Case {
    const char* text;
    const char* switches;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"   ", ""},
      {"/TCF=/tmp/a.tcf /DecimalCheck=off", "TCF=/tmp/a.tcf;DecimalCheck=OFF;"},
      {"decimalcheck = Off,fullbuild", "DecimalCheck=OFF;FULLBUILD=ON;"},
      {"/BUFFERS=8/FULLBUILD=on", "BUFFERS=8;FULLBUILD=ON;"},
      {"TCF='C:\\My Files\\x.tcf' BUFFERS=+007", "TCF=C:\\My Files\\x.tcf;BUFFERS=7;"},
      {"TCF=\"it''s\" TCF='it''s'", "TCF=it''s;TCF=it's;"},
      {"Recover=10", "Recover=10;"},
      {"QUICKSCAN=on", "QUICKSCAN=on;"},
      {"QUICKSCAN=OFF", "QUICKSCAN=off;"},
      {"ALLOWDETAILS LOGFILE=trace.log[Trace]", "ALLOWDETAILS=ON;LOGFILE=trace.log[Trace];"},
      {"BUFFERS", "BUFFERS=16;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ParsedDriverString p = ParseDriverString(c.text, TestSwitches());
    EXPECT_EQ(Joined(p), c.switches);
    EXPECT_TRUE(p.warnings.empty()) << p.warnings.front();
    EXPECT_FALSE(p.poorly_formed);
  }
}

TEST(DriverString, WarnsWithTheExactTexts) {
  struct Case {
    const char* text;
    std::vector<std::string> warnings;
    const char* switches;
  };
  const std::vector<Case> cases = {
      {"NOSUCH=1 TCF=a", {"NOSUCH is not a valid switch"}, "TCF=a;"},
      {"TCF", {"TCF has no value"}, ""},
      {"TCF=", {"TCF has missing value"}, ""},
      {"Recover= /QUICKSCAN=on", {"Recover has missing value"}, "QUICKSCAN=on;"},
      {"Recover=ten", {"Recover has an incorrect value of ten.  Value ignored, using 0"}, ""},
      {"DecimalCheck=maybe",
       {"DecimalCheck has an incorrect value of maybe.  Value ignored, using ON"}, ""},
      {"TCF='unclosed", {"Poorly formed driver string."}, "TCF=unclosed;"},
      {"=3 (x) TCF=a", {"Poorly formed driver string."}, "TCF=a;"},
      {"LOGFILE=", {"LOGFILE has missing value"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ParsedDriverString p = ParseDriverString(c.text, TestSwitches());
    EXPECT_EQ(p.warnings, c.warnings);
    EXPECT_EQ(Joined(p), c.switches);
  }
}

TEST(DriverString, TypedReadsFallBackToDefaults) {
  const auto& specs = TestSwitches();
  ParsedDriverString p = ParseDriverString("DecimalCheck=OFF Recover=12 QUICKSCAN=on", specs);
  EXPECT_FALSE(SwitchBool(p, specs, "DECIMALCHECK"));
  EXPECT_FALSE(SwitchBool(p, specs, "FULLBUILD"));
  EXPECT_TRUE(SwitchBool(p, specs, "QUICKSCAN"));
  EXPECT_EQ(SwitchNumber(p, specs, "Recover"), 12);
  EXPECT_EQ(SwitchNumber(p, specs, "BUFFERS"), 16);
  EXPECT_EQ(SwitchString(p, specs, "TCF"), "");
  ParsedDriverString later = ParseDriverString("DecimalCheck=OFF DecimalCheck=ON", specs);
  EXPECT_TRUE(SwitchBool(later, specs, "DecimalCheck"));
}

TEST(DriverString, SplitsLogFileAndReportsWarnings) {
  LogFileSwitch a = SplitLogFile("trace.log[Details]");
  EXPECT_EQ(a.file, "trace.log");
  EXPECT_EQ(a.section, "Details");
  LogFileSwitch b = SplitLogFile("trace.log");
  EXPECT_EQ(b.file, "trace.log");
  EXPECT_EQ(b.section, "");

  std::vector<std::string> shown;
  RuntimeMessageHook previous = SetRuntimeMessageHook([&shown](std::string_view c, std::string_view t) {
    shown.push_back(std::string(c) + "|" + std::string(t));
  });
  ReportDriverStringWarnings(ParseDriverString("X TCF", TestSwitches()), "Palisade (PLX)");
  SetRuntimeMessageHook(std::move(previous));
  EXPECT_EQ(shown, (std::vector<std::string>{"Palisade (PLX)|X is not a valid switch",
                                             "Palisade (PLX)|TCF has no value"}));
}

}  // namespace
}  // namespace qzr
