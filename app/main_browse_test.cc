// Tests of Main, the functions browse, run as the program runs it (module
// start-up, the main procedure, the window through the scripted user) over
// a catalogue made by each test in a temporary working directory: the list
// and the selected entry's panel, the quick find against the filter the
// find command uses, "No Matches", the find toggle, the check boxes, the
// sort header and the window's size remembered between runs, resizing,
// another process adding an entry, the update form's requests, ?CLOSE.

#include "app/main_browse.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/app_globals.h"
#include "app/catalogue.h"
#include "app/func_file.h"
#include "app/func_managers.h"
#include "app/main_test_support.h"
#include "app/main_window_def.h"
#include "app/program.h"
#include "app/quick_find.h"
#include "app/update_functions.h"
#include "ui/event.h"
#include "ui/headless_backend.h"
#include "ui/keycodes.h"
#include "ui/message.h"
#include "ui/window.h"

namespace qzr {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// The update form of these tests: it notes the request and the entry it was
// handed, and, when told to, adds or changes an entry as the real form
// would on Save.
std::vector<int> g_requests;
std::vector<int32_t> g_handed;
std::function<uint8_t(int)> g_form_action;

void FakeForm() {
  g_requests.push_back(PendingRequest);
  g_handed.push_back(ReadFuncEntry(FUNC()).id);
  const int request = PendingRequest;
  PendingRequest = 0;
  LastResponse = g_form_action ? g_form_action(request) : kRequestCancelled;
}

FuncEntry Entry(std::string title, std::string description = "", std::string code = "",
                bool complete = false, std::string link = "", std::string user = "") {
  return {0,        std::move(title), std::move(description), std::move(code),
          complete, std::move(link),  std::move(user)};
}

class MainTest : public MainWindowTest {
 protected:
  void SetUp() override {
    g_requests.clear();
    g_handed.clear();
    g_form_action = nullptr;
    SetUpMain(&FakeForm);
  }

  // Every entry the list holds, paging from the top to the end (the rows'
  // titles, as shown).
  void ReadWholeList(std::vector<std::string>* titles) {
    ui_.Scroll(kMainList, ScrollAction::kTop);
    for (int page = 0; page < 20; ++page) {
      ui_.Then([titles](HeadlessWindow& w) {
        for (const auto& row : w.Rows(kMainList)) {
          if (std::find(titles->begin(), titles->end(), row[1]) == titles->end()) {
            titles->push_back(row[1]);
          }
        }
      });
      ui_.Scroll(kMainList, ScrollAction::kPageDown);
    }
  }
};

TEST_F(MainTest, ListsTheCatalogueAndShowsTheSelectedEntryReadOnly) {
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.caption, "QZR Functions Database");
    EXPECT_THAT(Titles(w), ElementsAre("alpha", "beta", "gamma"));
    EXPECT_EQ(w.Choice(kMainList), 1);
    EXPECT_EQ(w.Text(kMainCode), "int a;");
    EXPECT_EQ(w.Text(kMainUser), "ann");
    EXPECT_EQ(w.Text(kMainDescription), "first");
    EXPECT_EQ(w.Text(kMainForumLink), "http://f/1");
    for (int c : {kMainCode, kMainUser, kMainDescription, kMainForumLink}) {
      EXPECT_TRUE(w.ReadOnly(c) || w.Control(c)->def.kind == ControlKind::kString) << c;
    }
    // The find starts off, its flags on and shown so.
    EXPECT_EQ(w.Text(kMainFindButton), "Find Off");
    EXPECT_TRUE(w.Checked(kMainIgnoreCase));
    EXPECT_TRUE(w.Checked(kMainIncludeMemo));
    EXPECT_EQ(w.Text(kMainIgnoreCase), "Ingore Case");
    // The icon column: icon 1 for a complete example, 2 for the others.
    EXPECT_EQ(w.Control(kMainList)->rows[0][0].icon, 1);
    EXPECT_EQ(w.Control(kMainList)->rows[1][0].icon, 2);
  });
  ui_.SelectRow(kMainList, 2);
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.Text(kMainCode), "int b;");
    EXPECT_EQ(w.Text(kMainUser), "bob");
  });
  // Typing into a read-only control changes nothing.
  ui_.Type(kMainDescription, "changed");
  ui_.Then([](HeadlessWindow&) {
    EXPECT_EQ(Window::Active()->Text(kMainDescription), "second");
    EXPECT_EQ(ReadFuncEntry(FUNC()).description, "second");
  });
  ui_.Click(kMainClose);
  RunMain({Entry("alpha", "first", "int a;", true, "http://f/1", "ann"),
           Entry("beta", "second", "int b;", false, "http://f/2", "bob"),
           Entry("gamma", "third", "int c;")});
  EXPECT_EQ(response_, kRequestCompleted);
  EXPECT_THAT(g_requests, IsEmpty());
}

