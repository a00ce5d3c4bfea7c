// In-place conversion of text between the OEM code page (437) and the ANSI
// code page (1252), for the field objects' OEM/ANSI operations.
//
// Bytes below 128 are the same in both. Above 128 each character maps to
// its counterpart in the other code page; a character the other page lacks
// maps to a best fit (an accented letter to its base letter, box drawing
// to "+", "-" or "|") or, failing that, to "?". The round trip is therefore
// lossy for characters outside the shared repertoire. Constant tables; safe
// from any thread.

#ifndef QZR_RUNTIME_UFO_CODEPAGE_H_
#define QZR_RUNTIME_UFO_CODEPAGE_H_

#include <cstddef>
#include <cstdint>

namespace qzr {

void OemToAnsiBuffer(uint8_t* text, size_t n);
void AnsiToOemBuffer(uint8_t* text, size_t n);

// The single-character forms.
uint8_t OemToAnsiChar(uint8_t c);
uint8_t AnsiToOemChar(uint8_t c);

}  // namespace qzr

#endif  // QZR_RUNTIME_UFO_CODEPAGE_H_
