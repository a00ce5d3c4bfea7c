#include "ui/window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "runtime/values/queue.h"
#include "runtime/values/ufo.h"
#include "ui/headless_backend.h"
#include "ui/keycodes.h"
#include "ui/message.h"

namespace qzr {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Controls of the test form.
enum : int {
  kName = 1,    // entry @s10
  kCount = 2,   // entry @n3
  kFull = 3,    // check
  kOk = 4,      // default button
  kCancel = 5,  // button
  kList = 6,    // immediate list
  kHeader = 7,  // header region of the list
  kNote = 8,    // multi-line text, no picture
};

WindowDef FormDef() {
  WindowDef d;
  d.resource = "test$form";
  d.name = "TESTFORM";
  d.caption = "Test Form";
  d.at = {0, 0, 200, 160};
  d.controls = {
      {.kind = ControlKind::kEntry, .name = "?NAME", .picture = "@s10", .at = {4, 4, 80, 10}},
      {.kind = ControlKind::kEntry, .name = "?COUNT", .picture = "@n3", .at = {4, 16, 30, 10}},
      {.kind = ControlKind::kCheck, .name = "?FULL", .text = "Full", .at = {4, 28, 60, 10}},
      {.kind = ControlKind::kButton,
       .name = "?OK",
       .text = "&OK",
       .at = {100, 4, 40, 14},
       .flags = kControlDefault},
      {.kind = ControlKind::kButton, .name = "?CANCEL", .text = "&Cancel", .at = {100, 20, 40, 14}},
      {.kind = ControlKind::kList,
       .name = "?LIST",
       .format = "40L(2)|M~Name~@s10@20R(1)~N~@n3@",
       .at = {4, 40, 190, 60},
       .flags = kControlImmediate},
      {.kind = ControlKind::kRegion,
       .name = "?HEADER",
       .at = {4, 40, 190, 10},
       .parent = kList,
       .flags = kControlHeaderRegion},
      {.kind = ControlKind::kText, .name = "?NOTE", .at = {4, 104, 190, 50}},
  };
  return d;
}

WindowDef SmallDef(std::string name, std::string caption) {
  WindowDef d;
  d.name = std::move(name);
  d.caption = std::move(caption);
  d.at = {0, 0, 100, 50};
  d.controls = {
      {.kind = ControlKind::kButton, .name = "?OK", .text = "OK"},
      {.kind = ControlKind::kButton, .name = "?OTHER", .text = "Other"},
  };
  return d;
}

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() {
    ui_.SetFailureHandler([this](const std::string& f) { failures_.push_back(f); });
  }
  ~WindowTest() override {
    if (!expect_failures_) {
      EXPECT_THAT(failures_, IsEmpty());
    }
  }

  // Runs `w`'s loop: `handle` returns true when it dealt with the event (no
  // default processing). Returns the events delivered.
  std::vector<Event> Run(Window& w, const std::function<bool(const Event&)>& handle = {}) {
    std::vector<Event> seen;
    Event e;
    while (w.Accept(&e)) {
      EXPECT_EQ(CurrentEvent(), e.code);
      EXPECT_EQ(CurrentControl(), e.control);
      seen.push_back(e);
      if (!(handle && handle(e))) w.Default(e);
    }
    return seen;
  }

  static std::vector<int32_t> Codes(const std::vector<Event>& events) {
    std::vector<int32_t> codes;
    for (const Event& e : events) codes.push_back(e.code);
    return codes;
  }

  HeadlessBackend ui_;
  ScopedBackend scope_{&ui_};
  std::vector<std::string> failures_;
  bool expect_failures_ = false;
};

TEST_F(WindowTest, CurrentEventIsZeroOutsideAnyLoop) {
  EXPECT_EQ(CurrentEvent(), 0);
  const WindowDef def = SmallDef("W", "W");
  Window w(def);
  ASSERT_TRUE(w.Open()) << w.OpenError();
  EXPECT_EQ(CurrentEvent(), 0);  // open, but no event taken yet
  ui_.Click(1);
  const auto events = Run(w, [&](const Event& e) {
    if (e.code == EVENT::Accepted) w.Post(EVENT::CloseWindow);
    return false;
  });
  EXPECT_THAT(Codes(events),
              ElementsAre(EVENT::OpenWindow, EVENT::Sized, EVENT::Accepted, EVENT::CloseWindow));
  EXPECT_FALSE(w.IsOpen());
  EXPECT_EQ(CurrentEvent(), 0);
  EXPECT_EQ(CurrentControl(), 0);
}

TEST_F(WindowTest, PostOneOnTheOwnThreadArrivesAsMessageA001) {
  const WindowDef def = SmallDef("W", "W");
  Window w(def);
  ASSERT_TRUE(w.Open());
  int32_t seen_inside = -1;
  const auto events = Run(w, [&](const Event& e) {
    if (e.code == EVENT::OpenWindow) {
      EXPECT_EQ(Post(1), 1);
    }
    if (e.code == EVENT::Accepted) {
      seen_inside = CurrentEvent();
      EXPECT_EQ(e.message(), 0xA001);
      EXPECT_EQ(e.control, 0);
      Post(EVENT::CloseWindow, 0, ThreadNumber());  // by number: the same thread
    }
    return false;
  });
  EXPECT_EQ(seen_inside, 1);
  EXPECT_THAT(Codes(events),
              ElementsAre(EVENT::OpenWindow, EVENT::Sized, EVENT::Accepted, EVENT::CloseWindow));
  EXPECT_THAT(ui_.Transcript(), testing::Contains(HasSubstr("EVENT:Accepted 0xA001")));
}