// The entries of the find tests: texts in each field, in both cases, in
// the code only, numbers, and characters a filter text would treat apart.
std::vector<FuncEntry> FindFixture() {
  std::vector<FuncEntry> e;
  e.push_back(Entry("Parse the XyZ header", "reads", "int x;"));
  e.push_back(Entry("plain", "about xyz things", "y = 1"));
  e.push_back(Entry("other", "nothing", "decode_XYZ(buffer)"));
  e.push_back(Entry("100% sure", "it's quoted \"here\"", "z"));
  e.push_back(Entry("Größe prüfen", "UTF-8 title", "w"));
  e.push_back(Entry("complete one", "", "", true));
  for (int i = 0; i < 18; ++i) {
    e.push_back(Entry("filler " + std::to_string(i), "more text", "code " + std::to_string(i)));
  }
  return e;
}

TEST_F(MainTest, TheQuickFindListsExactlyWhatTheFindCommandsFilterSelects) {
  const std::vector<FuncEntry> fixture = FindFixture();
  struct Case {
    std::string text;
    bool ignore_case;
    bool include_memo;
  };
  const std::vector<Case> cases = {
      {"xyz", true, true},  {"xyz", false, true}, {"XyZ", false, false},     {"xyz", true, false},
      {"100%", true, true}, {"'s", true, true},   {"\"here\"", true, true},  {"prüfen", true, true},
      {"1", true, true},    {"17", true, true},   {"filler 1", true, false}, {"code 1", true, true},
  };
  std::vector<std::vector<std::string>> listed(cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    ui_.Check(kMainIgnoreCase, c.ignore_case);
    ui_.Check(kMainIncludeMemo, c.include_memo);
    ui_.Type(kMainFindEntry, c.text);
    if (i == 0) ui_.Click(kMainFindButton);  // on; it stays on while the text changes
    ReadWholeList(&listed[i]);
  }
  ui_.Click(kMainClose);
  ui_.SetFallbackAnswer(kButtonOk);
  RunMain(fixture);

  // The model: every entry for which the find command's filter holds.
  FileDescriptor record = FuncDeclaration();
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].text);
    const QuickFindSettings s =
        MakeQuickFind(cases[i].text, cases[i].ignore_case, cases[i].include_memo);
    std::vector<std::string> expected;
    int32_t id = 0;
    for (const FuncEntry& e : fixture) {
      FuncEntry numbered = e;
      numbered.id = ++id;
      WriteFuncEntry(&record, numbered, true);
      if (QuickFindPasses(record, s)) expected.push_back(e.title);
    }
    std::vector<std::string> got = listed[i];
    if (expected.empty()) {
      // "No Matches": the find went off and everything was listed.
      EXPECT_EQ(got.size(), fixture.size());
      continue;
    }
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expected);
  }
}

