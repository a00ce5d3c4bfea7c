// Fonts: the faces the window definitions name, mapped to what a Linux
// desktop has, and the dialog units of window geometry turned into pixels
// through a font's metrics.
//
//   "MS Sans Serif" (and "MS Shell Dlg", "Microsoft Sans Serif", "Tahoma",
//   "Segoe UI", or no face)  -> the desktop's UI font
//   "Arial" (and "Helvetica")                 -> fontconfig's sans-serif
//   "Courier New" (and "Courier", "Consolas") -> the system's fixed font
//   any other face                            -> that family, falling back
//                                                to the UI font's metrics
//
// Dialog units: a horizontal unit is a quarter of the font's average
// character width, a vertical unit an eighth of its height, so a window laid
// out in dialog units grows with its font and looks right at any DPI.
//
// Threads: GUI thread only.

#ifndef QZR_UI_QT_FONTS_H_
#define QZR_UI_QT_FONTS_H_

#include <QFont>
#include <QRect>
#include <string_view>

namespace qzr {

// The font for `face` at `points` (0 keeps the substitute's own size).
QFont FontForFace(std::string_view face, int points = 0);

// True iff `face` maps to the fixed-pitch font.
bool IsFixedFace(std::string_view face);

// The font code is shown in: the system's fixed-width font.
QFont CodeFont();

// The base units of `font`: the average character width and the line
// height, in pixels (both at least 1).
struct DialogBase {
  int x = 1;
  int y = 1;
};
DialogBase BaseUnitsOf(const QFont& font);

// Dialog units to pixels, rounded to the nearest pixel.
int DluToPixelsX(int dlu, const DialogBase& base);
int DluToPixelsY(int dlu, const DialogBase& base);
QRect DluToPixels(const QRect& dlu, const DialogBase& base);

}  // namespace qzr

#endif  // QZR_UI_QT_FONTS_H_