TEST_F(WindowTest, PostToAThreadWithoutAWindowDoesNothing) {
  // No window anywhere on this thread, nor a thread with that number.
  for (int32_t thread : {0, -1, kMaxWindowThreads + 1, kMaxWindowThreads, 0x7FFFFFFF}) {
    EXPECT_EQ(Post(EVENT::Accepted, 0, thread), EVENT::Accepted) << thread;
  }
  // Another thread that exists but has no window.
  int32_t other = 0;
  std::thread([&] { other = ThreadNumber(); }).join();
  EXPECT_EQ(Post(EVENT::Accepted, 0, other), EVENT::Accepted);
  EXPECT_FALSE(Notify(1, other, 2));

  const WindowDef def = SmallDef("W", "W");
  Window w(def);
  ASSERT_TRUE(w.Open());
  EXPECT_EQ(w.Pending(), 2);  // OpenWindow and Sized only
  w.Close();
}

TEST_F(WindowTest, PostRefusesCodesThatWouldReachTheWindowSystemsOwnMessages) {
  const WindowDef def = SmallDef("W", "W");
  Window w(def);
  ASSERT_TRUE(w.Open());
  const int before = w.Pending();
  struct Case {
    int32_t code;
    bool posted;
  };
  const Case kCases[] = {{-1, false},     {INT32_MIN, false}, {0x1000, false}, {0x1001, false},
                         {0x7FFF, false}, {0, true},          {0x3FF, true},   {0xFFF, true}};
  int expected = before;
  for (const Case& c : kCases) {
    EXPECT_EQ(Post(c.code), c.code);
    EXPECT_EQ(w.Post(c.code), c.posted) << c.code;
    expected += c.posted ? 2 : 0;
    EXPECT_EQ(w.Pending(), expected) << c.code;
  }
  w.Close();
}

TEST_F(WindowTest, NestedWindowTakesTheInputAndTheOuterGetsItsEventsAfterwardsInOrder) {
  const WindowDef outer_def = SmallDef("OUTER", "Outer");
  const WindowDef inner_def = SmallDef("INNER", "Inner");
  Window outer(outer_def);
  ASSERT_TRUE(outer.Open());
  std::vector<Event> inner_events;
  std::vector<Event> outer_after;
  bool inner_done = false;

  ui_.Click(1);  // outer: opens the inner window
  ui_.ExpectWindow("Inner");
  ui_.Click(2);  // inner: its "Other" button
  ui_.Click(1);  // inner: OK closes it
  ui_.Click(2);  // outer again
  const auto outer_events = Run(outer, [&](const Event& e) {
    if (inner_done) outer_after.push_back(e);
    if (e.code == EVENT::Accepted && e.control == 1 && !inner_done) {
      Window inner(inner_def);
      EXPECT_TRUE(inner.Open());
      // Posted to the outer window while the inner one runs: they wait.
      EXPECT_TRUE(outer.Post(0x3FF, 0, 1));
      EXPECT_TRUE(outer.Post(0x3FF, 0, 2));
      // Input meant for the outer window is dropped while it is not on top.
      InputSink::Clicked(outer.Id(), 2);
      inner_events = Run(inner, [&](const Event& ie) {
        if (ie.code == EVENT::Accepted && ie.control == 1) inner.Post(EVENT::CloseWindow);
        if (ie.code == EVENT::Accepted && ie.control == 2) {
          // Posting on this thread now reaches the inner (top) window.
          Post(0x3FE);
        }
        return false;
      });
      inner_done = true;
      // The outer handler resumes with its own event current.
      EXPECT_EQ(CurrentEvent(), EVENT::Accepted);
      EXPECT_EQ(CurrentControl(), 1);
    }
    if (e.code == EVENT::Accepted && e.control == 2) outer.Post(EVENT::CloseWindow);
    return false;
  });
  EXPECT_THAT(Codes(inner_events), ElementsAre(EVENT::OpenWindow, EVENT::Sized, EVENT::Accepted,
                                               0x3FE, EVENT::Accepted, EVENT::CloseWindow));
  ASSERT_GE(outer_after.size(), 5u);
  EXPECT_EQ(outer_after[0].code, EVENT::LoseFocus);
  EXPECT_EQ(outer_after[1].code, 0x3FF);
  EXPECT_EQ(outer_after[1].param, 1);
  EXPECT_EQ(outer_after[2].code, 0x3FF);
  EXPECT_EQ(outer_after[2].param, 2);
  EXPECT_EQ(outer_after[3].code, EVENT::GainFocus);
  EXPECT_EQ(outer_after[4].code, EVENT::Accepted);  // the script's last click
  EXPECT_EQ(outer_after[4].control, 2);
  EXPECT_EQ(outer_events.back().code, EVENT::CloseWindow);
  EXPECT_EQ(ui_.PendingSteps(), 0u);
}

TEST_F(WindowTest, BadDefinitionsMakeOpenFailNamingTheWindowAndTheControl) {
  struct Case {
    const char* what;
    std::function<void(WindowDef*)> spoil;
    const char* error;
  };
  const Case kCases[] = {
      {"bad list format", [](WindowDef* d) { d->controls[kList - 1].format = "40X@s10@"; },
       "Window \"TESTFORM\", control 6 (?LIST): bad list format: offset 2: expected an "
       "alignment (L, R, C or D) after the width"},
      {"duplicated name", [](WindowDef* d) { d->controls[kCancel - 1].name = "?ok"; },
       "Window \"TESTFORM\", control 5 (?ok): the name is already used by control 4"},
      {"duplicated number", [](WindowDef* d) { d->controls[kNote - 1].number = 2; },
       "Window \"TESTFORM\", control 2 (?NOTE): the number is used twice"},
      {"bad picture", [](WindowDef* d) { d->controls[kCount - 1].picture = "@x3"; },
       "Window \"TESTFORM\", control 2 (?COUNT): bad picture \"@x3\""},
      {"missing parent", [](WindowDef* d) { d->controls[kHeader - 1].parent = 42; },
       "Window \"TESTFORM\", control 7 (?HEADER): its parent 42 does not exist"},
  };
  for (const Case& c : kCases) {
    WindowDef def = FormDef();
    c.spoil(&def);
    Window w(def);
    EXPECT_FALSE(w.Open()) << c.what;
    EXPECT_EQ(w.OpenError(), c.error) << c.what;
    EXPECT_FALSE(w.IsOpen());
  }
  EXPECT_EQ(ui_.Top(), nullptr);
}

