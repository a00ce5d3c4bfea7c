// Tests of the sort header over a real catalogue-shaped file: the stored
// sort string read back (tables, damaged and enormous entries), the order
// built from it (tables), header clicks reordering the rows the view reads,
// and the stored entry in the INI file and the registry stand-in across a
// restart.

#include "addons/sort_header.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
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
#include "framework/view_manager.h"
#include "framework/window_manager.h"
#include "runtime/core/runtime_error.h"
#include "runtime/evaluator/evaluator.h"
#include "runtime/settings/profile.h"
#include "runtime/settings/registry.h"
#include "runtime/values/queue.h"
#include "runtime/values/ufo.h"
#include "ui/event.h"
#include "ui/headless_backend.h"
#include "ui/window.h"
#include "ui/window_def.h"

namespace qzr {
namespace {

namespace fs = std::filesystem;

// The catalogue's file with a field whose name extends the key's (IDX) and
// a second key of two components, one descending.
FileDescriptor Func(const std::string& path) {
  return FuncTestFields(path, kPalisadeDriverName)
      .Field("IDX", TypeCode::LONG)
      .Memo("EXAMPLECODE", 64000)
      .Key("P_ID", {{"ID"}}, kKeyPrimary | kKeyNocase | kKeyOpt)
      .Key("K_USER", {{"USER"}, {"ID", true}}, kKeyNocase)
      .Build();
}

struct Row {
  int32_t id;
  const char* name;
  const char* link;
  uint8_t fullcode;
};

// Titles in mixed case, two titles equal but for case (a tie the key must
// break), links in another order.
const Row kRows[] = {
    {1, "Zeta", "http://c", 1}, {2, "alpha", "http://a", 0}, {3, "Mu", "http://e", 1},
    {4, "beta", "http://b", 0}, {5, "ALPHA", "http://d", 1}, {6, "gamma", "http://f", 0},
};

// The list's columns as the main window shows them.
std::vector<SortHeaderColumn> Columns() {
  return {
      {1, "", "FUN:FULLCODE", "@p p@", 0},
      {2, "Title", "FUN:NAME", "@s99@", 0},
      {3, "Description", "FUN:DESCRIPTION", "@s255@", 0},
      {4, "Code", "FUN:EXAMPLECODE", "@s255@", 0},
      {5, "Forum Link", "FUN:FORUMLINK", "@s254@", 0},
      {6, "Number", "FUN:ID", "@n-14@", 0},
      {7, "Nothing", "LOC:COUNTER", "@n3@", 0},
  };
}

void SetText(FileDescriptor& f, const char* label, const std::string& v) {
  const int i = f.FieldIndex(label);
  UfoCString(f.FieldData(i), f.fields[static_cast<size_t>(i)].size).SetText(v);
}

class SortHeaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QZR_CONFIG_DIR", dir_.File("cfg").c_str(), 1);
    RegisterPalisadeDriver();
    CreateEvaluator();
    FileStatus().Clear();
    ClearError();
    errors_.SetHaltHook([](int) {});
    errors_.Init();
    file_ = Func(dir_.File("FUNC.PLX"));
    fm_.Init(&file_, &errors_);
    fm_.RegisterKey("P_ID", "FUN:P_ID", 1);
    ASSERT_EQ(fm_.Open(), SeverityNone);
    for (const Row& r : kRows) {
      std::fill(file_.record.begin(), file_.record.end(), 0);
      UfoLong(file_.FieldData(0)).SetLong(r.id);
      SetText(file_, "NAME", r.name);
      SetText(file_, "FORUMLINK", r.link);
      UfoByte(file_.FieldData(file_.FieldIndex("FULLCODE"))).SetLong(r.fullcode);
      ASSERT_EQ(DoFileOp(FileOp::ADD, file_), 0);
    }
    // The main window's view: everything but the user and IDX.
    ASSERT_EQ(
        ViewBuilder(&file_)
            .Project({"FUN:FULLCODE", "FUN:NAME", "FUN:DESCRIPTION", "FUN:ID", "FUN:FORUMLINK"})
            .ProjectMemo("FUN:EXAMPLECODE")
            .Build(&view_),
        0);
    engine_ = std::make_unique<ViewEngine>(&view_);
    vm_.Init(engine_.get(), &fm_, nullptr, &view_);
    vm_.AddSortOrder();
    ASSERT_EQ(vm_.Open(), SeverityNone);
  }
  void TearDown() override {
    vm_.Kill();
    engine_.reset();
    fm_.Close();
    fm_.Kill();
    errors_.Kill();
    FileStatus().Clear();
    ::unsetenv("QZR_CONFIG_DIR");
  }

