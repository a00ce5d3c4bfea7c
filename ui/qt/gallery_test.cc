// The gallery on the desktop toolkit, offscreen: values through the real
// widgets, the user's actions and the exact events they raise, modal
// nesting, the list's height, and bad or large data.

#include "ui/qt/gallery.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QEnterEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <string>
#include <vector>

#include "ui/event.h"
#include "ui/keycodes.h"
#include "ui/qt/code_view.h"
#include "ui/qt/list_control.h"
#include "ui/qt/qt_toolkit.h"
#include "ui/qt/qt_window.h"
#include "ui/qt/text_limit.h"

namespace qzr {
namespace {

QString U(const char* utf8) {
  return QString::fromUtf8(utf8);
}

struct Seen {
  int32_t code, control, keycode, param;
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << EventName(s.code) << "(" << s.control << ", " << KeyName(s.keycode) << ", "
            << s.param << ")";
}

class GalleryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window_.Open()) << window_.OpenError();
    data_.Fill(5);
    data_.Bind(&window_);
    window_.Display();
    native_ = toolkit_.Find(window_.Id());
    ASSERT_NE(native_, nullptr);
    native_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(native_));
    window_.Select(kGalleryName);
    Drain();  // OpenWindow, Sized
  }

  void TearDown() override { window_.Close(); }

  template <typename W>
  W* Get(int control) {
    auto* w = qobject_cast<W*>(native_->Widget(control));
    EXPECT_NE(w, nullptr) << "control " << control;
    return w;
  }

  // Lets Qt deliver what is pending, then takes every queued event; a
  // handler may claim one (true: no default processing).
  std::vector<Seen> Drain(const std::function<bool(const Event&)>& handle = {}) {
    QApplication::processEvents();
    std::vector<Seen> seen;
    window_.Pump([&](const Event& e) {
      seen.push_back({e.code, e.control, e.keycode, e.param});
      return handle ? handle(e) : false;
    });
    return seen;
  }

  QtToolkit toolkit_;
  ScopedBackend scope_{&toolkit_};
  Window window_{GalleryDef()};
  GalleryData data_;
  QtWindow* native_ = nullptr;
};

TEST_F(GalleryTest, DisplayAndUpdateRoundTripThroughTheWidgets) {
  EXPECT_EQ(Get<QLineEdit>(kGalleryName)->text(), U("Gr\xC3\xBC\xC3\x9F"
                                                    "e"));
  EXPECT_EQ(Get<QLineEdit>(kGalleryCount)->text(), "42");
  EXPECT_TRUE(Get<QCheckBox>(kGalleryComplete)->isChecked());
  EXPECT_EQ(Get<QPlainTextEdit>(kGalleryDescription)->toPlainText().section('\n', 0, 0),
            "A function that greets the world three times.");
  CodeView* code = Get<CodeView>(kGalleryCode);
  EXPECT_EQ(code->Code(), data_.Code());
  EXPECT_EQ(code->Language(), CodeLanguage::kCpp);
  EXPECT_TRUE(code->isUtf8());
  ListControl* list = Get<ListControl>(kGalleryList);
  ASSERT_EQ(list->Model()->rowCount(), 5);
  EXPECT_EQ(list->Model()->data(list->Model()->index(3, 1), Qt::DisplayRole).toString(),
            U("Caf\xC3\xA9 menu 4"));
  EXPECT_FALSE(
      list->Model()->data(list->Model()->index(0, 0), Qt::DecorationRole).value<QIcon>().isNull());
  EXPECT_EQ(Get<QLabel>(kGalleryString)->text(),
            U("A string: gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xCE\xA9"));
  EXPECT_EQ(Get<QLabel>(kGalleryNamePrompt)->buddy(), native_->Widget(kGalleryName));
  EXPECT_EQ(native_->windowTitle(), U(GalleryDef().caption.c_str()));

  // The user edits; Update brings the screen's values into the variables.
  QLineEdit* name = Get<QLineEdit>(kGalleryName);
  name->selectAll();
  QTest::keyClicks(name, "Na");
  QKeyEvent euro(QEvent::KeyPress, 0, Qt::NoModifier, U("\xE2\x82\xAC"));
  QApplication::sendEvent(name, &euro);
  Get<CodeView>(kGalleryCode)->SetCode("x");  // as the program would: not the user's
  QTest::mouseClick(Get<QCheckBox>(kGalleryComplete), Qt::LeftButton);
  Drain();
  ASSERT_TRUE(window_.Update());
  EXPECT_EQ(data_.Name(), "Na\xE2\x82\xAC");
  EXPECT_EQ(data_.COMPLETE, 0);

  // Variables to screen again, UTF-8 included.
  std::memset(data_.NAME, ' ', sizeof data_.NAME);
  std::memcpy(data_.NAME, "\xC3\xA9t\xC3\xA9", 5);
  data_.COUNT = 7;
  window_.Display();
  EXPECT_EQ(name->text(), U("\xC3\xA9t\xC3\xA9"));
  EXPECT_EQ(Get<QLineEdit>(kGalleryCount)->text(), "7");
}

