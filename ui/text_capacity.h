// How many bytes a text control takes: the capacity the user may type up
// to, counted in bytes of UTF-8 (a toolkit cuts input at a character
// boundary, Utf8Cut of runtime/utf8.h).
//
// A control bound to a string variable holds what the variable holds (a
// STRING its length, a CSTRING or PSTRING one byte less, a memo its
// declared size). A control bound to no string takes the count of its
// string picture ("@s20": 20 bytes). Other pictures give no capacity: what
// does not fit them is rejected when the entry is accepted. 0 means no
// limit.
//
// Pure functions; safe from any thread.

#ifndef QZR_UI_TEXT_CAPACITY_H_
#define QZR_UI_TEXT_CAPACITY_H_

#include <cstddef>
#include <string_view>

namespace qzr {

class UFO;

// The count of a string picture ("@s20" or "s20": 20); 0 for any other
// picture, or none.
size_t PictureCapacity(std::string_view picture);

// The bytes of text `value` can hold; 0 when it is not a string stored as
// bytes (numbers, dates, OLE strings).
size_t FieldCapacity(const UFO& value);

// The capacity of a text control with `picture`, bound to `value` (nullptr:
// unbound), as the file comment gives it.
size_t ControlCapacity(std::string_view picture, const UFO* value);

}  // namespace qzr

#endif  // QZR_UI_TEXT_CAPACITY_H_
