// The code view: a QScintilla editor for a memo of source code, in UTF-8
// mode with line numbers, a fixed-width font, brace matching, folding, and a
// highlighter picked from the code's content (ui/code_language.h).
//
// The program's text goes in and out as UTF-8 bytes. Bytes that are not
// valid UTF-8 show as replacement characters (the view never fails on
// them); NUL bytes are kept. A capacity, when set, is counted in UTF-8
// bytes: a typed character that does not fit is refused, and a paste or a
// drop inserts only what fits, cut back to a character boundary, so the
// memo's field can always hold the text.
// Setting the text from the program is not limited (what is stored is
// shown whole) and raises no change signals.
//
// Threads: GUI thread only.

#ifndef QZR_UI_QT_CODE_VIEW_H_
#define QZR_UI_QT_CODE_VIEW_H_

#include <Qsci/qsciscintilla.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "ui/code_language.h"

namespace qzr {

class CodeView : public QsciScintilla {
  Q_OBJECT

 public:
  explicit CodeView(QWidget* parent = nullptr);

  // Shows `utf8` (the highlighter follows its language). Skipped when the
  // text equals what the program set last and the user has not edited it
  // since, so redisplaying a record does not re-send a large memo.
  void SetCode(std::string_view utf8);
  // The text as UTF-8 bytes.
  std::string Code() const;

  // 0: no limit.
  void SetCapacity(size_t bytes) { capacity_ = bytes; }
  size_t Capacity() const { return capacity_; }

  CodeLanguage Language() const { return language_; }

 protected:
  QByteArray fromMimeData(const QMimeData* source, bool& rectangular) const override;

 private:
  void UseLanguage(CodeLanguage language);
  void FitLineNumbers();
  void OnModified(int position, int type, const char* text, int length);

  CodeLanguage language_ = CodeLanguage::kPlainText;
  size_t capacity_ = 0;
  bool setting_ = false;  // the program is setting the text
  std::string last_set_;
  bool has_set_ = false;
  int number_digits_ = 0;
};

}  // namespace qzr

#endif  // QZR_UI_QT_CODE_VIEW_H_