TEST_F(WindowTest, OpenFailsWithoutAWindowSystem) {
  ScopedBackend terminal(nullptr);
  const WindowDef def = SmallDef("W", "W");
  Window w(def);
  EXPECT_FALSE(w.Open());
  EXPECT_THAT(w.OpenError(), HasSubstr("no window system"));
}

TEST_F(WindowTest, UnknownControlNumbersAreIgnored) {
  const WindowDef def = FormDef();
  Window w(def);
  ASSERT_TRUE(w.Open());
  int32_t value = 3;
  UfoLong v(&value);
  w.Use(99, v);
  w.SetText(99, "x");
  w.SetHidden(99, true);
  w.SetChoice(99, 2);
  w.Display(99);
  w.Select(99);
  EXPECT_EQ(w.Text(99), "");
  EXPECT_FALSE(w.Hidden(99));
  EXPECT_EQ(w.Choice(99), 0);
  EXPECT_EQ(w.Position(99), Rect());
  EXPECT_EQ(w.Focus(), kName);
  EXPECT_EQ(w.FindControl("?NOPE"), 0);
  EXPECT_EQ(w.FindControl("?list"), kList);
  // The user's clicks on controls that do not exist raise nothing.
  ui_.Click(99);
  ui_.Type(99, "x");
  ui_.Click(kOk);
  const auto events = Run(w, [&](const Event& e) {
    if (e.code == EVENT::Accepted) w.Post(EVENT::CloseWindow);
    return false;
  });
  EXPECT_THAT(Codes(events),
              ElementsAre(EVENT::OpenWindow, EVENT::Sized, EVENT::Accepted, EVENT::CloseWindow));
  EXPECT_EQ(events[2].control, kOk);
}

TEST_F(WindowTest, TextThatFailsItsPictureIsRejectedAndLeavesTheVariableUnchanged) {
  const WindowDef def = FormDef();
  Window w(def);
  ASSERT_TRUE(w.Open());
  int32_t count = 5;
  w.Use(kCount, UfoLong(&count));
  w.Display();
  EXPECT_EQ(w.Text(kCount), "5");

  ui_.Type(kCount, "abc");
  ui_.Then([](HeadlessWindow& hw) { EXPECT_EQ(hw.Text(kCount), "abc"); });
  ui_.Type(kCount, "1234");  // too wide for @n3
  ui_.Type(kCount, " 42");
  ui_.Close();
  std::vector<int32_t> values;
  const auto events = Run(w, [&](const Event& e) {
    if (e.control == kCount) values.push_back(count);
    return false;
  });
  EXPECT_THAT(Codes(events), ElementsAre(EVENT::OpenWindow, EVENT::Sized, EVENT::Rejected,
                                         EVENT::Rejected, EVENT::Accepted, EVENT::CloseWindow));
  EXPECT_THAT(values, ElementsAre(5, 5, 42));
  // The rejected control got the focus back by default.
  EXPECT_EQ(events[2].control, kCount);
}

TEST_F(WindowTest, DisplayAndUpdateRoundTripUtf8) {
  const WindowDef def = FormDef();
  Window w(def);
  ASSERT_TRUE(w.Open());
  char name[20];
  std::memset(name, ' ', sizeof name);
  const char kGreeting[] = "Grüße 東京";  // 8 characters, 14 bytes
  std::memcpy(name, kGreeting, std::strlen(kGreeting));
  char note[200] = {};
  std::strcpy(note, "naïve café\nline two");
  w.Use(kName, UfoString(name, sizeof name));
  w.Use(kNote, UfoCString(note, sizeof note));
  w.Display();
  EXPECT_EQ(w.Text(kName), "Grüße 東京");
  EXPECT_EQ(w.Text(kNote), "naïve café\nline two");
  EXPECT_EQ(ui_.Top()->Text(kName), "Grüße 東京");

  // A display that changes nothing leaves typing alone.
  InputSink::TextChanged(w.Id(), kName, "Ça va – ok");
  w.Display();
  EXPECT_EQ(w.Text(kName), "Ça va – ok");
  EXPECT_TRUE(w.Update());
  EXPECT_EQ(std::string(name, sizeof name), "Ça va – ok       ");  // 10 characters, 13 bytes
  w.Display();
  EXPECT_EQ(ui_.Top()->Text(kName), "Ça va – ok");

  // Eleven characters do not fit @s10: the variable keeps its value.
  InputSink::TextChanged(w.Id(), kName, "Ça va – ok!");
  EXPECT_FALSE(w.Update(kName));
  EXPECT_EQ(std::string(name, sizeof name), "Ça va – ok       ");
  w.Close();
}

