// UTF-8 helpers: character counts, prefixes and cuts at a character
// boundary, decoding and validation. Part of the text helpers (text.h,
// which includes this header; both are defined in text.cc), kept apart so
// that headers needing only these do not bring the short general names of
// text.h (Trim, Upper, ...) into every file that includes them.
//
// Every function takes any bytes: a malformed sequence counts as one
// character and is never split further.
//
// Threads: plain functions over the caller's data.

#ifndef QZR_RUNTIME_UTF8_H_
#define QZR_RUNTIME_UTF8_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qzr {

// The number of bytes the first `chars` characters of `text` take (all of
// it when it has fewer). A truncated or malformed sequence ends at the
// first byte that is not a continuation byte.
size_t Utf8Prefix(std::string_view text, size_t chars);

// The number of characters in `text`, counted as Utf8Prefix steps.
size_t Utf8Length(std::string_view text);

// The longest prefix of `text` of at most `max_bytes` bytes that does not
// end inside a UTF-8 sequence. The cut steps back over at most three
// continuation bytes (the most a sequence has), so a long run of stray ones
// in malformed text does not cut it short.
std::string_view Utf8Cut(std::string_view text, size_t max_bytes);

// Decodes the UTF-8 sequence at the start of `text`: its length, with the
// code point in *cp; 0 when the bytes there are not a well-formed sequence
// (or `text` is empty).
size_t DecodeUtf8(std::string_view text, uint32_t* cp);

// The offset of the first byte of `text` that does not begin a well-formed
// UTF-8 sequence (overlong forms, surrogates and values past U+10FFFF are
// not well formed); npos when the whole text is valid UTF-8.
size_t InvalidUtf8At(std::string_view text);

// Appends the UTF-8 form of the code point `cp` (REQUIRES: cp <= 0x10FFFF).
void AppendUtf8(uint32_t cp, std::string* out);

}  // namespace qzr

#endif  // QZR_RUNTIME_UTF8_H_
