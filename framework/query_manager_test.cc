// Tests of query by example: entries to exact filter texts (one table),
// every built filter evaluated by a view over a small catalogue file against
// a model of what it should select, values that must never become
// expression syntax, the filter length limit, and saved queries through the
// INI manager (odd names, a restart, a column no longer offered).

#include "framework/query_manager.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "data/file_driver.h"
#include "data/view.h"
#include "data/view_engine.h"
#include "drivers/palisade/driver.h"
#include "drivers/palisade/test_support.h"
#include "framework/error_manager.h"
#include "framework/file_manager.h"
#include "framework/func_test_declaration.h"
#include "framework/ini_manager.h"
#include "framework/view_manager.h"
#include "runtime/core/runtime_error.h"
#include "runtime/evaluator/evaluator.h"
#include "runtime/pictures/picture.h"
#include "runtime/settings/profile.h"
#include "runtime/values/ufo.h"
#include "ui/headless_backend.h"

namespace qzr {
namespace {

// The query columns of the main window, plus a date and a time column the
// catalogue does not have, and a column named through UPPER.
void AddFields(QueryManager& q) {
  q.AddQueryField("FUN:NAME", "Title", "@s99");
  q.AddQueryField("FUN:DESCRIPTION", "Description", "@s255");
  q.AddQueryField("FUN:FORUMLINK", "Forum Link", "@s254");
  q.AddQueryField("FUN:USER", "Posted by", "@s29");
  q.AddQueryField("FUN:ID", "Number", "@n-14");
  q.AddQueryField("FUN:FULLCODE", "Complete", "@n3");
  q.AddQueryField("FUN:ADDED", "Added", "@d2");  // mm/dd/yyyy
  q.AddQueryField("FUN:AT", "At", "@t1");        // hh:mm
  q.AddQueryField("UPPER(FUN:DESCRIPTION)", "Any case", "@s255");
}

// ---------------------------------------------------------------------------
// Entries to filter texts.

struct Entry {
  const char* field;
  const char* middle;
  const char* low = "";
  const char* high = "";
};

std::string Build(const std::vector<Entry>& entries, std::string* problem = nullptr) {
  QueryManager q;
  q.Init(nullptr, "Main", nullptr);
  AddFields(q);
  for (const Entry& e : entries) EXPECT_TRUE(q.SetQuery(e.field, e.middle, e.low, e.high));
  std::string filter, why;
  const bool ok = q.BuildFilter(&filter, &why);
  if (problem != nullptr) *problem = why;
  return ok ? filter : "REFUSED";
}

TEST(QueryFilterTest, EntriesGiveExactlyTheseFilters) {
  const std::string date = DEFORMAT("03/15/2021", "@d2");
  const std::string time = DEFORMAT("13:45", "@t1");
  ASSERT_NE(date, "0");
  ASSERT_NE(time, "0");
  struct Case {
    std::vector<Entry> entries;
    std::string filter;
  };
  const Case cases[] = {
      {{{"FUN:NAME", "=xyz"}}, "(FUN:NAME = 'xyz')"},
      {{{"FUN:NAME", "xyz"}}, "(FUN:NAME = 'xyz')"},
      {{{"FUN:ID", "<>5"}}, "(FUN:ID <> 5)"},
      {{{"FUN:ID", "=<5"}}, "(FUN:ID <= 5)"},
      {{{"FUN:ID", "<5"}}, "(FUN:ID <= 5)"},
      {{{"FUN:ID", ">5"}}, "(FUN:ID >= 5)"},
      {{{"FUN:ID", "", "1", "9"}}, "(FUN:ID > 1) AND (FUN:ID < 9)"},
      {{{"FUN:ID", "5", "1", "9"}}, "(FUN:ID = 5) AND (FUN:ID >= 1) AND (FUN:ID <= 9)"},
      {{{"FUN:NAME", "*xyz"}}, "INSTRING('xyz',FUN:NAME,1,1) <> 0"},
      {{{"FUN:NAME", "xyz*"}}, "SUB(FUN:NAME,1,3) = 'xyz'"},
      {{{"FUN:ID", "xyz*"}}, "SUB(LEFT(FUN:ID),1,3) = 'xyz'"},
      {{{"FUN:NAME", "O'Brien"}}, "(FUN:NAME = 'O''Brien')"},
      {{{"FUN:NAME", "^xyz"}}, "(UPPER(FUN:NAME) = 'XYZ')"},
      {{{"FUN:NAME", "xyz"}, {"FUN:ID", "5"}}, "(FUN:NAME = 'xyz') AND (FUN:ID = 5)"},
      {{}, ""},
      {{{"FUN:NAME", ""}, {"FUN:ID", "  "}}, ""},
      // Beyond the basic shapes.
      {{{"FUN:NAME", "~xyz"}}, "(FUN:NAME ~= 'xyz')"},
      {{{"FUN:ID", "NOT = 5"}}, "(FUN:ID <> 5)"},
      {{{"FUN:NAME", "contains xyz"}}, "INSTRING('xyz',FUN:NAME,1,1) <> 0"},
      {{{"FUN:NAME", "Begins xy"}}, "SUB(FUN:NAME,1,2) = 'xy'"},
      {{{"FUN:NAME", "*xyz*"}}, "INSTRING('xyz',FUN:NAME,1,1) <> 0"},
      {{{"FUN:NAME", "^*xyz"}}, "INSTRING('XYZ',UPPER(FUN:NAME),1,1) <> 0"},
      {{{"FUN:NAME", "Grüße*"}}, "SUB(FUN:NAME,1,5) = 'Grüße'"},  // characters, not bytes
      {{{"FUN:NAME", "xyz   "}}, "(FUN:NAME = 'xyz')"},
      {{{"FUN:NAME", "<>'"}}, "(FUN:NAME <> '''')"},
      {{{"UPPER(FUN:DESCRIPTION)", "abc"}}, "(UPPER(FUN:DESCRIPTION) = 'ABC')"},
      {{{"FUN:ID", "^7"}}, "(FUN:ID = 7)"},  // case means nothing to a number
      {{{"FUN:ID", " 0012 "}}, "(FUN:ID = 12)"},
      {{{"FUN:ID", "12.5"}}, "(FUN:ID = 13)"},  // as the column's picture reads it
      {{{"FUN:ID", "-3"}}, "(FUN:ID = -3)"},
      {{{"FUN:ADDED", "03/15/2021"}}, "(FUN:ADDED = " + date + ")"},
      {{{"FUN:AT", ">13:45"}}, "(FUN:AT >= " + time + ")"},
      // Operators the language has no spelling for become what they mean.
      {{{"FUN:ID", "~<5"}}, "(FUN:ID > 5)"},
      {{{"FUN:ID", "", "~4"}}, "(FUN:ID <= 4)"},
      // An operator without a value compares with nothing.
      {{{"FUN:NAME", "="}, {"FUN:ID", "<>"}, {"FUN:USER", "*"}, {"FUN:FORUMLINK", "^"}}, ""},
      {{{"FUN:ID", "", "", ">="}}, ""},
  };
  for (const Case& c : cases) {
    std::string problem;
    EXPECT_EQ(Build(c.entries, &problem), c.filter) << problem;
  }
}

TEST(QueryFilterTest, OperatorsNormaliseAsTyped) {
  const std::pair<const char*, const char*> cases[] = {
      {"=", "="},   {"==<", "<="}, {"=<", "<="}, {"<>", "<>"}, {"=<>", "<>"}, {"<>=", "<>"},
      {"=~", "~="}, {">", ">"},    {">=", ">="}, {"<", "<"},   {"><", "<>"},  {"=~<>", "="},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(NormaliseQueryOperator(in), out) << in;
}

TEST(QueryFilterTest, ValuesThatAreNoNumberDateOrTimeAreRefusedNeverPasted) {
  struct Case {
    Entry entry;
    const char* column;
  };
  const Case cases[] = {
      {{"FUN:ID", "1) OR (1"}, "Number"},
      {{"FUN:ID", "1 OR 1=1"}, "Number"},
      {{"FUN:ID", "abc"}, "Number"},
      {{"FUN:ID", "1.2.3"}, "Number"},
      {{"FUN:ID", "5)"}, "Number"},
      {{"FUN:FULLCODE", "", "", "x"}, "Complete"},
      {{"FUN:ADDED", "13/45/2021"}, "Added"},
      {{"FUN:ADDED", "yesterday"}, "Added"},
      {{"FUN:AT", "25:99"}, "At"},
  };
  for (const Case& c : cases) {
    std::string problem;
    EXPECT_EQ(Build({c.entry}, &problem), "REFUSED") << c.entry.middle << c.entry.high;
    EXPECT_TRUE(problem.starts_with(std::string(c.column) + ": \"")) << problem;
    EXPECT_NE(problem.find("is not a valid"), std::string::npos) << problem;
  }
  // The entry is checked where it is typed, with the same message.
  QueryManager q;
  q.Init(nullptr, "Main", nullptr);
  AddFields(q);
  EXPECT_EQ(q.ValidateEntry("FUN:ID", "1) OR (1"), "Number: \"1) OR (1\" is not a valid number.");
  EXPECT_EQ(q.ValidateEntry("FUN:ID", "<= 12"), "");
  EXPECT_EQ(q.ValidateEntry("FUN:NAME", "1) OR (1"), "");  // a string: it is quoted
  EXPECT_EQ(q.ValidateEntry("FUN:ADDED", "*2021"), "");    // a Contains is quoted too
}

TEST(QueryFilterTest, AFilterOverTheLimitIsRefusedNeverCut) {
  QueryManager q;
  q.Init(nullptr, "Main", nullptr);
  AddFields(q);
  const std::string long_value = "*" + std::string(480, 'x');
  for (const char* f : {"FUN:NAME", "FUN:DESCRIPTION", "FUN:FORUMLINK", "FUN:USER"}) {
    ASSERT_TRUE(q.SetQuery(f, long_value, long_value, long_value));
  }
  std::string filter = "stale", problem;
  EXPECT_FALSE(q.BuildFilter(&filter, &problem));
  EXPECT_EQ(filter, "");
  EXPECT_NE(problem.find("5000"), std::string::npos) << problem;
  EXPECT_EQ(q.BuildFilter(), "");
  // Just under the limit is fine.
  q.ClearQuery();
  EXPECT_TRUE(q.IsEmpty());
  for (const char* f : {"FUN:NAME", "FUN:DESCRIPTION", "FUN:FORUMLINK"}) {
    ASSERT_TRUE(q.SetQuery(f, long_value, long_value, long_value));
  }
  ASSERT_TRUE(q.BuildFilter(&filter, &problem)) << problem;
  EXPECT_GT(filter.size(), 4000u);
  EXPECT_LE(filter.size(), kMaxQueryFilter);
}

TEST(QueryFilterTest, SetQueryRefusesUnknownFieldsAndOverLongEntries) {
  QueryManager q;
  q.Init(nullptr, "Main", nullptr);
  AddFields(q);
  EXPECT_FALSE(q.AddQueryField("fun:name ", "again", "@s9"));  // already there
  EXPECT_FALSE(q.AddQueryField("", "none", "@s9"));
  EXPECT_FALSE(q.SetQuery("FUN:NOPE", QueryEntry::kMiddle, "x"));
  EXPECT_TRUE(q.SetQuery("fun:name", QueryEntry::kLow, std::string(kMaxQueryEntry, 'a')));
  EXPECT_FALSE(q.SetQuery("FUN:NAME", QueryEntry::kLow, std::string(kMaxQueryEntry + 1, 'b')));
  EXPECT_EQ(q.GetQuery("FUN:NAME", QueryEntry::kLow), std::string(kMaxQueryEntry, 'a'));
  EXPECT_FALSE(q.IsEmpty());
  q.ClearQuery();
  EXPECT_EQ(q.GetQuery("FUN:NAME", QueryEntry::kLow), "");
}

// ---------------------------------------------------------------------------
// Filters evaluated by a view over a catalogue file.

struct Rec {
  int32_t id;
  const char* name;
  const char* user;
  uint8_t fullcode;
  const char* added;  // mm/dd/yyyy
};

const Rec kRecs[] = {
    {1, "xyz", "ann", 1, "01/02/2020"},         {2, "XYZ tools", "bob", 0, "03/15/2021"},
    {3, "abc xyz", "O'Brien", 1, "03/15/2021"}, {4, "O'Brien's sort", "ann", 0, "12/31/2019"},
    {5, "xy", "cy", 1, "06/01/2022"},           {9, "Zeta", "bob", 0, "01/01/2021"},
    {12, "12 steps", "ann", 1, "02/02/2020"},   {120, "x') OR ('1'='1", "cy", 0, "03/15/2021"},
};

class QueryViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterPalisadeDriver();
    CreateEvaluator();
    FileStatus().Clear();
    ClearError();
    errors_.SetHaltHook([](int) {});
    errors_.Init();
    file_ = FuncTestFields(dir_.File("FUNC.PLX"), kPalisadeDriverName)
                .Field("ADDED", TypeCode::DATE)
                .Field("AT", TypeCode::TIME)
                .Key("P_ID", {{"ID"}}, kKeyPrimary | kKeyNocase | kKeyOpt)
                .Build();
    fm_.Init(&file_, &errors_);
    ASSERT_EQ(fm_.Open(), SeverityNone);
    for (const Rec& r : kRecs) {
      std::fill(file_.record.begin(), file_.record.end(), 0);
      UfoLong(file_.FieldData(0)).SetLong(r.id);
      Text("NAME", r.name);
      Text("DESCRIPTION", std::string("About ") + r.name);
      Text("USER", r.user);
      UfoByte(file_.FieldData(file_.FieldIndex("FULLCODE"))).SetLong(r.fullcode);
      UfoDate(file_.FieldData(file_.FieldIndex("ADDED")))
          .SetLong(std::stoi(DEFORMAT(r.added, "@d2")));
      UfoTime(file_.FieldData(file_.FieldIndex("AT"))).SetLong(r.id % 24 * 360000 + 1);
      ASSERT_EQ(DoFileOp(FileOp::ADD, file_), 0);
    }
    ASSERT_EQ(ViewBuilder(&file_).Build(&view_), 0);
    engine_ = std::make_unique<ViewEngine>(&view_);
    vm_.Init(engine_.get(), &fm_);
    vm_.AddSortOrder("P_ID");
    ASSERT_EQ(vm_.Open(), SeverityNone);
  }
  void TearDown() override {
    vm_.Kill();
    engine_.reset();
    fm_.Close();
    fm_.Kill();
    errors_.Kill();
    FileStatus().Clear();
  }