TEST_F(WindowTest, TypingStopsAtTheCapacityOnACharacterBoundaryWithABeep) {
  const WindowDef def = FormDef();
  Window w(def);
  ASSERT_TRUE(w.Open());
  // Unbound, the entry takes its picture's count; bound, its variable's.
  EXPECT_EQ(w.TextCapacity(kName), 10u);
  EXPECT_EQ(w.TextCapacity(kNote), 0u);
  EXPECT_EQ(w.TextCapacity(kCount), 0u);
  char name[6];
  std::memset(name, ' ', sizeof name);
  char note[8] = {};
  w.Use(kName, UfoString(name, sizeof name));
  w.Use(kNote, UfoCString(note, sizeof note));
  EXPECT_EQ(w.TextCapacity(kName), 6u);
  EXPECT_EQ(w.TextCapacity(kNote), 7u);

  struct Step {
    int control;
    std::string text;
    bool append;
    std::string kept;
    bool beeps;
  };
  const Step steps[] = {
      {kName, "abcdef", false, "abcdef", false},              // exactly full
      {kName, "abcdefgh", false, "abcdef", true},             // two bytes refused
      {kName, "abcd\xC3\xA9", false, "abcd\xC3\xA9", false},  // "é" ends it exactly
      {kName, "abcde\xC3\xA9", false, "abcde", true},         // "é" would cross the end
      {kName, "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD", false, "\xE6\x9D\xB1\xE4\xBA\xAC", true},
      {kNote, "line\n", false, "line\n", false},
      {kNote, "abc", true, "line\nab", true},       // pasted at the end: two bytes left
      {kNote, "\xC3\xA9", true, "line\nab", true},  // nothing fits: all refused
  };
  for (const Step& s : steps) {
    if (s.append) {
      ui_.Append(s.control, s.text);
    } else {
      ui_.Type(s.control, s.text);
    }
    ui_.Then([&, s](HeadlessWindow& hw) { EXPECT_EQ(hw.Text(s.control), s.kept) << s.text; });
  }
  ui_.Close();
  Run(w);
  int beeps = 0;
  for (const Step& s : steps) beeps += s.beeps ? 1 : 0;
  EXPECT_EQ(ui_.Beeps(), std::vector<int>(beeps, kBeepStandard));
  EXPECT_EQ(std::string(name, sizeof name), "\xE6\x9D\xB1\xE4\xBA\xAC");
  EXPECT_STREQ(note, "line\nab");

  // Text the program shows is never cut, whatever the capacity.
  ASSERT_TRUE(w.Open());
  w.SetTextCapacity(kNote, 2);
  EXPECT_EQ(w.TextCapacity(kNote), 2u);
  EXPECT_EQ(ui_.Top()->Control(kNote)->text_capacity, 2u);
  w.SetText(kNote, "longer than two");
  EXPECT_EQ(ui_.Top()->Text(kNote), "longer than two");
  w.Close();
}

TEST_F(WindowTest, MovesReachTheToolkitAsOneBatchAndNoChangeAsNone) {
  const WindowDef def = FormDef();
  Window w(def);
  ASSERT_TRUE(w.Open());
  const HeadlessWindow* hw = ui_.Top();
  ASSERT_NE(hw, nullptr);
  w.MoveControls({{kName, {4, 4, 120, 10}}, {kNote, {4, 104, 190, 40}}, {kOk, def.controls[3].at}});
  EXPECT_EQ(hw->move_batches, 1);
  EXPECT_EQ(hw->Position(kName), (Rect{4, 4, 120, 10}));
  EXPECT_EQ(hw->Position(kNote), (Rect{4, 104, 190, 40}));
  w.MoveControls({{kName, {4, 4, 120, 10}}, {kOk, def.controls[3].at}});  // all in place
  w.MoveControls({});
  EXPECT_EQ(hw->move_batches, 1);
  w.Close();
}

TEST_F(WindowTest, AScriptThatRunsOutFailsWithTheWindowsCaption) {
  expect_failures_ = true;
  const WindowDef def = SmallDef("W", "Waiting Window");
  Window w(def);
  ASSERT_TRUE(w.Open());
  const auto events = Run(w);
  EXPECT_THAT(Codes(events), ElementsAre(EVENT::OpenWindow, EVENT::Sized));
  EXPECT_FALSE(w.IsOpen());
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_EQ(failures_[0], "the script ran out while window \"Waiting Window\" waits for input");
  EXPECT_EQ(ui_.Failures(), failures_);
}

TEST_F(WindowTest, TheEventBudgetStopsHandlersThatKeepPostingThemselves) {
  expect_failures_ = true;
  ui_.SetEventBudget(50);
  const WindowDef outer_def = SmallDef("OUTER", "Outer");
  const WindowDef inner_def = SmallDef("INNER", "Spinning");
  Window outer(outer_def);
  ASSERT_TRUE(outer.Open());
  int spins = 0;
  Run(outer, [&](const Event& e) {
    if (e.code != EVENT::OpenWindow) return false;
    Window inner(inner_def);
    EXPECT_TRUE(inner.Open());
    Run(inner, [&](const Event& ie) {
      ++spins;
      Post(0x3FF);
      return false;
    });
    return false;
  });
  EXPECT_FALSE(outer.IsOpen());  // the thread's loops all ended
  EXPECT_EQ(spins, 49);          // Sized of the outer took the first
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_THAT(failures_[0], HasSubstr("event budget of 50 events"));
  EXPECT_THAT(failures_[0], HasSubstr("\"Spinning\""));
  // A new window on the thread starts afresh.
  Window again(outer_def);
  ASSERT_TRUE(again.Open());
  again.Close();
}