TEST_F(MainTest, FindsTextsAsTheyAreMeant) {
  std::vector<std::string> xyz_any_case, xyz_as_typed, digits;
  ui_.Type(kMainFindEntry, "xyz");
  ui_.Click(kMainFindButton);
  ui_.Then([&](HeadlessWindow& w) {
    EXPECT_EQ(w.Text(kMainFindButton), "Find On");
    EXPECT_EQ(w.Text(kMainFindEntry), "XYZ");  // upper-cased, ignoring case
    xyz_any_case = Titles(w);
  });
  ui_.Check(kMainIgnoreCase, false);
  ui_.Type(kMainFindEntry, "XyZ");
  ui_.Then([&](HeadlessWindow& w) { xyz_as_typed = Titles(w); });
  ui_.Check(kMainIgnoreCase, true);
  ui_.Type(kMainFindEntry, "24");  // the last entry's number, as shown
  ui_.Then([&](HeadlessWindow& w) { digits = Titles(w); });
  ui_.Click(kMainClose);
  RunMain(FindFixture());
  EXPECT_THAT(xyz_any_case, ElementsAre("Parse the XyZ header", "plain", "other"));
  EXPECT_THAT(xyz_as_typed, ElementsAre("Parse the XyZ header"));
  EXPECT_THAT(digits, ElementsAre("filler 17"));
}

TEST_F(MainTest, AFindOutsideTheCodeShowsTheCodeOfWhatItFinds) {
  // Given a find that does not include the code (the rows' code is read
  // only for rows that pass), each row found still shows its code.
  ui_.Check(kMainIncludeMemo, false);
  ui_.Type(kMainFindEntry, "beta");
  ui_.Click(kMainFindButton);
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_THAT(Titles(w), ElementsAre("beta"));
    EXPECT_EQ(w.Text(kMainCode), "int b;");
  });
  // The code is searched again once the find includes it.
  ui_.Check(kMainIncludeMemo, true);
  ui_.Type(kMainFindEntry, "int c");
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_THAT(Titles(w), ElementsAre("gamma"));
    EXPECT_EQ(w.Text(kMainCode), "int c;");
  });
  ui_.Click(kMainClose);
  RunMain({Entry("alpha", "first", "int a;"), Entry("beta", "second", "int b;"),
           Entry("gamma", "third", "int c;")});
}

TEST_F(MainTest, FindOnWithAnEmptyEntryOnlyMovesTheFocus) {
  ui_.Click(kMainFindButton);
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.Text(kMainFindButton), "Find On");
    EXPECT_EQ(w.focus, kMainFindEntry);
    EXPECT_EQ(Titles(w).size(), 3u);
  });
  ui_.Click(kMainFindButton);
  ui_.Then([](HeadlessWindow& w) { EXPECT_EQ(w.Text(kMainFindButton), "Find Off"); });
  ui_.Click(kMainClose);
  RunMain({Entry("a"), Entry("b"), Entry("c")});
}

TEST_F(MainTest, NoMatchesIsReportedAndTheFindGoesOff) {
  ui_.Type(kMainFindEntry, "nowhere");
  ui_.Click(kMainFindButton);
  ui_.AnswerMessage(kButtonOk);
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.Text(kMainFindButton), "Find Off");
    EXPECT_EQ(w.Text(kMainFindEntry), "");
    EXPECT_THAT(Titles(w), ElementsAre("a", "b"));
  });
  ui_.Click(kMainClose);
  RunMain({Entry("a"), Entry("b")});
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].request.caption, "No Matches");
  EXPECT_EQ(ui_.Messages()[0].request.text,
            "There are no records matching the selection critieria you have entered.");
  EXPECT_EQ(ui_.Messages()[0].request.buttons, kButtonOk);
}

TEST_F(MainTest, TheFindEntryTakesTwentyCharactersAndTheFindWholeOnesOfThem) {
  std::vector<std::string> found;
  std::string kept_ascii, kept_utf8;
  // 21 characters: the 21st is refused where it is typed (a beep).
  ui_.Type(kMainFindEntry, std::string(21, 'a'));
  ui_.Then([&](HeadlessWindow& w) { kept_ascii = w.Text(kMainFindEntry); });
  // 20 characters in 21 bytes: the entry keeps the whole characters that fit
  // its 20 bytes (another beep), and the find looks for them.
  ui_.Type(kMainFindEntry, std::string(19, 'a') + "é");
  ui_.Then([&](HeadlessWindow& w) { kept_utf8 = w.Text(kMainFindEntry); });
  ui_.Click(kMainFindButton);
  ui_.Then([&](HeadlessWindow& w) {
    EXPECT_EQ(w.Text(kMainFindButton), "Find On");
    found = Titles(w);
  });
  ui_.Click(kMainClose);
  RunMain({Entry(std::string(19, 'a') + "z"), Entry("b")});
  EXPECT_EQ(kept_ascii, std::string(20, 'a'));
  EXPECT_EQ(kept_utf8, std::string(19, 'a'));
  EXPECT_THAT(ui_.Beeps(), ElementsAre(kBeepStandard, kBeepStandard));
  EXPECT_THAT(found, ElementsAre(std::string(19, 'a') + "z"));
}