  std::vector<int32_t> ReadAll() {
    std::vector<int32_t> ids;
    EXPECT_EQ(vm_.PositionAtStart(), SeverityNone);
    while (vm_.Next() == SeverityNone) ids.push_back(UfoLong(file_.FieldData(0)).GetLong());
    return ids;
  }

  // A header over the view, stored in `ini` under "Main", list control 6.
  std::unique_ptr<SortHeader> Header(const std::string& ini = "qzrfunctions.INI",
                                     const std::string& proc = "Main") {
    auto h = std::make_unique<SortHeader>();
    h->NOCASE = 1;
    h->Init(6, &vm_, file_.KeyIndex("P_ID"), ini, proc, Columns());
    return h;
  }

  std::string IniText(const std::string& ini = "qzrfunctions.INI") {
    std::ifstream in(ProfilePath(ini), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  palisade::test::TempDir dir_;
  HeadlessBackend backend_;
  HeadlessBackend& ui_ = backend_;
  ScopedBackend scope_{&backend_};
  ErrorManager errors_;
  FileDescriptor file_;
  FileManager fm_;
  View view_;
  std::unique_ptr<ViewEngine> engine_;
  ViewManager vm_;
};

// ---------------------------------------------------------------------------
// The stored sort string read back.

TEST_F(SortHeaderTest, ApplySortStringTakesWhatNamesASortableColumn) {
  auto h = Header("", "");
  struct Case {
    std::string text;
    std::vector<SortHeaderItem> sort;
    int16_t order;
  };
  const std::string huge = [] {
    std::string s;
    while (s.size() < 3'000'000) s += "+FUN:NOPE,";
    return "-FUN:FORUMLINK," + s + "+FUN:NAME";
  }();
  const Case cases[] = {
      {"+FUN:NAME", {{2, 1}}, 2},
      {"-FUN:NAME", {{2, -1}}, -2},
      {"FUN:NAME", {{2, 1}}, 2},                                 // no sign: ascending
      {"   -fun:name ,  +FUN:FORUMLINK", {{2, -1}, {5, 1}}, 5},  // blanks, case
      {"+FUN:GONE,-FUN:DESCRIPTION", {{3, -1}}, -3},             // unknown name dropped
      {"+FUN:EXAMPLECODE,+LOC:COUNTER,-FUN:ID", {{6, -1}}, -6},  // memo, variable
      {"+FUN:NAME,-FUN:NAME", {{2, 1}}, 2},                      // a column once
      {"+FUN:USER", {}, 0},                                      // not a list column
      {"", {}, 0},
      {",,, + , - ,", {}, 0},
      {"\x01\xff[]=;\"'%", {}, 0},
      {"+UPPER(FUN:NAME)", {}, 0},
      {huge, {{5, -1}}, -5},  // the tail past the longest order text is damage
  };
  for (const Case& c : cases) {
    h->PREVSORTORDER = 9;
    h->ApplySortString(c.text);
    EXPECT_EQ(h->QUEUELISTSORT, c.sort) << c.text.substr(0, 60);
    EXPECT_EQ(h->SORTORDER, c.order) << c.text.substr(0, 60);
    EXPECT_EQ(h->PREVSORTORDER, 0);
  }
}

TEST_F(SortHeaderTest, ColumnsThatCannotBeOrderedByAreMarked) {
  auto h = Header("", "");
  std::vector<int> sortable;
  for (const SortHeaderColumn& c : h->QUEUELISTHEADER) {
    if (c.SORTABLE) sortable.push_back(c.COLUMN);
  }
  EXPECT_EQ(sortable, std::vector<int>({1, 2, 3, 5, 6}));  // not the code nor a variable

  // A field of the file the view does not project: sortable unless
  // DISABLENONVIEWCOLUMNS.
  std::vector<SortHeaderColumn> cols = {{1, "User", "FUN:USER", "@s29@", 0}};
  SortHeader loose;
  loose.Init(6, &vm_, 0, "", "", cols);
  EXPECT_TRUE(loose.IsSortable(1));
  SortHeader strict;
  strict.DISABLENONVIEWCOLUMNS = 1;
  strict.Init(6, &vm_, 0, "", "", cols);
  EXPECT_FALSE(strict.IsSortable(1));
}

// ---------------------------------------------------------------------------
// The order.

TEST_F(SortHeaderTest, BuildOrderAsATable) {
  struct Case {
    std::vector<SortHeaderItem> sort;
    uint8_t nocase;
    uint8_t by_picture;
    const char* key;
    std::string order;
  };
  const Case cases[] = {
      {{}, 0, 0, "P_ID", "+FUN:ID"},
      {{{2, 1}}, 0, 0, "P_ID", "+FUN:NAME,+FUN:ID"},
      {{{2, -1}}, 0, 0, "P_ID", "-FUN:NAME,+FUN:ID"},  // descending first column
      {{{2, -1}}, 1, 0, "P_ID", "-UPPER(FUN:NAME),+FUN:ID"},
      {{{1, 1}, {2, 1}}, 1, 0, "P_ID", "+UPPER(FUN:FULLCODE),+UPPER(FUN:NAME),+FUN:ID"},
      // By picture: only string pictures fold.
      {{{1, 1}, {2, 1}}, 1, 1, "P_ID", "+FUN:FULLCODE,+UPPER(FUN:NAME),+FUN:ID"},
      {{{6, 1}}, 1, 1, "P_ID", "+FUN:ID"},
      // The key's component is there already, in any of its forms.
      {{{6, -1}}, 0, 0, "P_ID", "-FUN:ID"},
      {{{6, -1}}, 1, 0, "P_ID", "-UPPER(FUN:ID)"},
      {{{5, 1}, {6, -1}}, 0, 0, "P_ID", "+FUN:FORUMLINK,-FUN:ID"},
      // Components are appended with their own direction.
      {{{2, 1}}, 0, 0, "K_USER", "+FUN:NAME,+FUN:USER,-FUN:ID"},
      {{}, 0, 0, "K_USER", "+FUN:USER,-FUN:ID"},
      {{{2, 1}}, 0, 0, "", "+FUN:NAME"},  // no key
      {{}, 0, 0, "", ""},
  };
  for (const Case& c : cases) {
    SortHeader h;
    h.NOCASE = c.nocase;
    h.USEPICTUREFORCASE = c.by_picture;
    h.Init(6, &vm_, file_.KeyIndex(c.key), "", "", Columns());
    h.QUEUELISTSORT = c.sort;
    EXPECT_EQ(h.BuildOrder(), c.order) << c.order;
  }
}

TEST_F(SortHeaderTest, AComponentIsNotTakenAsPresentBecauseALongerNameContainsIt) {
  // A column showing IDX: "+FUN:IDX" contains "+FUN:ID" as text, yet the key
  // still has to be appended or rows with equal IDX come in no set order.
  SortHeader h;
  h.Init(6, &vm_, file_.KeyIndex("P_ID"), "", "", {{1, "Index", "FUN:IDX", "@n9@", 0}});
  h.QUEUELISTSORT = {{1, 1}};
  EXPECT_EQ(h.BuildOrder(), "+FUN:IDX,+FUN:ID");
  h.QUEUELISTSORT = {{1, -1}};
  h.NOCASE = 1;
  EXPECT_EQ(h.BuildOrder(), "-UPPER(FUN:IDX),+FUN:ID");
}

TEST_F(SortHeaderTest, AnOrderTooLongForTheLimitDropsSortColumnsNeverTheKey) {
  SortHeader h;
  h.Init(6, &vm_, file_.KeyIndex("P_ID"), "", "", {});
  // 120 columns of 110-byte labels: past the limit by some 3000 bytes.
  for (int i = 1; i <= 120; ++i) {
    h.QUEUELISTHEADER.push_back(
        {i, "c", "FUN:" + std::string(100, 'X') + std::to_string(i), "", 1});
    h.QUEUELISTSORT.push_back({i, 1});
  }
  const std::string order = h.BuildOrder();
  EXPECT_LE(order.size(), kMaxSortOrderText);
  EXPECT_GT(order.size(), kMaxSortOrderText - 120);
  EXPECT_TRUE(order.starts_with("+FUN:XXX"));
  EXPECT_TRUE(order.ends_with(",+FUN:ID")) << order.substr(order.size() - 30);
}

// ---------------------------------------------------------------------------
// Clicks.

TEST_F(SortHeaderTest, ClicksSortReverseAndReplaceTheOrderTheViewReads) {
  auto h = Header("", "");
  EXPECT_EQ(ReadAll(), std::vector<int32_t>({1, 2, 3, 4, 5, 6}));  // natural order

  ASSERT_TRUE(h->ClickColumn(2));
  EXPECT_EQ(engine_->OrderText(), "+UPPER(FUN:NAME),+FUN:ID");
  // alpha(2) ALPHA(5) beta gamma Mu Zeta: the tie broken by the number.
  EXPECT_EQ(ReadAll(), std::vector<int32_t>({2, 5, 4, 6, 3, 1}));
  EXPECT_EQ(h->SORTORDER, 2);

  ASSERT_TRUE(h->ClickColumn(2));
  EXPECT_EQ(engine_->OrderText(), "-UPPER(FUN:NAME),+FUN:ID");
  EXPECT_EQ(ReadAll(), std::vector<int32_t>({1, 3, 6, 4, 2, 5}));
  EXPECT_EQ(h->SORTORDER, -2);
  EXPECT_EQ(h->PREVSORTORDER, 2);

  // Another column replaces the sort (no MULTIPLECOLUMNS: modifiers change
  // nothing).
  ASSERT_TRUE(h->ClickColumn(5, kSortShiftKey));
  EXPECT_EQ(h->QUEUELISTSORT, std::vector<SortHeaderItem>({{5, 1}}));
  EXPECT_EQ(ReadAll(), std::vector<int32_t>({2, 4, 1, 5, 3, 6}));

  // The code column and a variable's column: nothing happens.
  EXPECT_FALSE(h->ClickColumn(4));
  EXPECT_FALSE(h->ClickColumn(7));
  EXPECT_FALSE(h->ClickColumn(99));
  EXPECT_EQ(h->QUEUELISTSORT, std::vector<SortHeaderItem>({{5, 1}}));
  EXPECT_EQ(h->SORTORDER, 5);
  EXPECT_TRUE(backend_.Messages().empty());
}

TEST_F(SortHeaderTest, WithMultipleColumnsAModifiedClickAddsOrReversesAColumn) {
  auto h = std::make_unique<SortHeader>();
  h->MULTIPLECOLUMNS = 1;
  h->Init(6, &vm_, file_.KeyIndex("P_ID"), "", "", Columns());
  h->ClickColumn(1);
  h->ClickColumn(5, kSortCtrlKey);
  EXPECT_EQ(engine_->OrderText(), "+FUN:FULLCODE,+FUN:FORUMLINK,+FUN:ID");
  EXPECT_EQ(ReadAll(), std::vector<int32_t>({2, 4, 6, 1, 5, 3}));
  h->ClickColumn(1, kSortShiftKey);
  EXPECT_EQ(engine_->OrderText(), "-FUN:FULLCODE,+FUN:FORUMLINK,+FUN:ID");
  EXPECT_EQ(h->SORTORDER, -1);
  // A plain click sorts by that column alone, ascending unless it was the
  // first sort column.
  h->ClickColumn(5);
  EXPECT_EQ(engine_->OrderText(), "+FUN:FORUMLINK,+FUN:ID");

  // FORCECHANGESIGNORDER: a column not sorted yet starts descending.
  h->FORCECHANGESIGNORDER = 1;
  h->ClickColumn(2);
  EXPECT_EQ(h->QUEUELISTSORT, std::vector<SortHeaderItem>({{2, -1}}));
}

// ---------------------------------------------------------------------------
// Storage.

TEST_F(SortHeaderTest, TheStoredOrderSurvivesARestart) {
  {
    auto h = Header();
    EXPECT_TRUE(h->QUEUELISTSORT.empty());
    h->ClickColumn(2);
    h->ClickColumn(2);
    h->Kill();
  }
  EXPECT_NE(IniText().find("[Main]"), std::string::npos) << IniText();
  EXPECT_NE(IniText().find("SortHeader_6=-FUN:NAME"), std::string::npos) << IniText();

  // The next run: the order is restored and applied before the first read.
  vm_.SelectOrderText("");
  auto h = Header();
  EXPECT_EQ(h->QUEUELISTSORT, std::vector<SortHeaderItem>({{2, -1}}));
  EXPECT_EQ(h->SORTORDER, -2);
  EXPECT_EQ(engine_->OrderText(), "-UPPER(FUN:NAME),+FUN:ID");
  EXPECT_EQ(ReadAll(), std::vector<int32_t>({1, 3, 6, 4, 2, 5}));
  // Another list of the same procedure has its own entry.
  SortHeader other;
  other.Init(9, &vm_, 0, "qzrfunctions.INI", "Main", Columns());
  EXPECT_TRUE(other.QUEUELISTSORT.empty());
}

TEST_F(SortHeaderTest, AnEmptyProcedureOrFileNameStoresAndRestoresNothing) {
  for (const auto& [ini, proc] : {std::pair<std::string, std::string>{"qzrfunctions.INI", ""},
                                  {"qzrfunctions.INI", "   "},
                                  {"", "Main"}}) {
    auto h = Header(ini, proc);
    EXPECT_EQ(h->StoragePlace().kind, SortStoragePlace::Kind::kNone);
    EXPECT_TRUE(h->ClickColumn(2));  // sorting still works
    EXPECT_FALSE(h->SaveSortOrder());
    h->Kill();
    EXPECT_FALSE(h->RestoreSortOrder());
  }
  EXPECT_FALSE(fs::exists(ProfilePath("qzrfunctions.INI")));
  EXPECT_FALSE(fs::exists(dir_.File("cfg") + "/registry.txt"));
}

TEST_F(SortHeaderTest, ARegistryRootInTheFileNameStoresInTheRegistry) {
  // HKEY_CURRENT_USER as an unsigned number and as a signed LONG.
  for (const char* root : {"2147483649", "-2147483647"}) {
    auto h = Header(root, "Main  ");
    const SortStoragePlace place = h->StoragePlace();
    EXPECT_EQ(place.kind, SortStoragePlace::Kind::kRegistry);
    EXPECT_EQ(place.root, HKEY_CURRENT_USER);
    EXPECT_EQ(place.section, "Main");
    h->ClickColumn(5);
    EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "Main", "SortHeader_6"), "+FUN:FORUMLINK");
    h->ClickColumn(5);
    auto again = Header(root, "Main");
    EXPECT_EQ(again->QUEUELISTSORT, std::vector<SortHeaderItem>({{5, -1}}));
    ASSERT_EQ(SHDeleteKey(HKEY_CURRENT_USER, "Main"), ERROR_SUCCESS);
  }
  // A number that is no root handle names an INI file.
  auto h = Header("2147483655", "Main");
  EXPECT_EQ(h->StoragePlace().kind, SortStoragePlace::Kind::kIni);
  EXPECT_FALSE(fs::exists(ProfilePath("qzrfunctions.INI")));
  EXPECT_EQ(OpenRegistryHandleCount(), 0u);
}