  void Text(const char* label, const std::string& v) {
    const int i = file_.FieldIndex(label);
    UfoCString(file_.FieldData(i), file_.fields[static_cast<size_t>(i)].size).SetText(v);
  }

  std::vector<int32_t> Select(const std::string& filter) {
    vm_.SetFilter(filter, "QBE");
    std::vector<int32_t> ids;
    EXPECT_EQ(vm_.PositionAtStart(), SeverityNone);
    while (vm_.Next() == SeverityNone) ids.push_back(UfoLong(file_.FieldData(0)).GetLong());
    return ids;
  }

  palisade::test::TempDir dir_;
  HeadlessBackend backend_;
  ScopedBackend scope_{&backend_};
  ErrorManager errors_;
  FileDescriptor file_;
  FileManager fm_;
  View view_;
  std::unique_ptr<ViewEngine> engine_;
  ViewManager vm_;
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

TEST_F(QueryViewTest, EachFilterSelectsExactlyTheRowsTheModelPicks) {
  const int32_t mar15 = std::stoi(DEFORMAT("03/15/2021", "@d2"));
  const int32_t jan01 = std::stoi(DEFORMAT("01/01/2021", "@d2"));
  struct Case {
    std::vector<Entry> entries;
    std::function<bool(const Rec&)> model;
  };
  auto added = [](const Rec& r) { return std::stoi(DEFORMAT(r.added, "@d2")); };
  const Case cases[] = {
      {{{"FUN:NAME", "xyz"}}, [](const Rec& r) { return std::string(r.name) == "xyz"; }},
      {{{"FUN:NAME", "^xyz"}}, [](const Rec& r) { return Upper(r.name) == "XYZ"; }},
      {{{"FUN:NAME", "*xyz"}},
       [](const Rec& r) { return std::string(r.name).find("xyz") != std::string::npos; }},
      {{{"FUN:NAME", "^*xyz"}},
       [](const Rec& r) { return Upper(r.name).find("XYZ") != std::string::npos; }},
      {{{"FUN:NAME", "xy*"}}, [](const Rec& r) { return std::string(r.name).starts_with("xy"); }},
      {{{"FUN:ID", "12*"}}, [](const Rec& r) { return std::to_string(r.id).starts_with("12"); }},
      {{{"FUN:ID", "<>5"}}, [](const Rec& r) { return r.id != 5; }},
      {{{"FUN:ID", "<5"}}, [](const Rec& r) { return r.id <= 5; }},
      {{{"FUN:ID", "", "1", "9"}}, [](const Rec& r) { return r.id > 1 && r.id < 9; }},
      {{{"FUN:ID", "", "2", "12"}, {"FUN:FULLCODE", "1"}},
       [](const Rec& r) { return r.id > 2 && r.id < 12 && r.fullcode == 1; }},
      {{{"FUN:USER", "O'Brien"}}, [](const Rec& r) { return std::string(r.user) == "O'Brien"; }},
      {{{"FUN:NAME", "O'Brien*"}},
       [](const Rec& r) { return std::string(r.name).starts_with("O'Brien"); }},
      {{{"FUN:NAME", "x') OR ('1'='1"}},
       [](const Rec& r) { return std::string(r.name) == "x') OR ('1'='1"; }},
      {{{"FUN:USER", "~ann"}}, [](const Rec& r) { return std::string(r.user) != "ann"; }},
      {{{"FUN:ADDED", "03/15/2021"}}, [&](const Rec& r) { return added(r) == mar15; }},
      {{{"FUN:ADDED", "", "01/01/2021"}}, [&](const Rec& r) { return added(r) > jan01; }},
      {{{"FUN:AT", "", "", "03:00"}}, [](const Rec& r) { return r.id % 24 < 3; }},
      {{{"UPPER(FUN:DESCRIPTION)", "*about x"}},
       [](const Rec& r) {
         return Upper(std::string("About ") + r.name).find("ABOUT X") != std::string::npos;
       }},
      {{}, [](const Rec&) { return true; }},
  };
  for (const Case& c : cases) {
    const std::string filter = Build(c.entries);
    ASSERT_NE(filter, "REFUSED");
    std::vector<int32_t> want;
    for (const Rec& r : kRecs) {
      if (c.model(r)) want.push_back(r.id);
    }
    EXPECT_EQ(Select(filter), want) << filter;
  }
  EXPECT_TRUE(backend_.Messages().empty());  // the view took every filter
}

// ---------------------------------------------------------------------------
// Saved queries.

class SavedQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QZR_CONFIG_DIR", dir_.File("cfg").c_str(), 1);
    FileStatus().Clear();
    errors_.SetHaltHook([](int) {});
    errors_.Init();
    ini_ = std::make_unique<IniManager>();
    ini_->Init("qzrfunctions.INI");
  }
  void TearDown() override {
    ini_->Kill();
    errors_.Kill();
    FileStatus().Clear();
    ::unsetenv("QZR_CONFIG_DIR");
  }