TEST_F(WindowTest, TheAcceptAllPassValidatesEveryInputControlThenCompletes) {
  const WindowDef def = FormDef();
  Window w(def);
  ASSERT_TRUE(w.Open());
  char name[10];
  int32_t count = 0;
  uint8_t full = 0;
  char note[40] = {};
  w.Use(kName, UfoString(name, sizeof name));
  w.Use(kCount, UfoLong(&count));
  w.Use(kFull, UfoByte(&full));
  w.Use(kNote, UfoCString(note, sizeof note));
  std::memset(name, ' ', sizeof name);
  w.Display();

  // Typed but not accepted: the pass takes the text.
  ui_.Type(kName, "Widget", false);
  ui_.Check(kFull, true);
  ui_.Type(kCount, "7", false);
  ui_.Click(kOk);
  std::vector<Event> pass;
  bool in_pass = false;
  const auto events = Run(w, [&](const Event& e) {
    if (in_pass) pass.push_back(e);
    if (e.code == EVENT::Accepted && e.control == kOk) {
      w.SelectAll();
      w.Post(0x3FF);  // queued behind the pass
      in_pass = true;
      EXPECT_TRUE(w.InAcceptAll());
    }
    if (e.code == EVENT::Completed) {
      EXPECT_FALSE(w.InAcceptAll());
      w.Post(EVENT::CloseWindow);
    }
    return false;
  });
  ASSERT_EQ(pass.size(), 7u);
  EXPECT_EQ(pass[0].control, kName);
  EXPECT_EQ(pass[1].control, kCount);
  EXPECT_EQ(pass[2].control, kFull);
  EXPECT_EQ(pass[3].control, kNote);
  EXPECT_EQ(pass[4].code, EVENT::Completed);
  EXPECT_EQ(pass[5].code, 0x3FF);
  EXPECT_EQ(pass[6].code, EVENT::CloseWindow);
  EXPECT_EQ(std::string(name, sizeof name), "Widget    ");
  EXPECT_EQ(count, 7);
  EXPECT_EQ(full, 1);
}

TEST_F(WindowTest, TheAcceptAllPassStopsAtTheFirstRejectedControl) {
  const WindowDef def = FormDef();
  Window w(def);
  ASSERT_TRUE(w.Open());
  int32_t count = 0;
  w.Use(kCount, UfoLong(&count));
  w.SetHidden(kNote, true);  // hidden controls are not validated
  ui_.Type(kCount, "x", false);
  ui_.Click(kOk);
  ui_.Click(kCancel);
  std::vector<int32_t> codes;
  Run(w, [&](const Event& e) {
    codes.push_back(e.code);
    if (e.code == EVENT::Accepted && e.control == kOk) w.SelectAll();
    if (e.code == EVENT::Accepted && e.control == kCancel) w.Post(EVENT::CloseWindow);
    return false;
  });
  EXPECT_THAT(codes, ElementsAre(EVENT::OpenWindow, EVENT::Sized, EVENT::Accepted, EVENT::Accepted,
                                 EVENT::Rejected, EVENT::Accepted, EVENT::CloseWindow));
  EXPECT_EQ(count, 0);
}

TEST_F(WindowTest, SizedComesOnceAfterOpeningThenOncePerDistinctSize) {
  const WindowDef def = SmallDef("W", "W");
  Window w(def);
  ASSERT_TRUE(w.Open());
  ui_.Resize(100, 50);  // the size it has: nothing
  ui_.Then([&](HeadlessWindow&) {
    // Two sizes before the loop looks: one event.
    InputSink::Resized(w.Id(), 120, 60);
    InputSink::Resized(w.Id(), 130, 70);
  });
  ui_.Resize(130, 70);
  ui_.Resize(140, 80);
  ui_.Close();
  const auto events = Run(w);
  EXPECT_THAT(Codes(events), ElementsAre(EVENT::OpenWindow, EVENT::Sized, EVENT::Sized,
                                         EVENT::Sized, EVENT::CloseWindow));
  EXPECT_EQ(w.Position(0).width, 140);
}

TEST_F(WindowTest, TheCloseBoxOnlyAsks) {
  const WindowDef def = SmallDef("W", "W");
  Window w(def);
  ASSERT_TRUE(w.Open());
  ui_.Close();
  ui_.Then([](HeadlessWindow& hw) { EXPECT_EQ(hw.caption, "W"); });
  ui_.Key(kKeyEsc);
  int closes = 0;
  const auto events = Run(w, [&](const Event& e) {
    // The first close is declined: the handler deals with it.
    return e.code == EVENT::CloseWindow && ++closes == 1;
  });
  EXPECT_EQ(closes, 2);
  EXPECT_EQ(events.back().keycode, kKeyEsc);
}

TEST_F(WindowTest, PumpDeliversWhatIsQueuedWithoutWaiting) {
  const WindowDef def = SmallDef("W", "W");
  Window w(def);
  ASSERT_TRUE(w.Open());
  w.Post(0x3FF);
  std::vector<int32_t> codes;
  EXPECT_EQ(w.Pump([&](const Event& e) {
    codes.push_back(e.code);
    EXPECT_EQ(CurrentEvent(), e.code);
    return false;
  }),
            3);
  EXPECT_THAT(codes, ElementsAre(EVENT::OpenWindow, EVENT::Sized, 0x3FF));
  EXPECT_EQ(CurrentEvent(), 0);
  EXPECT_EQ(w.Pump({}), 0);
  w.Post(EVENT::CloseWindow);
  EXPECT_EQ(w.Pump({}), 1);
  EXPECT_FALSE(w.IsOpen());
  EXPECT_EQ(ui_.PendingSteps(), 0u);
}

struct Row {
  char NAME[10];
  int32_t N;
};