TEST_F(GalleryTest, UserActionsRaiseExactlyTheirEvents) {
  window_.Alert(kKeyCtrlH);
  ListControl* list = Get<ListControl>(kGalleryList);
  auto row_point = [&](int row) {
    return list->View()->visualRect(list->Model()->index(row - 1, 1)).center();
  };
  struct Step {
    const char* what;
    std::function<void()> act;
    std::vector<Seen> expected;
  };
  using namespace EVENT;
  const std::vector<Step> steps = {
      {"click Save",
       [&] { QTest::mouseClick(Get<QPushButton>(kGallerySave), Qt::LeftButton); },
       {{Accepted, kGallerySave, kMouseLeft, 0}}},
      {"type into Name, then Tab",
       [&] {
         QLineEdit* name = Get<QLineEdit>(kGalleryName);
         name->setFocus();
         name->end(false);
         QTest::keyClicks(name, "x");
         QTest::keyClick(name, Qt::Key_Tab);
       },
       {{Accepted, kGalleryName, kKeyTab, 0}}},
      {"Tab again moves on without an event",
       [&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); },
       {}},
      {"Enter in an unchanged entry presses the default button",
       [&] {
         Get<QLineEdit>(kGalleryName)->setFocus();
         QTest::keyClick(Get<QLineEdit>(kGalleryName), Qt::Key_Return);
       },
       {{Accepted, kGallerySave, kKeyEnter, 0}}},
      {"click the check box",
       [&] { QTest::mouseClick(Get<QCheckBox>(kGalleryComplete), Qt::LeftButton); },
       {{Accepted, kGalleryComplete, kMouseLeft, 0}}},
      {"click row 2, double-click row 3",
       [&] {
         QTest::mouseClick(list->View()->viewport(), Qt::LeftButton, {}, row_point(2));
         QTest::mouseClick(list->View()->viewport(), Qt::LeftButton, {}, row_point(3));
         QTest::mouseDClick(list->View()->viewport(), Qt::LeftButton, {}, row_point(3));
       },
       {{NewSelection, kGalleryList, kMouseLeft, 0},
        {NewSelection, kGalleryList, kMouseLeft, 0},
        {NewSelection, kGalleryList, kMouseLeft2, 0}}},
      {"scroll bar: line down, page up, bottom",
       [&] {
         list->ScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
         list->ScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
         list->ScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
       },
       {{ScrollDown, kGalleryList, 0, 0},
        {PageUp, kGalleryList, 0, 0},
        {ScrollBottom, kGalleryList, 0, 0}}},
      {"Down key on the list",
       [&] {
         list->View()->setFocus();
         QTest::keyClick(list->View(), Qt::Key_Down);
       },
       {{ScrollDown, kGalleryList, kKeyDown, 0}}},
      {"header click on the Title column with Shift",
       [&] {
         QHeaderView* header = list->View()->header();
         QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                           QPoint(header->sectionViewportPosition(1) + 5, 4));
       },
       {{Accepted, kGalleryHeader, kMouseLeft | kShift, 2}}},
      {"drag the Title column's edge",
       [&] {
         // What the header does while the edge is dragged, then the release.
         QHeaderView* header = list->View()->header();
         header->resizeSection(1, header->sectionSize(1) + 30);
         QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(5, 4));
       },
       {{ColumnResize, kGalleryList, kMouseLeft, 2}}},
      {"click the region",
       [&] { QTest::mouseClick(native_->Widget(kGalleryRegion), Qt::LeftButton); },
       {{Accepted, kGalleryRegion, kMouseLeft, 0}}},
      {"alerted Ctrl+H in the entry",
       [&] {
         Get<QLineEdit>(kGalleryName)->setFocus();
         QTest::keyClick(Get<QLineEdit>(kGalleryName), Qt::Key_H, Qt::ControlModifier);
       },
       {{AlertKey, kGalleryName, kKeyCtrlH, 0}}},
      {"choose the second tab",
       [&] {
         QTabWidget* tabs = Get<QTabWidget>(kGallerySheet);
         QTabBar* bar = tabs->tabBar();
         QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
       },
       {{TabChanging, kGallerySheet, kMouseLeft, 0}, {NewSelection, kGallerySheet, kMouseLeft, 0}}},
      {"Alt+O presses Cl&ose",
       [&] {
         Get<QLineEdit>(kGalleryOther)->setFocus();
         QTest::keyClick(native_->windowHandle(), Qt::Key_O, Qt::AltModifier);
         // A mnemonic presses its button the way a click looks: after a
         // short animation.
         EXPECT_TRUE(QTest::qWaitFor([&] { return window_.Pending() > 0; }));
       },
       {{Accepted, kGalleryClose, KeyCode('O', kAlt), 0}}},
      {"typed text, then Enter: the entry, then the default button",
       [&] {
         QLineEdit* other = Get<QLineEdit>(kGalleryOther);
         other->setFocus();
         QTest::keyClicks(other, "ab");
         QTest::keyClick(other, Qt::Key_Return);
       },
       {{Accepted, kGalleryOther, kKeyEnter, 0}, {Accepted, kGallerySave, kKeyEnter, 0}}},
      {"Escape",
       [&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); },
       {{CloseWindow, 0, kKeyEsc, 0}}},
      {"the close box", [&] { native_->close(); }, {{CloseWindow, 0, 0, 0}}},
  };
  for (const Step& step : steps) {
    step.act();
    // Claim a close so the window stays open for the next step.
    std::vector<Seen> seen = Drain([](const Event& e) { return e.code == CloseWindow; });
    // Focus bookkeeping is not an event; keep what the procedure sees.
    EXPECT_EQ(seen, step.expected) << step.what;
  }
  EXPECT_TRUE(window_.IsOpen());
  // The tab switch hid the first tab's controls and showed the second's.
  EXPECT_FALSE(native_->Widget(kGalleryName)->isVisible());
  EXPECT_TRUE(native_->Widget(kGalleryOther)->isVisible());
  EXPECT_TRUE(window_.Visible(kGalleryOther));
}

