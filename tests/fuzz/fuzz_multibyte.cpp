// MultiByteToWideChar on arbitrary bytes: lenient and strict, measured and
// written, with a buffer of every size around the result, against a plain
// decoder that replaces each maximal invalid subpart with U+FFFD.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

// Decodes UTF-8; false when anything was invalid (out then holds the
// replaced text).
bool Decode(const uint8_t *s, size_t n, std::u16string *out) {
  bool valid = true;
  size_t i = 0;
  while (i < n) {
    const uint8_t b = s[i];
    int need = 0;
    uint32_t cp = 0;
    uint8_t lo = 0x80, hi = 0xBF;  // the second byte's range
    if (b < 0x80) {
      *out += char16_t(b);
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      need = 1, cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2, cp = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3, cp = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      *out += u'\uFFFD';
      valid = false;
      ++i;
      continue;
    }
    size_t j = i + 1;
    int got = 0;
    for (; got < need && j < n; ++got, ++j) {
      const uint8_t c = s[j];
      const uint8_t l = got == 0 ? lo : 0x80, h = got == 0 ? hi : 0xBF;
      if (c < l || c > h) break;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (got < need) {
      *out += u'\uFFFD';
      valid = false;
      i = j;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      *out += char16_t(0xD800 + (cp >> 10));
      *out += char16_t(0xDC00 + (cp & 0x3FF));
    } else {
      *out += char16_t(cp);
    }
    i = j;
  }
  return valid;
}

// One call pattern: measure, then write into buffers one short, exact and
// one long, with guards around them.
void Run(const char *bytes, int count, DWORD flags, const std::u16string &want,
         bool refused) {
  SetLastError(0);
  const int measured =
      MultiByteToWideChar(CP_ACP, flags, bytes, count, NULL, 0);
  if (refused) {
    if (measured != 0 || GetLastError() != ERROR_NO_UNICODE_TRANSLATION)
      abort();
    return;
  }
  if (measured != int(want.size())) abort();
  for (int size = measured > 0 ? measured - 1 : 0; size <= measured + 1;
       ++size) {
    if (size == 0) continue;
    std::vector<char16_t> buf(size_t(size) + 2, u'\uABCD');
    SetLastError(0);
    const int r =
        MultiByteToWideChar(CP_ACP, flags, bytes, count, &buf[1], size);
    if (buf[0] != u'\uABCD' || buf[size_t(size) + 1] != u'\uABCD') abort();
    if (size < measured) {
      if (r != 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER) abort();
    } else if (r != measured ||
               memcmp(&buf[1], want.data(), want.size() * 2) != 0) {
      abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  std::u16string want;
  const bool valid = Decode(data, size, &want);
  // An explicit length: every byte, NULs included.
  const char *bytes = reinterpret_cast<const char *>(data);
  Run(bytes, int(size), 0, want, false);
  Run(bytes, int(size), MB_ERR_INVALID_CHARS, want, !valid);
  // NUL-terminated: up to the first NUL, which is counted.
  const std::string text(bytes, strnlen(bytes, size));
  std::u16string wantText;
  const bool validText = Decode(reinterpret_cast<const uint8_t *>(text.data()),
                                text.size(), &wantText);
  wantText += u'\0';
  Run(text.c_str(), -1, 0, wantText, false);
  Run(text.c_str(), -1, MB_ERR_INVALID_CHARS, wantText, !validText);
  return 0;
}