TEST_F(SortHeaderTest, ADamagedStoredEntryRestoresWhatItCan) {
  ASSERT_TRUE(WritePrivateProfileString("Main", "SortHeader_6",
                                        "garbage,,-FUN:NAME;x,  -fun:forumlink  ,+FUN:EXAMPLECODE",
                                        "qzrfunctions.INI"));
  auto h = Header();
  EXPECT_EQ(h->QUEUELISTSORT, std::vector<SortHeaderItem>({{5, -1}}));
  EXPECT_EQ(engine_->OrderText(), "-UPPER(FUN:FORUMLINK),+FUN:ID");
  EXPECT_TRUE(backend_.Messages().empty());

  // Nothing usable: the view keeps its own order.
  vm_.SelectOrderText("");
  ASSERT_TRUE(WritePrivateProfileString("Main", "SortHeader_6", std::string(200000, '-'),
                                        "qzrfunctions.INI"));
  auto g = Header();
  EXPECT_TRUE(g->QUEUELISTSORT.empty());
  EXPECT_EQ(engine_->OrderText(), "");
}

TEST_F(SortHeaderTest, AnUnwritableFileLeavesTheOrderInForce) {
  auto h = Header("/proc/qzr-no-such-place/x.INI", "Main");
  EXPECT_TRUE(h->ClickColumn(2));
  EXPECT_FALSE(h->SaveSortOrder());
  EXPECT_EQ(engine_->OrderText(), "+UPPER(FUN:NAME),+FUN:ID");
  EXPECT_EQ(ReadAll().front(), 2);
}

