// UTF-8 and UTF-16 conversion shared by the runtime's text functions. All
// lengths are counts of code units; none of these functions allocates.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kplat {

constexpr char16_t kReplacementChar = 0xFFFD;

// One step of UTF-8 decoding: the code point at the start of the input and
// the number of bytes it takes. An ill-formed start gives valid = false and
// the length of its maximal invalid subsequence (at least 1), to be replaced
// by one U+FFFD.
struct Utf8Unit {
  uint32_t codePoint;
  size_t length;
  bool valid;
};
Utf8Unit DecodeUtf8(const unsigned char *src, size_t n);

// UTF-16 code units needed for n bytes of UTF-8, replacing each maximal
// invalid subsequence with U+FFFD. With strict set, ill-formed input makes
// it return false instead.
bool Utf8ToUtf16Length(const char *src, size_t n, bool strict, size_t *units);
// Writes what Utf8ToUtf16Length counted (non-strict); dst must have room for
// that many units. Returns the number written.
size_t Utf8ToUtf16(const char *src, size_t n, char16_t *dst);

// UTF-8 bytes needed for n UTF-16 code units. False for an unpaired
// surrogate (the text has no exact UTF-8 form) or a size that overflows.
bool Utf16ToUtf8Length(const char16_t *src, size_t n, size_t *bytes);
// Writes the UTF-8 form of text that Utf16ToUtf8Length accepted; dst must
// have room for the count it gave. Returns the number of bytes written.
size_t Utf16ToUtf8(const char16_t *src, size_t n, char *dst);

// Code units before the terminating NUL.
size_t Utf16Length(const char16_t *s);

}  // namespace kplat