TEST_F(GalleryTest, ColumnWidthsGoBothWays) {
  ListControl* list = Get<ListControl>(kGalleryList);
  QHeaderView* header = list->View()->header();
  window_.SetColumnWidths(kGalleryList, {14, 60, 80});
  EXPECT_EQ(header->sectionSize(1), DluToPixelsX(60, native_->Base()));
  EXPECT_EQ(Drain(), std::vector<Seen>{});
  header->resizeSection(2, DluToPixelsX(120, native_->Base()));
  QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(5, 4));
  EXPECT_EQ(Drain(), (std::vector<Seen>{{EVENT::ColumnResize, kGalleryList, kMouseLeft, 3}}));
  EXPECT_EQ(window_.ColumnWidths(kGalleryList), (std::vector<int>{14, 60, 120}));
}

TEST_F(GalleryTest, ThePointerEnteringAndLeavingControlsIsReported) {
  QWidget* save = native_->Widget(kGallerySave);
  QWidget* close = native_->Widget(kGalleryClose);
  InputSink::MouseOver(window_.Id(), 0);  // wherever the pointer was: away
  Drain();
  QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), save->mapToGlobal(QPointF(2, 2)));
  QApplication::sendEvent(save, &enter);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(save, &leave);
  QEnterEvent enter2(QPointF(2, 2), QPointF(2, 2), close->mapToGlobal(QPointF(2, 2)));
  QApplication::sendEvent(close, &enter2);
  EXPECT_EQ(Drain(), (std::vector<Seen>{{EVENT::MouseIn, kGallerySave, 0, 0},
                                        {EVENT::MouseOut, kGallerySave, 0, 0},
                                        {EVENT::MouseIn, kGalleryClose, 0, 0}}));
}