TEST_F(WindowTest, ListsShowTheirQueueAndReportTheUsersActions) {
  const WindowDef def = FormDef();
  Window w(def);
  ASSERT_TRUE(w.Open());
  Queue<Row> q;
  q.Field("NAME", &Row::NAME);
  q.Field("N", &Row::N);
  for (int i = 1; i <= 3; ++i) {
    std::memset(q.record.NAME, ' ', 10);
    const std::string name = "Row " + std::to_string(i);
    std::memcpy(q.record.NAME, name.data(), name.size());
    q.record.N = i * 10;
    ADD(&q);
  }
  w.From(kList, &q);
  w.Display();
  EXPECT_EQ(w.Rows(kList), 3);
  EXPECT_EQ(w.Choice(kList), 1);
  EXPECT_EQ(w.Items(kList), 5);  // 60 units high, one row for the headers
  const HeadlessWindow* hw = ui_.Top();
  EXPECT_EQ(hw->Row(kList, 2), "Row 2\t20");

  ui_.SelectRow(kList, 3);
  ui_.DoubleClick(kList, 2);
  ui_.RightClick(kList, 1);
  ui_.Key(kKeyDown, kList);
  ui_.Scroll(kList, ScrollAction::kPageDown);
  ui_.Scroll(kList, ScrollAction::kDrag, 140);
  ui_.HeaderClick(kList, 2, kShift);
  ui_.SelectRow(kList, 9);  // no such row: nothing
  ui_.Close();
  std::vector<int> choices;
  const auto events = Run(w, [&](const Event& e) {
    if (e.code == EVENT::NewSelection) choices.push_back(w.Choice(kList));
    return false;
  });
  ASSERT_EQ(events.size(), 11u);
  struct Want {
    int32_t code;
    int32_t control;
    int32_t keycode;
    int32_t param;
  };
  const Want kWant[] = {
      {EVENT::NewSelection, kList, kMouseLeft, 0},
      {EVENT::NewSelection, kList, kMouseLeft, 0},
      {EVENT::NewSelection, kList, kMouseLeft2, 0},
      {EVENT::NewSelection, kList, kMouseRight, 0},
      {EVENT::ScrollDown, kList, kKeyDown, 0},
      {EVENT::PageDown, kList, 0, 0},
      {EVENT::ScrollDrag, kList, 0, 100},
      {EVENT::Accepted, kHeader, kShift | kMouseLeft, 2},
  };
  for (size_t i = 0; i < std::size(kWant); ++i) {
    SCOPED_TRACE(i);
    const Event& e = events[i + 2];
    EXPECT_EQ(e.code, kWant[i].code);
    EXPECT_EQ(e.control, kWant[i].control);
    EXPECT_EQ(e.keycode, kWant[i].keycode);
    EXPECT_EQ(e.param, kWant[i].param);
  }
  EXPECT_THAT(choices, ElementsAre(3, 2, 2, 1));
}

TEST_F(WindowTest, ColumnWidthsFollowTheUserAndTheProgram) {
  const WindowDef def = FormDef();
  Window w(def);
  ASSERT_TRUE(w.Open());
  EXPECT_THAT(w.ColumnWidths(kList), ElementsAre(40, 20));  // the format's
  EXPECT_THAT(w.ColumnWidths(kName), IsEmpty());            // not a list
  w.SetColumnWidths(kList, {55, 0, 99});                    // 0 keeps; past the columns ignored
  EXPECT_THAT(w.ColumnWidths(kList), ElementsAre(55, 20));
  EXPECT_THAT(ui_.Top()->Control(kList)->column_widths, ElementsAre(55, 20));
  ui_.ResizeColumn(kList, 2, 33);
  ui_.ResizeColumn(kList, 3, 10);  // no such column: nothing
  ui_.Close();
  const auto events = Run(w, [&](const Event& e) {
    if (e.code == EVENT::ColumnResize) {
      EXPECT_EQ(e.control, kList);
      EXPECT_EQ(e.param, 2);
      EXPECT_THAT(w.ColumnWidths(kList), ElementsAre(55, 33));
    }
    return false;
  });
  EXPECT_THAT(Codes(events), ElementsAre(EVENT::OpenWindow, EVENT::Sized, EVENT::ColumnResize,
                                         EVENT::CloseWindow));
}

TEST_F(WindowTest, OrdinaryListsMoveTheirSelectionThemselves) {
  WindowDef def = FormDef();
  def.controls[kList - 1].flags = 0;
  Window w(def);
  ASSERT_TRUE(w.Open());
  Queue<Row> q;
  q.Field("NAME", &Row::NAME);
  q.Field("N", &Row::N);
  for (int i = 0; i < 3; ++i) ADD(&q);
  w.From(kList, &q);
  w.Display();
  ui_.Key(kKeyDown, kList);
  ui_.Key(kKeyEnd, kList);
  ui_.Key(kKeyDown, kList);                    // already on the last row: nothing
  ui_.Scroll(kList, ScrollAction::kPageDown);  // the list scrolls itself: nothing
  ui_.Then([&](HeadlessWindow& hw) {
    EXPECT_EQ(w.Choice(kList), 3);
    EXPECT_EQ(hw.Choice(kList), 3);
  });
  ui_.Close();
  const auto events = Run(w);
  EXPECT_THAT(Codes(events), ElementsAre(EVENT::OpenWindow, EVENT::Sized, EVENT::NewSelection,
                                         EVENT::NewSelection, EVENT::CloseWindow));
}

TEST_F(WindowTest, AlertedKeysRaiseAlertKeyAndSetTheKeyCode) {
  const WindowDef def = FormDef();
  Window w(def);
  ASSERT_TRUE(w.Open());
  w.Alert(kKeyCtrlH, kName);
  w.Alert(kKeyInsert);  // the whole window
  EXPECT_TRUE(w.Alerted(kKeyCtrlH, kName));
  EXPECT_FALSE(w.Alerted(kKeyCtrlH, kCount));
  ui_.Key(kKeyCtrlH);          // the focus is on the name
  ui_.Key(kKeyCtrlH, kCount);  // not alerted there: nothing
  ui_.Key(kKeyInsert, kCount);
  ui_.Close();
  std::vector<std::pair<int32_t, int32_t>> alerts;
  Run(w, [&](const Event& e) {
    if (e.code == EVENT::AlertKey) {
      alerts.emplace_back(e.control, KeyCode());
    }
    return false;
  });
  EXPECT_THAT(alerts,
              ElementsAre(std::make_pair(kName, kKeyCtrlH), std::make_pair(kCount, kKeyInsert)));
  EXPECT_EQ(KeyCode(), kKeyInsert);  // the close box carries no key: the last one stays
  SetKeyCode(130);
  EXPECT_EQ(KeyCode(), 130);
  SetKeyCode(0);
}

