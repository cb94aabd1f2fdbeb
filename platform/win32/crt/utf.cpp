#include "utf.h"

namespace kplat {
namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Adds b to *sum unless that would wrap.
bool AddChecked(size_t *sum, size_t b) {
  if (*sum > SIZE_MAX - b) return false;
  *sum += b;
  return true;
}

}  // namespace

Utf8Unit DecodeUtf8(const unsigned char *src, size_t n) {
  const unsigned char lead = src[0];
  if (lead < 0x80) return {lead, 1, true};

  // The lead byte fixes the sequence length and the range of the second
  // byte; that range is what excludes overlongs, surrogates and values
  // above U+10FFFF. Later bytes are plain continuation bytes.
  size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  uint32_t cp;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 3;
    cp = lead & 0x0F;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 4;
    cp = lead & 0x07;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    return {kReplacementChar, 1, false};
  }

  size_t i = 1;
  for (; i < need; ++i) {
    if (i >= n) break;
    unsigned char b = src[i];
    if (b < lo || b > hi) break;
    cp = (cp << 6) | (b & 0x3F);
    lo = 0x80;
    hi = 0xBF;
  }
  if (i < need) return {kReplacementChar, i, false};
  return {cp, need, true};
}

bool Utf8ToUtf16Length(const char *src, size_t n, bool strict, size_t *units) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(src);
  size_t count = 0;
  size_t i = 0;
  while (i < n) {
    Utf8Unit u = DecodeUtf8(p + i, n - i);
    if (!u.valid && strict) return false;
    // Never more units than bytes, so count cannot wrap.
    count += u.codePoint > 0xFFFF ? 2 : 1;
    i += u.length;
  }
  *units = count;
  return true;
}

size_t Utf8ToUtf16(const char *src, size_t n, char16_t *dst) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(src);
  size_t out = 0;
  size_t i = 0;
  while (i < n) {
    Utf8Unit u = DecodeUtf8(p + i, n - i);
    if (u.codePoint > 0xFFFF) {
      uint32_t v = u.codePoint - 0x10000;
      dst[out++] = static_cast<char16_t>(0xD800 + (v >> 10));
      dst[out++] = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      dst[out++] = static_cast<char16_t>(u.codePoint);
    }
    i += u.length;
  }
  return out;
}

bool Utf16ToUtf8Length(const char16_t *src, size_t n, size_t *bytes) {
  size_t count = 0;
  for (size_t i = 0; i < n; ++i) {
    char16_t c = src[i];
    size_t add;
    if (c < 0x80) {
      add = 1;
    } else if (c < 0x800) {
      add = 2;
    } else if (IsHighSurrogate(c)) {
      if (i + 1 >= n || !IsLowSurrogate(src[i + 1])) return false;
      ++i;
      add = 4;
    } else if (IsLowSurrogate(c)) {
      return false;
    } else {
      add = 3;
    }
    if (!AddChecked(&count, add)) return false;
  }
  *bytes = count;
  return true;
}

size_t Utf16ToUtf8(const char16_t *src, size_t n, char *dst) {
  unsigned char *out = reinterpret_cast<unsigned char *>(dst);
  size_t o = 0;
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = src[i];
    if (IsHighSurrogate(src[i]) && i + 1 < n && IsLowSurrogate(src[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (src[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out[o++] = static_cast<unsigned char>(c);
    } else if (c < 0x800) {
      out[o++] = static_cast<unsigned char>(0xC0 | (c >> 6));
      out[o++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out[o++] = static_cast<unsigned char>(0xE0 | (c >> 12));
      out[o++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      out[o++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else {
      out[o++] = static_cast<unsigned char>(0xF0 | (c >> 18));
      out[o++] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
      out[o++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      out[o++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    }
  }
  return o;
}

size_t Utf16Length(const char16_t *s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

}  // namespace kplat
