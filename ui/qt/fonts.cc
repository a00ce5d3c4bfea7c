// Font substitution and dialog units.

#include "ui/qt/fonts.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QString>
#include <algorithm>
#include <cmath>

#include "runtime/core/text.h"

namespace qzr {
namespace {

enum class Family { kUi, kSans, kFixed, kNamed };

Family FamilyOf(std::string_view face) {
  face = TrimRight(face, kSpaces);
  if (face.empty()) return Family::kUi;
  for (std::string_view ui : {"MS Sans Serif", "MS Shell Dlg", "MS Shell Dlg 2",
                              "Microsoft Sans Serif", "Tahoma", "Segoe UI", "System"}) {
    if (EqualNoCase(face, ui)) return Family::kUi;
  }
  for (std::string_view sans : {"Arial", "Helvetica"}) {
    if (EqualNoCase(face, sans)) return Family::kSans;
  }
  for (std::string_view fixed :
       {"Courier New", "Courier", "Consolas", "Lucida Console", "Fixedsys"}) {
    if (EqualNoCase(face, fixed)) return Family::kFixed;
  }
  return Family::kNamed;
}

}  // namespace

QFont FontForFace(std::string_view face, int points) {
  QFont font;
  switch (FamilyOf(face)) {
    case Family::kUi:
      font = QApplication::font();
      break;
    case Family::kSans:
      // "sans-serif" is fontconfig's alias; the style hint covers platforms
      // that do not resolve the alias.
      font = QFont(QStringLiteral("sans-serif"));
      font.setStyleHint(QFont::SansSerif);
      font.setPointSizeF(QApplication::font().pointSizeF());
      break;
    case Family::kFixed:
      font = CodeFont();
      break;
    case Family::kNamed:
      font = QApplication::font();
      font.setFamilies({QString::fromUtf8(face.data(), static_cast<qsizetype>(face.size())),
                        QApplication::font().family()});
      break;
  }
  if (points > 0) font.setPointSize(points);
  return font;
}

bool IsFixedFace(std::string_view face) {
  return FamilyOf(face) == Family::kFixed;
}

QFont CodeFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  return font;
}

DialogBase BaseUnitsOf(const QFont& font) {
  QFontMetrics metrics(font);
  // The average width of the 52 Latin letters, rounded: the classic measure
  // behind dialog units.
  int width = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  DialogBase base;
  base.x = std::max(1, (width / 26 + 1) / 2);
  base.y = std::max(1, metrics.height());
  return base;
}

int DluToPixelsX(int dlu, const DialogBase& base) {
  return static_cast<int>(std::lround(static_cast<double>(dlu) * base.x / 4.0));
}

int DluToPixelsY(int dlu, const DialogBase& base) {
  return static_cast<int>(std::lround(static_cast<double>(dlu) * base.y / 8.0));
}

QRect DluToPixels(const QRect& dlu, const DialogBase& base) {
  int left = DluToPixelsX(dlu.x(), base);
  int top = DluToPixelsY(dlu.y(), base);
  // Convert the far edges too, so that adjacent controls stay adjacent after
  // rounding.
  int right = DluToPixelsX(dlu.x() + dlu.width(), base);
  int bottom = DluToPixelsY(dlu.y() + dlu.height(), base);
  return QRect(left, top, right - left, bottom - top);
}

}  // namespace qzr