TEST_F(GalleryTest, ProgramChangesRaiseNoEvents) {
  window_.SetText(kGalleryName, "set by the program");
  window_.SetText(kGalleryCode, "def f():\n    pass\n");
  data_.COMPLETE = 0;
  data_.Fill(3);
  window_.Display();
  window_.SetChoice(kGalleryList, 2);
  window_.SetChoice(kGallerySheet, 2);
  window_.SetChoice(kGallerySheet, 1);
  window_.SetCaption("Another caption");
  window_.SetHidden(kGalleryImage, true);
  window_.SetDisabled(kGallerySave, true);
  window_.SetColumnWidths(kGalleryList, {20, 50, 50});
  window_.SetReadOnly(kGalleryCode, true);
  window_.SetPosition(kGalleryList, {214, 40, 196, 60});
  window_.Select(kGalleryCode);
  EXPECT_EQ(Drain(), std::vector<Seen>{});
  EXPECT_EQ(native_->windowTitle(), "Another caption");
  EXPECT_FALSE(native_->Widget(kGalleryImage)->isVisible());
  EXPECT_FALSE(native_->Widget(kGallerySave)->isEnabled());
  EXPECT_TRUE(Get<CodeView>(kGalleryCode)->isReadOnly());
  EXPECT_EQ(Get<ListControl>(kGalleryList)->Choice(), 2);
  EXPECT_EQ(Get<ListControl>(kGalleryList)->Model()->rowCount(), 3);
}

TEST_F(GalleryTest, ACloseBoxTheProcedureRefusesLeavesTheWindowOpen) {
  native_->close();
  std::vector<Seen> seen = Drain([](const Event& e) { return e.code == EVENT::CloseWindow; });
  EXPECT_EQ(seen, (std::vector<Seen>{{EVENT::CloseWindow, 0, 0, 0}}));
  EXPECT_TRUE(window_.IsOpen());
  EXPECT_TRUE(native_->isVisible());
  // Accepted with the default processing, it closes.
  native_->close();
  Drain();
  EXPECT_FALSE(window_.IsOpen());
  EXPECT_EQ(toolkit_.Find(window_.Id()), nullptr);
}

