// LinkWright on a real window, driven by the scripted user.

#include <string>
#include <vector>

#include "addons/link_wright.h"
#include "gtest/gtest.h"
#include "runtime/core/command_line.h"
#include "runtime/os/launch.h"
#include "ui/event.h"
#include "ui/headless_backend.h"
#include "ui/message.h"
#include "ui/window.h"
#include "ui/window_def.h"

namespace qzr {
namespace {

enum : int { kLink = 1, kGo = 2, kOther = 3 };

WindowDef LinkForm() {
  WindowDef d;
  d.resource = "test$links";
  d.name = "LINKFORM";
  d.caption = "Links";
  d.at = {0, 0, 200, 60};
  d.controls = {
      {.kind = ControlKind::kEntry, .name = "?LINK", .picture = "@s254", .at = {4, 4, 140, 10}},
      {.kind = ControlKind::kButton, .name = "?GO", .text = "Goto Web", .at = {150, 4, 40, 12}},
      {.kind = ControlKind::kButton, .name = "?OTHER", .text = "Other", .at = {150, 20, 40, 12}},
  };
  return d;
}

class LinkWrightWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramArguments({});
    ui_.SetFailureHandler([](const std::string& f) { ADD_FAILURE() << f; });
    SetLaunchHook([this](const std::vector<std::string>& argv, std::string*) {
      starts_.push_back(argv);
      return 0;
    });
  }
  void TearDown() override { SetLaunchHook({}); }

  void Run(Window& w, LinkWright& links) {
    Event e;
    while (w.Accept(&e)) {
      links.TakeEvent();
      if (e.code == EVENT::OpenWindow) links.PrepareControls();
      w.Default(e);
    }
  }

  HeadlessBackend ui_;
  ScopedBackend scope_{&ui_};
  std::vector<std::vector<std::string>> starts_;
};

TEST_F(LinkWrightWindowTest, TheButtonOpensWhatTheEntryShows) {
  const WindowDef def = LinkForm();
  Window w(def);
  ASSERT_TRUE(w.Open()) << w.OpenError();
  LinkWright links;
  links.Init(&w);
  LinkItem item;
  item.CONTROL = kGo;
  item.SOURCE = kLink;
  item.STANDARDAPPEARANCE = 1;
  links.AddItem(item);
  // Opening a window with links starts nothing.
  EXPECT_TRUE(starts_.empty());

  ui_.Type(kLink, "www.example.org/forum?t=1");
  ui_.Click(kGo);
  ui_.Click(kOther);  // not a link
  ui_.Type(kLink, "   ");
  ui_.Click(kGo);  // blank: a beep
  ui_.Type(kLink, "file:///etc/passwd");
  ui_.Click(kGo);
  ui_.AnswerMessage(kButtonOk);
  ui_.Close();
  Run(w, links);

  ASSERT_EQ(starts_.size(), 1u);
  EXPECT_EQ(starts_[0], (std::vector<std::string>{"xdg-open", "http://www.example.org/forum?t=1"}));
  EXPECT_EQ(ui_.Beeps(), std::vector<int>{kBeepStandard});
  auto shown = ui_.Messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].request.caption, kLinkNotOpenedCaption);
}

TEST_F(LinkWrightWindowTest, LinksGetTheHandCursor) {
  const WindowDef def = LinkForm();
  Window w(def);
  ASSERT_TRUE(w.Open()) << w.OpenError();
  LinkWright links;
  links.Init(&w);
  LinkItem item;
  item.CONTROL = kLink;
  item.NORMALCOLOR = 0xFF0000;
  item.UNDERLINE = 1;
  links.AddItem(item);
  ui_.Then([](HeadlessWindow& hw) {
    EXPECT_EQ(hw.Control(kLink)->look.cursor, "hand2.cur");
    EXPECT_EQ(hw.Control(kLink)->look.font_color, 0xFF0000);
    EXPECT_EQ(hw.Control(kLink)->look.font_style & kFontUnderline, kFontUnderline);
    EXPECT_EQ(hw.Control(kGo)->look.cursor, "");
  });
  ui_.Close();
  Run(w, links);
}

}  // namespace
}  // namespace qzr