  // The program ending and starting again: a new INI manager.
  void Restart() {
    ini_->Kill();
    ini_ = std::make_unique<IniManager>();
    ini_->Init("qzrfunctions.INI");
  }

  std::unique_ptr<QueryManager> Manager(bool with_user = true) {
    auto q = std::make_unique<QueryManager>();
    q->Init(ini_.get(), "Main", &errors_);
    q->AddQueryField("FUN:NAME", "Title", "@s99");
    if (with_user) q->AddQueryField("FUN:USER", "Posted by", "@s29");
    q->AddQueryField("FUN:ID", "Number", "@n-14");
    return q;
  }

  std::string IniText() {
    std::ifstream in(ProfilePath("qzrfunctions.INI"), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  palisade::test::TempDir dir_;
  HeadlessBackend backend_;
  ScopedBackend scope_{&backend_};
  ErrorManager errors_;
  std::unique_ptr<IniManager> ini_;
};

TEST_F(SavedQueryTest, SaveRestoreAndDeleteRoundTripsWithAnyName) {
  const std::vector<std::string> names = {"a]b", "x=y", "$cost$$", "Grüße 日本", "[head]", "%41;#"};
  // Values a settings file would otherwise mangle: commas, quotes at the
  // ends, blanks at the ends, percent signs.
  const std::string odd = " 'quoted, with %20 and \"more\"' ";
  {
    auto q = Manager();
    for (size_t i = 0; i < names.size(); ++i) {
      q->ClearQuery();
      ASSERT_TRUE(q->SetQuery("FUN:NAME", "^*" + names[i], odd, ""));
      ASSERT_TRUE(q->SetQuery("FUN:ID", "", std::to_string(i), "<>99"));
      std::string problem;
      ASSERT_EQ(q->SaveQuery(names[i], &problem), SeverityNone) << names[i] << problem;
    }
  }
  // No section header breaks on a "]" in a name.
  std::istringstream lines(IniText());
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("[")) {
      EXPECT_EQ(line.find(']'), line.size() - 1) << line;
    }
  }

