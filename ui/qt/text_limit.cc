// Byte capacities for line edits and plain-text edits.

#include "ui/qt/text_limit.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextCursor>
#include <algorithm>

#include "ui/message.h"

namespace qzr {
namespace {

// The UTF-8 length of the code point starting at text[i], and the UTF-16
// units it takes. A lone surrogate is written as U+FFFD: 3 bytes.
void CodePointAt(const QString& text, qsizetype i, size_t* bytes, qsizetype* units) {
  char16_t c = text.at(i).unicode();
  *units = 1;
  if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
      QChar::isLowSurrogate(text.at(i + 1).unicode())) {
    *bytes = 4;
    *units = 2;
  } else if (c < 0x80) {
    *bytes = 1;
  } else if (c < 0x800) {
    *bytes = 2;
  } else {
    *bytes = 3;
  }
}

}  // namespace

size_t Utf8Bytes(const QString& text) {
  size_t total = 0;
  for (qsizetype i = 0; i < text.size();) {
    size_t bytes;
    qsizetype units;
    CodePointAt(text, i, &bytes, &units);
    total += bytes;
    i += units;
  }
  return total;
}

QString FitUtf8(const QString& text, size_t bytes) {
  size_t used = 0;
  qsizetype i = 0;
  while (i < text.size()) {
    size_t need;
    qsizetype units;
    CodePointAt(text, i, &need, &units);
    if (used + need > bytes) break;
    used += need;
    i += units;
  }
  return text.left(i);
}

// ---------------------------------------------------------------------------
// ByteCapacityValidator

void ByteCapacityValidator::SetProgramText(QLineEdit* edit, const QString& text) {
  program_ = true;
  edit->setText(text);
  program_ = false;
  accepted_ = edit->text();
}

QValidator::State ByteCapacityValidator::validate(QString& input, int& pos) const {
  if (upper_ && !program_) input = input.toUpper();
  if (program_ || capacity_ == 0 || Utf8Bytes(input) <= capacity_) {
    accepted_ = input;
    return Acceptable;
  }
  // What the edit inserted: the middle that differs from the accepted text.
  const QString& old = accepted_;
  qsizetype prefix = 0;
  while (prefix < old.size() && prefix < input.size() && old[prefix] == input[prefix]) ++prefix;
  qsizetype suffix = 0;
  while (suffix < old.size() - prefix && suffix < input.size() - prefix &&
         old[old.size() - 1 - suffix] == input[input.size() - 1 - suffix]) {
    ++suffix;
  }
  // Keep a surrogate pair whole on both sides of the cut.
  if (prefix > 0 && prefix < input.size() && input[prefix].isLowSurrogate()) --prefix;
  if (suffix > 0 && input.size() - suffix > 0 && input[input.size() - suffix].isLowSurrogate()) {
    --suffix;
  }
  QString inserted = input.mid(prefix, input.size() - prefix - suffix);
  size_t base = Utf8Bytes(input.left(prefix)) + Utf8Bytes(input.right(suffix));
  size_t room = base >= capacity_ ? 0 : capacity_ - base;
  QString fit = FitUtf8(inserted, room);
  MessageBeep(kBeepStandard);
  QString result = input.left(prefix) + fit + input.right(suffix);
  if (result == old) return Invalid;  // nothing fits: the edit is refused
  input = result;
  pos = static_cast<int>(prefix + fit.size());
  accepted_ = input;
  return Acceptable;
}

// ---------------------------------------------------------------------------
// LimitedPlainTextEdit

size_t LimitedPlainTextEdit::Room() const {
  // selectedText() writes each line break as U+2029 (three bytes), where
  // the text holds "\n" (one byte): count the selection as the text has it.
  QString selected = textCursor().selectedText();
  selected.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  selected.replace(QChar::LineSeparator, QLatin1Char('\n'));
  const size_t total = Utf8Bytes(toPlainText());
  const size_t cut = std::min(total, Utf8Bytes(selected));
  const size_t base = total - cut;
  return base >= capacity_ ? 0 : capacity_ - base;
}

void LimitedPlainTextEdit::keyPressEvent(QKeyEvent* event) {
  QString text = event->text();
  bool inserts = !text.isEmpty() && (text.at(0).isPrint() || text == QLatin1String("\r") ||
                                     text == QLatin1String("\t"));
  if (capacity_ > 0 && inserts && !isReadOnly() && !event->matches(QKeySequence::Paste) &&
      !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
    // Enter inserts one byte ("\n").
    size_t need = text == QLatin1String("\r") ? 1 : Utf8Bytes(text);
    if (need > Room()) {
      MessageBeep(kBeepStandard);
      event->accept();
      return;
    }
  }
  QPlainTextEdit::keyPressEvent(event);
}

void LimitedPlainTextEdit::inputMethodEvent(QInputMethodEvent* event) {
  if (capacity_ > 0 && !event->commitString().isEmpty()) {
    size_t room = Room();
    if (Utf8Bytes(event->commitString()) > room) {
      QInputMethodEvent cut(event->preeditString(), event->attributes());
      cut.setCommitString(FitUtf8(event->commitString(), room), event->replacementStart(),
                          event->replacementLength());
      MessageBeep(kBeepStandard);
      QPlainTextEdit::inputMethodEvent(&cut);
      return;
    }
  }
  QPlainTextEdit::inputMethodEvent(event);
}

void LimitedPlainTextEdit::insertFromMimeData(const QMimeData* source) {
  if (capacity_ == 0 || source == nullptr || !source->hasText()) {
    QPlainTextEdit::insertFromMimeData(source);
    return;
  }
  QString text = source->text();
  size_t room = Room();
  if (Utf8Bytes(text) > room) {
    text = FitUtf8(text, room);
    MessageBeep(kBeepStandard);
  }
  if (!text.isEmpty()) textCursor().insertText(text);
}

}  // namespace qzr