TEST_F(MainTest, ButtonsKeysAndPopupRunTheUpdateFormOnTheSelectedEntry) {
  g_form_action = [](int request) -> uint8_t {
    if (request == kInsertRecord) {
      WriteFuncEntry(&FUNC(), Entry("added"), false);
      return FuncAccess->Insert() == SeverityNone ? kRequestCompleted : kRequestCancelled;
    }
    return kRequestCancelled;
  };
  ui_.SelectRow(kMainList, 2);
  ui_.Click(kMainChange);
  ui_.Key(kKeyDelete, kMainFindEntry);  // the entry's own key: no form
  ui_.Key(kKeyDelete, kMainList);
  ui_.DoubleClick(kMainList, 1);
  ui_.RightClick(kMainList, 2);
  ui_.AnswerPopup("Insert");
  ui_.Then([](HeadlessWindow& w) {
    // The entry added, shown and selected (in the file's order, the last).
    EXPECT_NE(w.Row(kMainList, w.Choice(kMainList)).find("added"), std::string::npos);
    EXPECT_EQ(ReadFuncEntry(FUNC()).title, "added");
  });
  ui_.Click(kMainClose);
  RunMain({Entry("a"), Entry("b"), Entry("c")});
  EXPECT_THAT(g_requests, ElementsAre(kChangeRecord, kDeleteRecord, kChangeRecord, kInsertRecord));
  EXPECT_THAT(g_handed, ElementsAre(2, 2, 1, g_handed[3]));
}

TEST_F(MainTest, TheUpdateFormAddsAndChangesEntriesAndTheListShowsThem) {
  SetMainUpdateProcedure(nullptr);  // the program's own form
  ui_.Click(kMainInsert);
  ui_.ExpectWindow("Record Will Be Added");
  ui_.Type(kUfName, "delta");
  ui_.Click(kUfOk);
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.caption, "QZR Functions Database");
    EXPECT_EQ(w.Row(kMainList, w.Choice(kMainList)).find("delta") != std::string::npos, true);
  });
  ui_.SelectRow(kMainList, 1);
  ui_.Key(kKeyCtrlEnter, kMainList);
  ui_.ExpectWindow("Record Will Be Changed");
  ui_.Type(kUfName, "alpha 2");
  ui_.Click(kUfOk);
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_EQ(w.Choice(kMainList), 1);
    EXPECT_THAT(Titles(w), ElementsAre("alpha 2", "beta", "delta"));
  });
  ui_.Click(kMainClose);
  RunMain({Entry("alpha"), Entry("beta")});
  EXPECT_EQ(response_, kRequestCompleted);
}

TEST_F(MainTest, DamagedSettingsAreLeftAsideAndAnUnwritableFileLosesOnlyThem) {
  // Garbage where the sort order, the window's place and the column widths
  // are kept: the window opens as its resource has it.
  {
    std::ofstream ini(dir_ + "/qzrfunctions.INI");
    ini << "[Main]\nSortHeader_6=+NOSUCH:FIELD,,,-\x01\x02" << std::string(20000, 'x')
        << "\nWindow=1,2,three,4\nColumnWidths=5,-6,7\n";
  }
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_THAT(Titles(w), ElementsAre("b", "a"));  // the file's own order
    EXPECT_EQ(w.Position(0).width, MainWindowDef().at.width);
    EXPECT_TRUE(w.Control(kMainList)->column_widths.empty());
  });
  ui_.Click(kMainClose);
  RunMain({Entry("b"), Entry("a")});
  EXPECT_THAT(ui_.Messages(), IsEmpty());

  // A settings folder that cannot be made: the window works and closes as
  // ever; only the settings are not kept.
  setenv("QZR_CONFIG_DIR", "/dev/null/settings", 1);
  ui_.HeaderClick(kMainList, 2);
  ui_.Resize(600, 500);
  ui_.Then([](HeadlessWindow& w) { EXPECT_THAT(Titles(w), ElementsAre("a", "b")); });
  ui_.Click(kMainClose);
  RunMain();
  EXPECT_EQ(response_, kRequestCompleted);
  EXPECT_THAT(ui_.Messages(), IsEmpty());
}