  Restart();
  auto q = Manager();
  std::vector<std::string> newest_first(names.rbegin(), names.rend());
  EXPECT_EQ(q->SavedQueries(), newest_first);
  for (size_t i = 0; i < names.size(); ++i) {
    ASSERT_EQ(q->RestoreQuery(names[i]), SeverityNone) << names[i];
    EXPECT_EQ(q->GetQuery("FUN:NAME", QueryEntry::kMiddle), "^*" + names[i]);
    EXPECT_EQ(q->GetQuery("FUN:NAME", QueryEntry::kLow), odd);
    EXPECT_EQ(q->GetQuery("FUN:NAME", QueryEntry::kHigh), "");
    EXPECT_EQ(q->GetQuery("FUN:ID", QueryEntry::kLow), std::to_string(i));
    EXPECT_EQ(q->GetQuery("FUN:ID", QueryEntry::kHigh), "<>99");
    EXPECT_EQ(q->GetQuery("FUN:USER", QueryEntry::kMiddle), "");
  }
  EXPECT_EQ(q->DroppedColumns(), 0);

  ASSERT_EQ(q->DeleteQuery("x=y"), SeverityNone);
  ASSERT_EQ(q->DeleteQuery("Grüße 日本"), SeverityNone);
  Restart();
  q = Manager();
  EXPECT_EQ(q->SavedQueries(), std::vector<std::string>({"%41;#", "[head]", "$cost$$", "a]b"}));
  q->SetQuery("FUN:NAME", "left alone");
  EXPECT_EQ(q->RestoreQuery("x=y"), SeverityInform);  // gone: nothing changes
  EXPECT_EQ(q->GetQuery("FUN:NAME", QueryEntry::kMiddle), "left alone");
  ASSERT_EQ(q->RestoreQuery("$cost$$"), SeverityNone);
  EXPECT_EQ(q->GetQuery("FUN:NAME", QueryEntry::kMiddle), "^*$cost$$");
  EXPECT_TRUE(backend_.Messages().empty());
}

