// Capacities counted in UTF-8 bytes for the Qt text widgets.
//
// The program's fields hold bytes, and a widget counts UTF-16 units, so a
// widget's own maxLength would let "é" (one unit, two bytes) overflow a
// field. These helpers count the UTF-8 bytes the text would have:
//
//   ByteCapacityValidator  for a QLineEdit: an edit that would overflow
//                          keeps only the inserted characters that fit
//                          (typing past the end inserts nothing, a paste
//                          is cut at a character boundary) and beeps;
//   LimitedPlainTextEdit   a QPlainTextEdit with the same rule for typing,
//                          input methods, pastes and drops.
//
// Text set by the program is not limited: what is stored is shown whole.
// Capacity 0 means unlimited.
//
// Threads: GUI thread only.

#ifndef QZR_UI_QT_TEXT_LIMIT_H_
#define QZR_UI_QT_TEXT_LIMIT_H_

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QString>
#include <QValidator>
#include <cstddef>

namespace qzr {

// The UTF-8 byte count of `text`.
size_t Utf8Bytes(const QString& text);

// The longest prefix of `text` whose UTF-8 form fits in `bytes`, never
// splitting a character (a surrogate pair or a combining sequence's
// code points are whole code points; a base and its marks may be split).
QString FitUtf8(const QString& text, size_t bytes);

class ByteCapacityValidator : public QValidator {
  Q_OBJECT

 public:
  ByteCapacityValidator(size_t capacity, QObject* parent)
      : QValidator(parent), capacity_(capacity) {}

  void SetCapacity(size_t capacity) { capacity_ = capacity; }
  size_t Capacity() const { return capacity_; }

  // Typed letters become upper case.
  void SetUpperCase(bool upper) { upper_ = upper; }

  // Sets `edit`'s text as the program's: accepted whole, no beep.
  void SetProgramText(QLineEdit* edit, const QString& text);

  // Compares the edited text with the last accepted one to find what the
  // edit inserted, and keeps of that only what fits.
  State validate(QString& input, int& pos) const override;

 private:
  size_t capacity_;
  bool program_ = false;
  bool upper_ = false;
  mutable QString accepted_;  // the text as last accepted
};

class LimitedPlainTextEdit : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit LimitedPlainTextEdit(QWidget* parent = nullptr) : QPlainTextEdit(parent) {}

  void SetCapacity(size_t capacity) { capacity_ = capacity; }
  size_t Capacity() const { return capacity_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;

 private:
  // Bytes free once the selection is replaced.
  size_t Room() const;

  size_t capacity_ = 0;
};

}  // namespace qzr

#endif  // QZR_UI_QT_TEXT_LIMIT_H_
