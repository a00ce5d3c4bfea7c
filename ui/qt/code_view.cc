// The QScintilla code view.

#include "ui/qt/code_view.h"

#include <Qsci/qscilexerbash.h>
#include <Qsci/qscilexercpp.h>
#include <Qsci/qscilexercsharp.h>
#include <Qsci/qscilexerjava.h>
#include <Qsci/qscilexerjavascript.h>
#include <Qsci/qscilexerpython.h>
#include <Qsci/qscilexersql.h>

#include <QFontMetrics>
#include <QSignalBlocker>
#include <QString>
#include <algorithm>
#include <string_view>

#include "runtime/core/utf8.h"
#include "ui/message.h"
#include "ui/qt/fonts.h"

namespace qzr {
namespace {

// Valid UTF-8 for `bytes`: invalid sequences become U+FFFD, NULs stay.
QByteArray ValidUtf8(std::string_view bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())).toUtf8();
}

QsciLexer* MakeLexer(CodeLanguage language, QObject* parent) {
  switch (language) {
    case CodeLanguage::kCpp:
      return new QsciLexerCPP(parent);
    case CodeLanguage::kPython:
      return new QsciLexerPython(parent);
    case CodeLanguage::kJavaScript:
      return new QsciLexerJavaScript(parent);
    case CodeLanguage::kJava:
      return new QsciLexerJava(parent);
    case CodeLanguage::kCSharp:
      return new QsciLexerCSharp(parent);
    case CodeLanguage::kSql:
      return new QsciLexerSQL(parent);
    case CodeLanguage::kShell:
      return new QsciLexerBash(parent);
    case CodeLanguage::kPlainText:
      return nullptr;
  }
  return nullptr;
}

}  // namespace

CodeView::CodeView(QWidget* parent) : QsciScintilla(parent) {
  setUtf8(true);
  QFont font = CodeFont();
  setFont(font);
  setMarginsFont(font);
  setMarginLineNumbers(0, true);
  setMarginType(0, QsciScintilla::NumberMargin);
  setFolding(QsciScintilla::BoxedTreeFoldStyle, 2);
  setBraceMatching(QsciScintilla::SloppyBraceMatch);
  setIndentationsUseTabs(false);
  setTabWidth(4);
  setWrapMode(QsciScintilla::WrapNone);
  setEolMode(QsciScintilla::EolUnix);
  // The horizontal scroll bar follows the longest line shown, not a fixed
  // guess of 2000 pixels.
  SendScintilla(SCI_SETSCROLLWIDTHTRACKING, 1L);
  SendScintilla(SCI_SETSCROLLWIDTH, 1L);
  // Ask Scintilla to offer each insertion for checking, for the capacity.
  long mask = SendScintilla(SCI_GETMODEVENTMASK);
  SendScintilla(SCI_SETMODEVENTMASK, static_cast<unsigned long>(mask | SC_MOD_INSERTCHECK));
  connect(this, &QsciScintillaBase::SCN_MODIFIED, this,
          [this](int position, int type, const char* text, int length, int, int, int, int, int,
                 int) { OnModified(position, type, text, length); });
  connect(this, &QsciScintilla::linesChanged, this, [this] { FitLineNumbers(); });
  FitLineNumbers();
}

void CodeView::UseLanguage(CodeLanguage language) {
  if (language == language_ && (lexer() != nullptr) == (language != CodeLanguage::kPlainText)) {
    return;
  }
  QsciLexer* old = lexer();
  QsciLexer* fresh = MakeLexer(language, this);
  if (fresh != nullptr) {
    QFont font = CodeFont();
    fresh->setDefaultFont(font);
    fresh->setFont(font, -1);  // every style
  }
  setLexer(fresh);
  if (fresh == nullptr) setFont(CodeFont());
  delete old;
  language_ = language;
  // setLexer resets the margin font and the folding style.
  setMarginsFont(CodeFont());
  setFolding(QsciScintilla::BoxedTreeFoldStyle, 2);
  number_digits_ = 0;
  FitLineNumbers();
}

void CodeView::SetCode(std::string_view utf8) {
  if (!isModified() && utf8 == last_set_ && has_set_) return;
  QSignalBlocker blocker(this);
  setting_ = true;
  UseLanguage(GuessCodeLanguage(utf8));
  bool was_read_only = isReadOnly();
  setReadOnly(false);
  SendScintilla(SCI_CLEARALL);
  QByteArray bytes = ValidUtf8(utf8);
  // Appended with its length, so NUL bytes do not cut the text short.
  SendScintilla(SCI_APPENDTEXT, static_cast<unsigned long>(bytes.size()), bytes.constData());
  SendScintilla(SCI_EMPTYUNDOBUFFER);
  SendScintilla(SCI_GOTOPOS, 0L);
  setReadOnly(was_read_only);
  setModified(false);
  setting_ = false;
  last_set_.assign(utf8);
  has_set_ = true;
  FitLineNumbers();
}

std::string CodeView::Code() const {
  auto* self = const_cast<CodeView*>(this);
  long size = self->SendScintilla(SCI_GETLENGTH);
  std::string out(static_cast<size_t>(size) + 1, '\0');
  self->SendScintilla(SCI_GETTEXT, static_cast<unsigned long>(size + 1), out.data());
  out.resize(static_cast<size_t>(size));
  return out;
}

void CodeView::FitLineNumbers() {
  int digits = 1;
  for (int n = std::max(1, lines()); n >= 10; n /= 10) ++digits;
  digits = std::max(digits, 3);
  if (digits == number_digits_) return;
  number_digits_ = digits;
  QFontMetrics metrics(CodeFont());
  setMarginWidth(0, metrics.horizontalAdvance(QString(digits + 1, QLatin1Char('9'))));
}

void CodeView::OnModified(int position, int type, const char* text, int length) {
  // Scintilla offers each insertion before it happens (without its text, as
  // QScintilla forwards it): one that does not fit whole is refused. Pastes
  // and drops arrive cut to fit already (fromMimeData), so this refuses
  // typed characters and anything else that would overflow.
  if (!(type & SC_MOD_INSERTCHECK) || setting_ || capacity_ == 0) return;
  size_t have = static_cast<size_t>(SendScintilla(SCI_GETLENGTH));
  if (have + static_cast<size_t>(length) <= capacity_) return;
  SendScintilla(SCI_CHANGEINSERTION, 0UL, "");
  MessageBeep(kBeepStandard);
}

QByteArray CodeView::fromMimeData(const QMimeData* source, bool& rectangular) const {
  QByteArray bytes = QsciScintilla::fromMimeData(source, rectangular);
  if (capacity_ == 0 || rectangular) return bytes;
  auto* self = const_cast<CodeView*>(this);
  size_t have = static_cast<size_t>(self->SendScintilla(SCI_GETLENGTH));
  // The selection is replaced by the paste, so its bytes are room too.
  size_t selected = static_cast<size_t>(self->SendScintilla(SCI_GETSELECTIONEND) -
                                        self->SendScintilla(SCI_GETSELECTIONSTART));
  size_t room = have - selected >= capacity_ ? 0 : capacity_ - (have - selected);
  if (static_cast<size_t>(bytes.size()) > room) {
    const std::string_view text(bytes.constData(), static_cast<size_t>(bytes.size()));
    bytes.truncate(static_cast<qsizetype>(Utf8Cut(text, room).size()));
    MessageBeep(kBeepStandard);
  }
  return bytes;
}

}  // namespace qzr
