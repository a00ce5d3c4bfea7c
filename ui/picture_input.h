// Input through a picture: what a control shows for a value, and whether the
// text a user typed is valid for the control's picture (and what value it
// stands for).
//
// Validity, by picture kind (a blank text is valid everywhere and stands for
// the empty value: "" for text, 0 for numbers, dates and times):
//   @S  at most the picture's width in characters;
//   @N  a number: digits with at most one decimal character, a sign ("-",
//       "+", or parentheses), and only the picture's own grouping character,
//       currency text and literals besides; no more integer digits than the
//       picture has places for;
//   @E  a number in plain or exponent form;
//   @D, @T  a date or time the picture reads (DEFORMAT gives one);
//   @P  the picture's layout with digits in its digit places, or just the
//       digits (no more than it has places);
//   @K  the picture's layout, or its input characters alone, each of the
//       class its position asks for (digit, letter, any); positions after a
//       "|" may be left out.
// Without a picture every text is valid.
//
// Pure functions; safe from any thread.

#ifndef QZR_UI_PICTURE_INPUT_H_
#define QZR_UI_PICTURE_INPUT_H_

#include <string>
#include <string_view>

#include "runtime/pictures/picture.h"

namespace qzr {

// Sets `value` to the value `text` stands for (DEFORMAT) and returns true
// when `text` is valid for `pic`; false leaves `value` alone. An invalid
// picture (width 0) takes every text as it is.
bool ParseInput(const CompiledPicture& pic, std::string_view text, std::string* value);

// The text a control shows for `value` (FORMAT): string and key-in pictures
// lose their trailing blanks, the others their blanks at both ends; without
// a picture, the value without trailing blanks.
std::string DisplayText(const CompiledPicture& pic, std::string_view value);

}  // namespace qzr

#endif  // QZR_UI_PICTURE_INPUT_H_