// ---------------------------------------------------------------------------
// On a window.

TEST_F(SortHeaderTest, HeaderClicksOnTheListSortByTheColumnsItShows) {
  ui_.SetFailureHandler([](const std::string& f) { ADD_FAILURE() << f; });
  // The main window's list queue and format, with header texts.
  QUEUE rows(1 + 4 + 4 * 100 + 4, {{"FUN:FULLCODE", TypeCode::BYTE, 0, 1},
                                   {"FUN:FULLCODE_ICON", TypeCode::LONG, 1, 4},
                                   {"FUN:NAME", TypeCode::CSTRING, 5, 100},
                                   {"FUN:DESCRIPTION", TypeCode::CSTRING, 105, 100},
                                   {"FUN:EXAMPLECODE", TypeCode::CSTRING, 205, 100},
                                   {"FUN:FORUMLINK", TypeCode::CSTRING, 305, 100},
                                   {"FUN:ID", TypeCode::LONG, 405, 4}});
  WindowDef def;
  def.name = "P1$WINDOW";
  def.caption = "Sorting";
  def.at = Rect{0, 0, 300, 200};
  ControlDef list;
  list.number = 6;
  list.kind = ControlKind::kList;
  list.name = "?LIST";
  list.at = Rect{4, 4, 290, 150};
  list.format =
      "12L(2)I@p p@396L(2)|M~Title~@s99@1020L(2)|M~Description~@s255@1020L(2)|M~Code~@s255@"
      "1016L(2)|M~Forum Link~@s254@";
  def.controls.push_back(list);
  Window w(def);
  ASSERT_TRUE(w.Open()) << w.OpenError();
  w.From(6, &rows);

  SortHeader h;
  h.Init(&w, 6, &rows, &vm_, file_.KeyIndex("P_ID"), "qzrfunctions.INI", "Main");
  ASSERT_NE(h.REGIONCONTROL, 0);
  std::vector<std::string> fields, texts;
  for (const SortHeaderColumn& c : h.QUEUELISTHEADER) {
    fields.push_back(c.FIELD);
    texts.push_back(c.TEXT);
  }
  EXPECT_EQ(fields, std::vector<std::string>({"FUN:FULLCODE", "FUN:NAME", "FUN:DESCRIPTION",
                                              "FUN:EXAMPLECODE", "FUN:FORUMLINK"}));
  EXPECT_EQ(texts, std::vector<std::string>({"", "Title", "Description", "Code", "Forum Link"}));

  std::vector<std::string> orders;
  ui_.HeaderClick(6, 2);
  ui_.Then([&](HeadlessWindow&) { orders.push_back(engine_->OrderText()); });
  ui_.HeaderClick(6, 2);
  ui_.Then([&](HeadlessWindow&) { orders.push_back(engine_->OrderText()); });
  ui_.HeaderClick(6, 4);  // the code: nothing happens
  ui_.Then([&](HeadlessWindow&) { orders.push_back(engine_->OrderText()); });
  ui_.Close();
  Event e;
  int taken = 0;
  while (w.Accept(&e)) {
    if (h.TakeEvent(e)) {
      ++taken;
      continue;
    }
    w.Default(e);
  }
  EXPECT_EQ(taken, 3);
  EXPECT_EQ(orders, std::vector<std::string>(
                        {"+FUN:NAME,+FUN:ID", "-FUN:NAME,+FUN:ID", "-FUN:NAME,+FUN:ID"}));
  h.Kill();
  EXPECT_NE(IniText().find("SortHeader_6=-FUN:NAME"), std::string::npos);
}