TEST_F(GalleryTest, AModalFormBlocksInputToTheWindowBelow) {
  WindowDef form_def;
  form_def.name = "FORM";
  form_def.caption = "Update Information";
  form_def.font = "Arial";
  form_def.at = {0, 0, 120, 40};
  ControlDef ok;
  ok.kind = ControlKind::kButton;
  ok.name = "?OK";
  ok.text = "&Save";
  ok.at = {4, 4, 50, 14};
  form_def.controls = {ok};
  Window form(form_def);
  ASSERT_TRUE(form.Open()) << form.OpenError();
  QtWindow* native_form = toolkit_.Find(form.Id());
  ASSERT_NE(native_form, nullptr);
  EXPECT_EQ(native_form->windowModality(), Qt::ApplicationModal);
  EXPECT_EQ(QApplication::activeModalWidget(), native_form);
  // A click that reaches the gallery anyway is dropped: it is not the top.
  QTest::mouseClick(Get<QPushButton>(kGallerySave), Qt::LeftButton);
  QTest::mouseClick(qobject_cast<QPushButton*>(native_form->Widget(1)), Qt::LeftButton);
  QApplication::processEvents();
  std::vector<Seen> on_form;
  form.Pump([&](const Event& e) {
    on_form.push_back({e.code, e.control, e.keycode, e.param});
    return false;
  });
  EXPECT_EQ(on_form.back(), (Seen{EVENT::Accepted, 1, kMouseLeft, 0}));
  form.Close();
  // Back on the gallery: nothing from the blocked click, the focus back.
  std::vector<Seen> below = Drain();
  for (const Seen& s : below) EXPECT_NE(s.code, EVENT::Accepted) << s;
}

TEST_F(GalleryTest, TheListsVisibleRowsFollowItsHeight) {
  ListControl* list = Get<ListControl>(kGalleryList);
  Drain();
  EXPECT_EQ(window_.Items(kGalleryList), list->Capacity());
  int before = list->Capacity();
  // The user makes the window taller; the resizer (here: the test) gives
  // the list the room.
  window_.SetPosition(kGalleryList, {214, 40, 196, 220});
  Drain();
  EXPECT_GT(list->Capacity(), before);
  EXPECT_EQ(window_.Items(kGalleryList), list->Capacity());
  window_.SetPosition(kGalleryList, {214, 40, 196, 40});
  Drain();
  EXPECT_LT(list->Capacity(), before);
  EXPECT_EQ(window_.Items(kGalleryList), list->Capacity());
}

TEST_F(GalleryTest, InvalidUtf8ShowsReplacementCharacters) {
  std::memset(data_.NAME, ' ', sizeof data_.NAME);
  std::memcpy(data_.NAME,
              "a\xFF"
              "b\xC3",
              4);
  data_.SetCode("x = \"\xFE\xFF\"\n");
  std::strcpy(data_.DESCRIPTION, "desc \x80 end");
  std::memcpy(data_.rows.record.TITLE, "\xE2\x82 broken", 9);
  ADD(&data_.rows);
  window_.Display();
  const QString bad = U("\xEF\xBF\xBD");
  EXPECT_EQ(Get<QLineEdit>(kGalleryName)->text(), "a" + bad + "b" + bad);
  EXPECT_TRUE(Get<QPlainTextEdit>(kGalleryDescription)->toPlainText().contains(bad));
  EXPECT_EQ(Get<CodeView>(kGalleryCode)->Code(), "x = \"\xEF\xBF\xBD\xEF\xBF\xBD\"\n");
  ListControl* list = Get<ListControl>(kGalleryList);
  EXPECT_TRUE(list->Model()
                  ->data(list->Model()->index(list->Model()->rowCount() - 1, 1), Qt::DisplayRole)
                  .toString()
                  .startsWith(bad));
}

TEST_F(GalleryTest, AFullCodeMemoShowsWhole) {
  std::string code;
  for (int line = 0; code.size() < kGalleryCodeSize; ++line) {
    code +=
        "int f" + std::to_string(line) + "(int x) { return x * " + std::to_string(line) + "; }\n";
  }
  code.resize(kGalleryCodeSize - 1);
  code += ";";  // no trailing blank to lose
  data_.SetCode(code);
  window_.Display();
  EXPECT_EQ(Get<CodeView>(kGalleryCode)->Code().size(), kGalleryCodeSize);
  EXPECT_EQ(Get<CodeView>(kGalleryCode)->Code(), code);
}