TEST_F(SavedQueryTest, SavingAgainReplacesAndMovesTheNameFirst) {
  auto q = Manager();
  q->SetQuery("FUN:NAME", "one");
  ASSERT_EQ(q->SaveQuery("Mine"), SeverityNone);
  q->SetQuery("FUN:NAME", "two");
  ASSERT_EQ(q->SaveQuery("Other"), SeverityNone);
  q->ClearQuery();
  q->SetQuery("FUN:USER", "three");
  ASSERT_EQ(q->SaveQuery("  MINE "), SeverityNone);  // the same name to the settings file
  EXPECT_EQ(q->SavedQueries(), std::vector<std::string>({"MINE", "Other"}));
  ASSERT_EQ(q->RestoreQuery("mine"), SeverityNone);
  EXPECT_EQ(q->GetQuery("FUN:NAME", QueryEntry::kMiddle), "");  // replaced, not merged
  EXPECT_EQ(q->GetQuery("FUN:USER", QueryEntry::kMiddle), "three");

  std::string problem;
  EXPECT_EQ(q->SaveQuery("   ", &problem), SeverityInform);
  EXPECT_FALSE(problem.empty());
  EXPECT_EQ(q->SaveQuery(std::string(kMaxQueryName + 1, 'n'), &problem), SeverityInform);
  EXPECT_NE(problem.find("too long"), std::string::npos);
  EXPECT_EQ(q->SavedQueries().size(), 2u);
}