TEST_F(WindowTest, EnterCommitsTheEntryThenPressesTheDefaultButton) {
  const WindowDef def = FormDef();
  Window w(def);
  ASSERT_TRUE(w.Open());
  int32_t count = 0;
  w.Use(kCount, UfoLong(&count));
  ui_.Type(kCount, "9", false);
  ui_.Key(kKeyEnter);
  ui_.Type(kCount, "bad", false);
  ui_.Key(kKeyEnter);  // rejected: the button is not pressed
  ui_.Close();
  const auto events = Run(w);
  EXPECT_THAT(Codes(events), ElementsAre(EVENT::OpenWindow, EVENT::Sized, EVENT::Accepted,
                                         EVENT::Accepted, EVENT::Rejected, EVENT::CloseWindow));
  EXPECT_EQ(events[2].control, kCount);
  EXPECT_EQ(events[3].control, kOk);
  EXPECT_EQ(count, 9);
}

TEST_F(WindowTest, TheDefaultButtonCanMoveAndAnEditIsCommittedOnce) {
  const WindowDef def = FormDef();
  Window w(def);
  ASSERT_TRUE(w.Open());
  int32_t count = 0;
  w.Use(kCount, UfoLong(&count));
  w.Display();
  w.SetDefaultButton(kCancel);
  EXPECT_FALSE(ui_.Top()->IsDefault(kOk));
  EXPECT_TRUE(ui_.Top()->IsDefault(kCancel));
  ui_.Type(kCount, "007", false);
  ui_.Then([&](HeadlessWindow&) {
    EXPECT_TRUE(w.Edited(kCount));
    EXPECT_FALSE(w.Edited(kName));
    // Focus out and the toolkit's own end of editing: one commit.
    InputSink::FocusMoved(w.Id(), kName);
    InputSink::EditFinished(w.Id(), kCount, 0);
  });
  ui_.Key(kKeyEnter);
  ui_.Close();
  const auto events = Run(w);
  EXPECT_THAT(Codes(events), ElementsAre(EVENT::OpenWindow, EVENT::Sized, EVENT::Accepted,
                                         EVENT::Accepted, EVENT::CloseWindow));
  EXPECT_EQ(events[2].control, kCount);
  EXPECT_EQ(events[3].control, kCancel);
  EXPECT_EQ(count, 7);
  EXPECT_FALSE(w.Edited(kCount));
}

TEST_F(WindowTest, PopupsReturnTheChosenItemAndMessagesTakeTheirAnswersInOrder) {
  const WindowDef def = SmallDef("W", "W");
  Window w(def);
  ASSERT_TRUE(w.Open());
  ui_.Click(1);
  ui_.AnswerPopup("Change");
  ui_.AnswerMessage(kButtonNo);
  ui_.Click(2);
  std::vector<int> results;
  Run(w, [&](const Event& e) {
    if (e.code == EVENT::Accepted && e.control == 1) {
      results.push_back(w.Popup("&Insert|&Change|-|~&Delete"));
      results.push_back(MessageBox("Sure?", "Q", kIconQuestion, kButtonYes | kButtonNo));
      results.push_back(w.Popup("&Insert|&Change"));  // not answered: dismissed
    }
    if (e.code == EVENT::Accepted && e.control == 2) w.Post(EVENT::CloseWindow);
    return false;
  });
  EXPECT_THAT(results, ElementsAre(2, kButtonNo, 0));
  ASSERT_EQ(ui_.Popups().size(), 2u);
  EXPECT_EQ(ui_.Popups()[0].menu.count, 3);
}

TEST_F(WindowTest, AnAnswerNobodyAskedForFailsTheScript) {
  expect_failures_ = true;
  const WindowDef def = SmallDef("W", "W");
  Window w(def);
  ASSERT_TRUE(w.Open());
  ui_.AnswerMessage(kButtonYes);
  ui_.Close();
  Run(w);
  ASSERT_EQ(failures_.size(), 1u);
  EXPECT_THAT(failures_[0], HasSubstr("AnswerMessage(2) was not used"));
}

TEST_F(WindowTest, TimerEventsDoNotPileUp) {
  const WindowDef def = SmallDef("W", "W");
  Window w(def);
  ASSERT_TRUE(w.Open());
  ui_.Tick();  // no timer yet: nothing
  ui_.Then([&](HeadlessWindow&) { w.SetTimer(10); });
  ui_.Then([&](HeadlessWindow& hw) {
    EXPECT_EQ(hw.timer, 10);
    InputSink::TimerFired(w.Id());
    InputSink::TimerFired(w.Id());
  });
  ui_.Tick();
  ui_.Close();
  const auto events = Run(w);
  EXPECT_THAT(Codes(events), ElementsAre(EVENT::OpenWindow, EVENT::Sized, EVENT::Timer,
                                         EVENT::Timer, EVENT::CloseWindow));
}

TEST_F(WindowTest, IconizingIsTheDefaultOfTheRequest) {
  const WindowDef def = FormDef();
  Window w(def);
  ASSERT_TRUE(w.Open());
  ui_.Iconize();
  ui_.Then([&](HeadlessWindow& hw) {
    EXPECT_EQ(hw.state, WindowState::kIconized);
    EXPECT_FALSE(w.Visible(kName));
  });
  ui_.Restore();
  ui_.Iconize();  // declined by the handler
  ui_.Close();
  int iconizes = 0;
  const auto events =
      Run(w, [&](const Event& e) { return e.code == EVENT::Iconize && ++iconizes == 2; });
  EXPECT_THAT(Codes(events),
              ElementsAre(EVENT::OpenWindow, EVENT::Sized, EVENT::Iconize, EVENT::Iconized,
                          EVENT::Restore, EVENT::Restored, EVENT::Iconize, EVENT::CloseWindow));
}