TEST_F(GalleryTest, TextBeyondAFieldsCapacityCannotBeTyped) {
  QLineEdit* name = Get<QLineEdit>(kGalleryName);
  name->setFocus();
  name->selectAll();
  QTest::keyClicks(name, QString(25, QLatin1Char('z')));
  EXPECT_EQ(name->text(), QString(20, QLatin1Char('z')));
  name->selectAll();
  QTest::keyClicks(name, QString(19, QLatin1Char('y')));  // one byte left
  QKeyEvent e_acute(QEvent::KeyPress, 0, Qt::NoModifier, U("\xC3\xA9"));
  QApplication::sendEvent(name, &e_acute);
  EXPECT_EQ(name->text(), QString(19, QLatin1Char('y')));
  Drain();
  ASSERT_TRUE(window_.Update(kGalleryName));
  EXPECT_EQ(data_.Name(), std::string(19, 'y'));
}

TEST_F(GalleryTest, TheTextsTakeTheirCapacityFromTheirFieldsAndStopTypingThere) {
  auto* description = Get<LimitedPlainTextEdit>(kGalleryDescription);
  CodeView* code = Get<CodeView>(kGalleryCode);
  ASSERT_NE(description, nullptr);
  ASSERT_NE(code, nullptr);
  EXPECT_EQ(description->Capacity(), 255u);  // CSTRING(256)
  EXPECT_EQ(code->Capacity(), kGalleryCodeSize);
  auto* name = Get<QLineEdit>(kGalleryName);
  EXPECT_EQ(qobject_cast<const ByteCapacityValidator*>(name->validator())->Capacity(), 20u);

  // A smaller capacity reaches the widgets; typing stops at it, a
  // two-byte character that would cross it is refused whole, with a beep.
  window_.SetTextCapacity(kGalleryDescription, 6);
  window_.SetTextCapacity(kGalleryCode, 6);
  QKeyEvent e_acute(QEvent::KeyPress, 0, Qt::NoModifier, U("\xC3\xA9"));
  // The whole text (two lines, longer than 6 bytes) is selected: typing
  // replaces it, so the selection counts as room.
  description->setFocus();
  description->selectAll();
  QTest::keyClicks(description, "abcd");
  QApplication::sendEvent(description, &e_acute);
  const int beeps = toolkit_.beeps();
  QTest::keyClicks(description, "x");
  EXPECT_EQ(description->toPlainText(), U("abcd\xC3\xA9"));
  EXPECT_EQ(toolkit_.beeps(), beeps + 1);

  window_.SetText(kGalleryCode, "");
  code->setFocus();
  QTest::keyClicks(code, "abcde");
  QApplication::sendEvent(code, &e_acute);
  EXPECT_EQ(code->Code(), "abcde");
  EXPECT_EQ(toolkit_.beeps(), beeps + 2);

  Drain();
  ASSERT_TRUE(window_.Update());
  EXPECT_STREQ(data_.DESCRIPTION, "abcd\xC3\xA9");
  EXPECT_EQ(data_.Code(), "abcde");
}

TEST_F(GalleryTest, PopupMenusReturnTheChosenItem) {
  QTimer::singleShot(50, [] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    QStringList texts;
    for (QAction* a : menu->actions()) texts << a->text();
    EXPECT_EQ(texts, (QStringList{"&Insert", "&Change", "&Delete", "", "&Sort"}));
    EXPECT_FALSE(menu->actions()[2]->isEnabled());
    menu->setActiveAction(menu->actions()[1]);
    QTest::keyClick(menu, Qt::Key_Return);
  });
  EXPECT_EQ(window_.Popup("&Insert|&Change|~&Delete|-|{&Sort|&Name|&Date}"), 2);
}

}  // namespace
}  // namespace qzr