TEST_F(SavedQueryTest, ASavedColumnNoLongerOfferedIsDroppedWithError44) {
  {
    auto q = Manager();
    q->SetQuery("FUN:NAME", "*sort");
    q->SetQuery("FUN:USER", "ann");
    q->SetQuery("FUN:ID", "", "3");
    ASSERT_EQ(q->SaveQuery("by user"), SeverityNone);
  }
  Restart();
  auto q = Manager(/*with_user=*/false);
  ASSERT_EQ(q->RestoreQuery("by user"), SeverityNone);
  ASSERT_EQ(backend_.Messages().size(), 1u);
  EXPECT_EQ(backend_.Messages()[0].request.caption, "Unsupported QBE Column");
  EXPECT_EQ(backend_.Messages()[0].request.text,
            "The saved QBE column, FUN:USER is not supported. It will be dropped from the query.");
  EXPECT_EQ(q->DroppedColumns(), 1);
  EXPECT_EQ(q->GetQuery("FUN:NAME", QueryEntry::kMiddle), "*sort");
  EXPECT_EQ(q->GetQuery("FUN:ID", QueryEntry::kLow), "3");
  EXPECT_EQ(q->BuildFilter(), "INSTRING('sort',FUN:NAME,1,1) <> 0 AND (FUN:ID > 3)");
}

