#include "ui/qt/code_view.h"

#include <Qsci/qscilexerpython.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>
#include <string>

namespace qzr {
namespace {

TEST(CodeViewTest, RoundTripsUtf8AndKeepsNulBytes) {
  CodeView view;
  std::string code = "s = \"gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9D\x84\x9E\"\n";
  code += std::string("a\0b", 3);
  view.SetCode(code);
  EXPECT_EQ(view.Code(), code);
}

TEST(CodeViewTest, InvalidUtf8ShowsReplacementCharacters) {
  CodeView view;
  view.SetCode(
      "a\xFF"
      "b\xC3");
  EXPECT_EQ(view.Code(),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
}

TEST(CodeViewTest, AWholeMemoShows) {
  // 64,000 bytes of code in 80-byte lines, larger than any capacity set.
  std::string code;
  while (code.size() < 64000) code += std::string(79, 'x') + "\n";
  code.resize(64000);
  CodeView view;
  view.SetCapacity(100);
  view.SetCode(code);
  EXPECT_EQ(view.Code().size(), 64000u);
  EXPECT_EQ(view.Code(), code);
  EXPECT_EQ(view.lines(), 801);
}

TEST(CodeViewTest, HighlighterFollowsTheCode) {
  CodeView view;
  view.SetCode("def f(x):\n    return x\n");
  EXPECT_EQ(view.Language(), CodeLanguage::kPython);
  EXPECT_NE(qobject_cast<QsciLexerPython*>(view.lexer()), nullptr);
  view.SetCode("just words\n");
  EXPECT_EQ(view.Language(), CodeLanguage::kPlainText);
  EXPECT_EQ(view.lexer(), nullptr);
  EXPECT_TRUE(view.isUtf8());
  EXPECT_EQ(view.braceMatching(), QsciScintilla::SloppyBraceMatch);
}

TEST(CodeViewTest, ProgramChangesRaiseNoSignals) {
  CodeView view;
  QSignalSpy changed(&view, &QsciScintilla::textChanged);
  view.SetCode("int x;\n");
  EXPECT_EQ(changed.count(), 0);
  EXPECT_FALSE(view.isModified());
  // Typing does.
  view.show();
  view.setFocus();
  QTest::keyClicks(&view, "y");
  EXPECT_GE(changed.count(), 1);
  EXPECT_TRUE(view.isModified());
}

TEST(CodeViewTest, TextBeyondTheCapacityCannotBeTyped) {
  CodeView view;
  view.SetCapacity(10);
  view.SetCode("12345678");
  view.show();
  view.setFocus();
  view.SendScintilla(QsciScintillaBase::SCI_DOCUMENTEND);
  QTest::keyClicks(&view, "abc");
  EXPECT_EQ(view.Code(), "12345678ab");
  // A two-byte character does not fit in the last byte, nor does a paste.
  view.SetCode("123456789");
  view.SendScintilla(QsciScintillaBase::SCI_DOCUMENTEND);
  QKeyEvent e_acute(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8("\xC3\xA9"));
  QApplication::sendEvent(&view, &e_acute);
  EXPECT_EQ(view.Code(), "123456789");
  view.SetCode("123");
  view.SendScintilla(QsciScintillaBase::SCI_DOCUMENTEND);
  QApplication::clipboard()->setText(QString::fromUtf8("\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"));
  view.paste();
  EXPECT_EQ(view.Code(), "123\xE2\x82\xAC\xE2\x82\xAC");  // 9 bytes: a third euro would not fit
}

TEST(CodeViewTest, ReadOnlyRefusesTyping) {
  CodeView view;
  view.SetCode("fixed");
  view.setReadOnly(true);
  view.show();
  view.setFocus();
  QTest::keyClicks(&view, "zz");
  EXPECT_EQ(view.Code(), "fixed");
  // The program can still set it.
  view.SetCode("other");
  EXPECT_EQ(view.Code(), "other");
  EXPECT_TRUE(view.isReadOnly());
}

}  // namespace
}  // namespace qzr