TEST_F(WindowTest, ControlsOnAnotherTabAreNotVisible) {
  WindowDef def;
  def.name = "TABS";
  def.caption = "Tabs";
  def.at = {0, 0, 100, 100};
  def.controls = {
      {.kind = ControlKind::kSheet, .name = "?SHEET"},
      {.kind = ControlKind::kTab, .name = "?TAB1", .text = "One", .parent = 1},
      {.kind = ControlKind::kTab, .name = "?TAB2", .text = "Two", .parent = 1},
      {.kind = ControlKind::kEntry, .name = "?A", .parent = 2},
      {.kind = ControlKind::kEntry, .name = "?B", .parent = 3},
  };
  Window w(def);
  ASSERT_TRUE(w.Open()) << w.OpenError();
  EXPECT_TRUE(w.Visible(4));
  EXPECT_FALSE(w.Visible(5));
  ui_.SelectTab(1, 2);
  ui_.Then([&](HeadlessWindow&) {
    EXPECT_FALSE(w.Visible(4));
    EXPECT_TRUE(w.Visible(5));
  });
  ui_.Close();
  const auto events = Run(w);
  EXPECT_THAT(Codes(events), ElementsAre(EVENT::OpenWindow, EVENT::Sized, EVENT::TabChanging,
                                         EVENT::NewSelection, EVENT::CloseWindow));
  EXPECT_EQ(events[3].control, 1);
}

TEST_F(WindowTest, AnotherThreadsPostWakesTheWaitingLoop) {
  ui_.SetWaitForPosts(true);
  const WindowDef def = SmallDef("W", "W");
  Window w(def);
  ASSERT_TRUE(w.Open());
  const int32_t me = ThreadNumber();
  std::thread poster;
  std::vector<int32_t> notified;
  const auto events = Run(w, [&](const Event& e) {
    if (e.code == EVENT::OpenWindow) {
      poster = std::thread([me] {
        Notify(7, me, 8);
        Post(EVENT::CloseWindow, 0, me);
      });
    }
    if (e.code == EVENT::Notify) {
      int32_t code = 0, thread = 0, param = 0;
      EXPECT_TRUE(w.Notification(&code, &thread, &param));
      notified = {code, param};
      EXPECT_NE(thread, me);
    }
    return false;
  });
  poster.join();
  EXPECT_THAT(Codes(events),
              ElementsAre(EVENT::OpenWindow, EVENT::Sized, EVENT::Notify, EVENT::CloseWindow));
  EXPECT_THAT(notified, ElementsAre(7, 8));
}

TEST_F(WindowTest, ShutDownClosesEveryWindowTopFirst) {
  const WindowDef outer_def = SmallDef("OUTER", "Outer");
  const WindowDef inner_def = SmallDef("INNER", "Inner");
  Window outer(outer_def);
  ASSERT_TRUE(outer.Open());
  std::vector<std::string> closed;
  ui_.Click(1);
  Run(outer, [&](const Event& e) {
    if (e.code == EVENT::CloseDown) closed.push_back("outer");
    if (e.code == EVENT::Accepted) {
      Window inner(inner_def);
      EXPECT_TRUE(inner.Open());
      InputSink::ShutDown();
      Run(inner, [&](const Event& ie) {
        if (ie.code == EVENT::CloseDown) closed.push_back("inner");
        return false;
      });
    }
    return false;
  });
  EXPECT_THAT(closed, ElementsAre("inner", "outer"));
}

TEST_F(WindowTest, AddedControlsAndPropertiesReachTheToolkit) {
  const WindowDef def = FormDef();
  Window w(def);
  ASSERT_TRUE(w.Open());
  const int region = w.AddControl({.kind = ControlKind::kRegion, .name = "?EXTRA"});
  EXPECT_EQ(region, kNote + 1);
  EXPECT_EQ(w.AddControl({.kind = ControlKind::kRegion, .name = "?EXTRA"}), 0);
  EXPECT_THAT(w.OpenError(), HasSubstr("the name is already used by control 9"));
  w.SetCaption("Record Will Be Added");
  w.SetDisabled(kOk, true);
  w.SetReadOnly(kName, true);
  w.SetPosition(kCancel, {1, 2, 3, 4});
  w.SetIcon(kList, 2, "~16.ico");
  Appearance look;
  look.cursor = "hand.cur";
  look.font_style = kFontUnderline;
  w.SetAppearance(kCancel, look);
  const HeadlessWindow* hw = ui_.Top();
  EXPECT_EQ(hw->caption, "Record Will Be Added");
  EXPECT_FALSE(hw->Enabled(kOk));
  EXPECT_TRUE(hw->ReadOnly(kName));
  EXPECT_EQ(hw->Position(kCancel), (Rect{1, 2, 3, 4}));
  EXPECT_EQ(hw->Control(kList)->icons, (std::vector<std::string>{"", "~16.ico"}));
  EXPECT_EQ(hw->Control(kCancel)->look.cursor, "hand.cur");
  EXPECT_NE(hw->Control(region), nullptr);
  // A disabled button takes no clicks; typing into a read-only entry changes nothing.
  ui_.Click(kOk);
  ui_.Type(kName, "x");
  ui_.Close();
  EXPECT_THAT(Codes(Run(w)), ElementsAre(EVENT::OpenWindow, EVENT::Sized, EVENT::CloseWindow));
}

}  // namespace
}  // namespace qzr
