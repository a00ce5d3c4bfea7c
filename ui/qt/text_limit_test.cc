#include "ui/qt/text_limit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QTest>

namespace qzr {
namespace {

QString U(const char* utf8) {
  return QString::fromUtf8(utf8);
}

// Types `text` one character (code point) at a time, as keys with text.
void TypeInto(QWidget* w, const QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    qsizetype n = text.at(i).isHighSurrogate() ? 2 : 1;
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text.mid(i, n));
    QApplication::sendEvent(w, &press);
    i += n - 1;
  }
}

TEST(TextLimitTest, CountsAndCutsAtCharacterBoundaries) {
  struct Case {
    const char* text;
    size_t bytes;
    size_t fit_in;
    const char* fits;
  } cases[] = {
      {"", 0, 3, ""},
      {"abc", 3, 2, "ab"},
      {"\xC3\xA9\xC3\xA9", 4, 3, "\xC3\xA9"},  // é é
      {"\xE2\x82\xAC"
       "a",
       4, 2, ""},  // € a
      {"a\xF0\x9D\x84\x9E"
       "b",
       6, 4, "a"},  // a 𝄞 b: the pair stays whole
      {"a\xF0\x9D\x84\x9E"
       "b",
       6, 5, "a\xF0\x9D\x84\x9E"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8Bytes(U(c.text)), c.bytes) << c.text;
    EXPECT_EQ(FitUtf8(U(c.text), c.fit_in), U(c.fits)) << c.text;
  }
}

TEST(TextLimitTest, LineEditTakesOnlyWhatFitsInBytes) {
  QLineEdit edit;
  auto* validator = new ByteCapacityValidator(5, &edit);
  edit.setValidator(validator);
  edit.show();
  validator->SetProgramText(&edit, "abc");
  edit.end(false);
  TypeInto(&edit, U("d\xC3\xA9"
                    "f"
                    "g"));  // é is two bytes: refused with one left
  EXPECT_EQ(edit.text(), "abcdf");
  // A paste is cut to fit, at a character boundary.
  validator->SetProgramText(&edit, "ab");
  edit.end(false);
  QApplication::clipboard()->setText(U("\xE2\x82\xAC\xE2\x82\xAC"));
  edit.paste();
  EXPECT_EQ(edit.text(), U("ab\xE2\x82\xAC"));
  // Typing in the middle of a full field inserts nothing and keeps the tail.
  edit.setCursorPosition(1);
  TypeInto(&edit, "x");
  EXPECT_EQ(edit.text(), U("ab\xE2\x82\xAC"));
  // Replacing a selection frees its bytes.
  edit.setSelection(0, 2);
  TypeInto(&edit, "xy");
  EXPECT_EQ(edit.text(), U("xy\xE2\x82\xAC"));
  // The program's own text shows whole, even beyond the capacity.
  validator->SetProgramText(&edit, "abcdefgh");
  EXPECT_EQ(edit.text(), "abcdefgh");
  edit.end(false);
  TypeInto(&edit, "i");
  EXPECT_EQ(edit.text(), "abcdefgh");
  QTest::keyClick(&edit, Qt::Key_Backspace);
  EXPECT_EQ(edit.text(), "abcdefg");
}

TEST(TextLimitTest, PlainTextEditTakesOnlyWhatFitsInBytes) {
  LimitedPlainTextEdit edit;
  edit.SetCapacity(6);
  edit.show();
  edit.setPlainText("ab");
  edit.moveCursor(QTextCursor::End);
  TypeInto(&edit, U("c\xE2\x82\xAC"
                    "d"));  // c € then d would make 7
  EXPECT_EQ(edit.toPlainText(), U("abc\xE2\x82\xAC"));
  edit.setPlainText("a");
  edit.moveCursor(QTextCursor::End);
  QTest::keyClick(&edit, Qt::Key_Return);
  QApplication::clipboard()->setText(U("\xC3\xA9\xC3\xA9\xC3\xA9"));
  edit.paste();
  EXPECT_EQ(edit.toPlainText(), U("a\n\xC3\xA9\xC3\xA9"));
  // The program's text is not limited.
  edit.setPlainText(QString(100, QLatin1Char('z')));
  EXPECT_EQ(edit.toPlainText().size(), 100);
}

}  // namespace
}  // namespace qzr
