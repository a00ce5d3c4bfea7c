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

// Font style bits, as the definitions give them.
inline constexpr int kFontBold = 0x2BC;  // weight 700 in the low bits
inline constexpr int kFontItalic = 0x1000;
inline constexpr int kFontUnderline = 0x2000;
inline constexpr int kFontStrikeout = 0x4000;

// The font for `face` at `points` (0 keeps the substitute's own size) with
// `style` (weight 0..999 in the low 12 bits, kFontItalic...).
QFont FontForFace(std::string_view face, int points = 0, int style = 0);

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