// A procedure with the main window's list, its sort header registered as a
// component.
class SortingProcedure : public WindowManager {
 public:
  SortingProcedure(const WindowDef& def, QUEUE* rows, ViewManager* view, int pk)
      : window_(def), rows_(rows), view_(view), pk_(pk) {}
  Severity Init() override {
    if (Severity s = WindowManager::Init(); s != SeverityNone) return s;
    if (Severity s = Open(&window_); s != SeverityNone) return s;
    window_.From(6, rows_);
    header.NOCASE = 1;
    header.Init(this, 6, rows_, view_, pk_, "qzrfunctions.INI", "Main");
    return SeverityNone;
  }
  SortHeader header;

 private:
  Window window_;
  QUEUE* rows_;
  ViewManager* view_;
  int pk_;
};

TEST_F(SortHeaderTest, AsAComponentItSortsOnClicksAndSavesWhenTheWindowCloses) {
  ui_.SetFailureHandler([](const std::string& f) { ADD_FAILURE() << f; });
  QUEUE rows(1 + 4 + 4 * 100 + 4, {{"FUN:FULLCODE", TypeCode::BYTE, 0, 1},
                                   {"FUN:FULLCODE_ICON", TypeCode::LONG, 1, 4},
                                   {"FUN:NAME", TypeCode::CSTRING, 5, 100},
                                   {"FUN:DESCRIPTION", TypeCode::CSTRING, 105, 100},
                                   {"FUN:EXAMPLECODE", TypeCode::CSTRING, 205, 100},
                                   {"FUN:FORUMLINK", TypeCode::CSTRING, 305, 100},
                                   {"FUN:ID", TypeCode::LONG, 405, 4}});
  WindowDef def;
  def.name = "P1$WINDOW";
  def.caption = "Sorting";
  def.at = Rect{0, 0, 300, 200};
  ControlDef list;
  list.number = 6;
  list.kind = ControlKind::kList;
  list.name = "?LIST";
  list.at = Rect{4, 4, 290, 150};
  list.format = "12L(2)I@p p@396L(2)|M@s99@1020L(2)|M@s255@1020L(2)|M@s255@1016L(2)|M@s254@";
  def.controls.push_back(list);

  std::vector<std::string> orders;
  ui_.HeaderClick(6, 5);
  ui_.Then([&](HeadlessWindow&) { orders.push_back(engine_->OrderText()); });
  ui_.HeaderClick(6, 4);
  ui_.Then([&](HeadlessWindow&) { orders.push_back(engine_->OrderText()); });
  ui_.HeaderClick(6, 5);
  ui_.Then([&](HeadlessWindow&) { orders.push_back(engine_->OrderText()); });
  ui_.Close();
  {
    SortingProcedure proc(def, &rows, &vm_, file_.KeyIndex("P_ID"));
    proc.Run();
  }
  EXPECT_EQ(orders, std::vector<std::string>({"+UPPER(FUN:FORUMLINK),+FUN:ID",
                                              "+UPPER(FUN:FORUMLINK),+FUN:ID",
                                              "-UPPER(FUN:FORUMLINK),+FUN:ID"}));
  EXPECT_NE(IniText().find("SortHeader_6=-FUN:FORUMLINK"), std::string::npos) << IniText();

  // The next run opens in that order.
  vm_.SelectOrderText("");
  ui_.Then([&](HeadlessWindow&) { orders.push_back(engine_->OrderText()); });
  ui_.Close();
  SortingProcedure again(def, &rows, &vm_, file_.KeyIndex("P_ID"));
  again.Run();
  EXPECT_EQ(orders.back(), "-UPPER(FUN:FORUMLINK),+FUN:ID");
}

}  // namespace
}  // namespace qzr