TEST_F(SavedQueryTest, ADamagedSavedQueryRestoresWhatItCan) {
  auto q = Manager();
  q->SetQuery("FUN:NAME", "kept");
  ASSERT_EQ(q->SaveQuery("hurt"), SeverityNone);
  const std::string section = IniManager::MakeSectionName("Query", "hurt", "Main");
  ASSERT_EQ(ini_->Update(section, "Count", "999999999"), SeverityNone);
  ASSERT_EQ(ini_->Update(section, "MIDDLE_1", std::string(900, 'm')), SeverityNone);
  // A list naming a query that is not there.
  ASSERT_EQ(ini_->Update(IniManager::MakeSectionName("Query", "", "Main"), "tsMRU", "3"),
            SeverityNone);
  ASSERT_EQ(q->RestoreQuery("hurt"), SeverityNone);
  EXPECT_EQ(q->GetQuery("FUN:NAME", QueryEntry::kMiddle), std::string(kMaxQueryEntry, 'm'));
  EXPECT_EQ(q->SavedQueries(), std::vector<std::string>({"hurt"}));
  EXPECT_TRUE(backend_.Messages().empty());
}

TEST_F(SavedQueryTest, PopupEntriesListTheSavedQueriesThenClear) {
  auto q = Manager();
  auto names = [&] {
    std::vector<std::string> out;
    for (const QueryPopupEntry& e : q->PopupEntries()) out.push_back(e.name + "=" + e.text);
    return out;
  };
  EXPECT_EQ(names(), std::vector<std::string>({"tsQBEEmpty=(No Saved Queries)",
                                               "tsQBESeparator1=", "tsQBEClear=C&lear"}));
  q->SetQuery("FUN:NAME", "x");
  q->SaveQuery("first");
  q->SaveQuery("second & more");
  EXPECT_EQ(names(), std::vector<std::string>({"tsQBEItem1=second & more", "tsQBEItem2=first",
                                               "tsQBESeparator1=", "tsQBEClear=C&lear"}));
  const std::vector<QueryListItem> items = q->SavedQueryItems();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[1].FAMILY, "Query");
  EXPECT_EQ(items[1].ITEM, "first");
  EXPECT_EQ(items[1].TYPE, "Main");
}

TEST_F(SavedQueryTest, AnUnwritableSettingsFileIsReported) {
  ini_->Kill();
  ini_ = std::make_unique<IniManager>();
  ini_->Init("/proc/qzr-no-such-place/q.INI");
  auto q = Manager();
  q->SetQuery("FUN:NAME", "x");
  std::string problem;
  EXPECT_EQ(q->SaveQuery("lost", &problem), SeverityInform);
  EXPECT_NE(problem.find("could not be saved"), std::string::npos) << problem;
  EXPECT_TRUE(q->SavedQueries().empty());
  EXPECT_EQ(q->GetQuery("FUN:NAME", QueryEntry::kMiddle), "x");  // the query itself stays
}

}  // namespace
}  // namespace qzr
