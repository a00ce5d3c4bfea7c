#include "ui/qt/message_box.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <thread>

#include "ui/message.h"
#include "ui/qt/qt_toolkit.h"

namespace qzr {
namespace {

// Runs `answer` on the next application-modal message box once it shows.
void WhenMessageShows(std::function<void(QMessageBox*)> answer) {
  auto* timer = new QTimer();
  QObject::connect(timer, &QTimer::timeout, [timer, answer] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    answer(box);
  });
  timer->start(5);
}

QStringList ButtonTexts(QMessageBox* box) {
  QStringList texts;
  for (QAbstractButton* b : box->buttons()) texts << b->text();
  texts.sort();
  return texts;
}

TEST(MessageBoxTest, MessageShowsItsButtonsIconAndTextAndAnswersTheClickedOne) {
  QtToolkit backend;
  ScopedBackend scope(&backend);
  QStringList seen;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString default_text;
  WhenMessageShows([&](QMessageBox* box) {
    seen = ButtonTexts(box);
    text = box->text();
    icon = box->icon();
    default_text = box->defaultButton() ? box->defaultButton()->text() : QString();
    for (QAbstractButton* b : box->buttons()) {
      if (b->text() == "&No") QTest::mouseClick(b, Qt::LeftButton);
    }
  });
  int answer = MessageBox("Changes will be lost!|<b>Sure?</b>", "Confirm", kIconExclamation,
                          kButtonYes | kButtonNo | kButtonCancel, kButtonYes);
  EXPECT_EQ(answer, kButtonNo);
  EXPECT_EQ(seen, (QStringList{"&Cancel", "&No", "&Yes"}));
  EXPECT_EQ(text, "Changes will be lost!\n<b>Sure?</b>");
  EXPECT_EQ(icon, QMessageBox::Warning);
  EXPECT_EQ(default_text, "&Yes");
}

TEST(MessageBoxTest, EscapeAndKeysAnswerAsOnTheDesktop) {
  QtToolkit backend;
  ScopedBackend scope(&backend);
  struct Case {
    int buttons, default_button;
    Qt::Key key;
    int expected;
  } cases[] = {
      {kButtonYes | kButtonNo | kButtonCancel, kButtonNo, Qt::Key_Escape, kButtonCancel},
      {kButtonOk, kButtonOk, Qt::Key_Escape, kButtonOk},
      {kButtonYes | kButtonNo, kButtonNo, Qt::Key_Return, kButtonNo},
      {kButtonAbort | kButtonRetry | kButtonIgnore, kButtonRetry, Qt::Key_Return, kButtonRetry},
  };
  for (const Case& c : cases) {
    WhenMessageShows([&](QMessageBox* box) { QTest::keyClick(box, c.key); });
    EXPECT_EQ(MessageBox("text", "caption", kIconQuestion, c.buttons, c.default_button), c.expected)
        << c.buttons << " " << c.key;
  }
}

TEST(MessageBoxTest, ABoxClosedWithoutAButtonAnswersTheDefault) {
  MessageRequest request;
  request.text = "x";
  request.buttons = kButtonYes | kButtonNo;
  request.default_button = kButtonNo;
  std::unique_ptr<QMessageBox> box(BuildMessageBox(request));
  EXPECT_EQ(AnswerOf(box.get(), request.default_button), kButtonNo);
  EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
  EXPECT_EQ(box->escapeButton(), nullptr);
}

TEST(MessageBoxTest, AMessageFromAnotherThreadShowsOnTheGuiThread) {
  QtToolkit backend;
  WhenMessageShows([&](QMessageBox* box) {
    for (QAbstractButton* b : box->buttons()) {
      if (b->text() == "&Retry") QTest::mouseClick(b, Qt::LeftButton);
    }
  });
  int answer = 0;
  bool done = false;
  std::thread worker([&] {
    MessageRequest request;
    request.text = "from a worker";
    request.buttons = kButtonRetry | kButtonCancel;
    request.default_button = kButtonCancel;
    answer = backend.ShowMessage(request);
    QMetaObject::invokeMethod(
        qApp, [&] { done = true; }, Qt::QueuedConnection);
  });
  while (!done) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  worker.join();
  EXPECT_EQ(answer, kButtonRetry);
}

TEST(MessageBoxTest, WaitCursorOverridesAndRestores) {
  QtToolkit backend;
  ScopedBackend scope(&backend);
  ASSERT_EQ(QApplication::overrideCursor(), nullptr);
  {
    WaitCursor wait;
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  MessageBeep();
  EXPECT_EQ(backend.beeps(), 1);
}

}  // namespace
}  // namespace qzr