TEST_F(MainTest, ChangeAndDeleteAreOffOnAnEmptyCatalogue) {
  ui_.Then([](HeadlessWindow& w) {
    EXPECT_TRUE(w.Rows(kMainList).empty());
    EXPECT_TRUE(w.Enabled(kMainInsert));
    EXPECT_FALSE(w.Enabled(kMainChange));
    EXPECT_FALSE(w.Enabled(kMainDelete));
  });
  ui_.Key(kKeyDelete, kMainList);
  ui_.Click(kMainClose);
  RunMain();
  EXPECT_THAT(g_requests, IsEmpty());
  // The first run made the file.
  EXPECT_TRUE(std::filesystem::exists("FUNC.PLX"));
}

TEST_F(MainTest, AnEntryAnotherProcessAddsIsListedWhenTheWindowRegainsTheFocus) {
  ui_.Then([](HeadlessWindow&) {
    const pid_t pid = fork();
    if (pid == 0) {
      const int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, 1);
      execl(QZR_FUNCTIONS_EXE, QZR_FUNCTIONS_EXE, "add", "--title", "from elsewhere",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    Window::Active()->Post(EVENT::GainFocus);
  });
  ui_.Then([](HeadlessWindow& w) { EXPECT_THAT(Titles(w), ElementsAre("a", "from elsewhere")); });
  ui_.Click(kMainClose);
  RunMain({Entry("a")});
}

TEST_F(MainTest, TheSortOrderAndTheWindowSizeAreRememberedBetweenRuns) {
  Rect grown;
  size_t rows_before = 0, rows_after = 0;
  ui_.HeaderClick(kMainList, 2);  // Title, ascending
  ui_.HeaderClick(kMainList, 2);  // descending
  ui_.HeaderClick(kMainList, 4);  // Code: a memo, nothing happens
  ui_.Then([&](HeadlessWindow& w) {
    // The selected entry stays selected, now at the end of the order.
    const auto titles = Titles(w);
    ASSERT_GE(titles.size(), 3u);
    EXPECT_THAT(std::vector<std::string>(titles.end() - 3, titles.end()),
                ElementsAre("c", "B", "a"));
    EXPECT_EQ(w.Row(kMainList, w.Choice(kMainList)).find("a"), 0u);
    rows_before = w.Rows(kMainList).size();
  });
  ui_.ResizeColumn(kMainList, 2, 250);
  ui_.Resize(600, 500);
  ui_.Then([&](HeadlessWindow& w) {
    grown = w.Position(kMainList);
    EXPECT_GT(grown.height, MainWindowDef().controls[kMainList - 1].at.height);
    EXPECT_GT(w.Position(kMainCode).height, MainWindowDef().controls[kMainCode - 1].at.height);
    rows_after = w.Rows(kMainList).size();
  });
  ui_.Click(kMainClose);
  std::vector<FuncEntry> many = {Entry("a"), Entry("B"), Entry("c")};
  for (int i = 0; i < 30; ++i) many.push_back(Entry("z" + std::to_string(100 + i)));
  RunMain(many);
  EXPECT_GT(rows_after, rows_before);

  ui_.Then([&](HeadlessWindow& w) {
    EXPECT_EQ(w.Position(0).width, 600);
    EXPECT_EQ(w.Position(0).height, 500);
    EXPECT_EQ(w.Position(kMainList), grown);
    const auto titles = Titles(w);
    ASSERT_FALSE(titles.empty());
    EXPECT_EQ(titles.front(), "z129");  // still descending by title
    EXPECT_THAT(w.Control(kMainList)->column_widths, ElementsAre(12, 250, 1020, 1020, 1016));
  });
  ui_.Click(kMainClose);
  RunMain();
}

}  // namespace
}  // namespace qzr
