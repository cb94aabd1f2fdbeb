// CString::Format. The format is run twice over the same arguments: once to
// measure, once to write into a block of exactly that size, so no result is
// ever cut. Conversions the string does not know, %n among them, are copied
// as text and take no argument; argument text is only ever copied.
#include <stdarg.h>
#include <stdlib.h>

#include "afxstr.h"
#include "string_storage.h"

namespace {

// Collects the output, or only counts it when out is NULL. Stops at cap
// units and remembers that it had to.
struct Sink {
  WCHAR *out;
  size_t cap;
  size_t len;
  bool overflow;

  void Fill(WCHAR c, size_t n) {
    if (n > cap - len) {
      overflow = true;
      return;
    }
    if (out != nullptr) {
      for (size_t i = 0; i < n; ++i) out[len + i] = c;
    }
    len += n;
  }
  void Text(const WCHAR *s, size_t n) {
    if (n > cap - len) {
      overflow = true;
      return;
    }
    if (out != nullptr) {
      for (size_t i = 0; i < n; ++i) out[len + i] = s[i];
    }
    len += n;
  }
};

struct Field {
  bool left;
  bool zero;
  size_t width;
  bool hasPrecision;
  size_t precision;
};

// Widths and precisions beyond this cannot fit any result; keeping them
// bounded keeps the arithmetic from wrapping.
constexpr size_t kNumberCap = static_cast<size_t>(INT_MAX) + 1;

bool IsDigit(WCHAR c) { return c >= u'0' && c <= u'9'; }

size_t ReadNumber(const WCHAR **pp) {
  size_t v = 0;
  const WCHAR *p = *pp;
  while (IsDigit(*p)) {
    // Checked before it can wrap: size_t is 32 bits on some targets.
    size_t next;
    if (__builtin_mul_overflow(v, size_t{10}, &next) ||
        __builtin_add_overflow(next, static_cast<size_t>(*p - u'0'), &next) ||
        next > kNumberCap)
      next = kNumberCap;
    v = next;
    ++p;
  }
  *pp = p;
  return v;
}

// Writes body (sign first, if any) padded to the field's width.
void Padded(Sink *sink, const Field &field, const WCHAR *sign, size_t signLen,
            const WCHAR *body, size_t bodyLen, bool zeroPads) {
  size_t used = signLen + bodyLen;
  size_t pad = field.width > used ? field.width - used : 0;
  if (field.left) {
    sink->Text(sign, signLen);
    sink->Text(body, bodyLen);
    sink->Fill(u' ', pad);
  } else if (field.zero && zeroPads) {
    sink->Text(sign, signLen);
    sink->Fill(u'0', pad);
    sink->Text(body, bodyLen);
  } else {
    sink->Fill(u' ', pad);
    sink->Text(sign, signLen);
    sink->Text(body, bodyLen);
  }
}

void Number(Sink *sink, const Field &field, unsigned value, bool negative,
            unsigned base, bool upper) {
  const char *digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  WCHAR buf[32];
  size_t n = 0;
  do {
    buf[sizeof buf / sizeof buf[0] - 1 - n++] = digits[value % base];
    value /= base;
  } while (value != 0);
  const WCHAR minus = u'-';
  Padded(sink, field, &minus, negative ? 1 : 0,
         buf + sizeof buf / sizeof buf[0] - n, n, true);
}

void WideText(Sink *sink, const Field &field, const WCHAR *s) {
  static const WCHAR kNull[] = u"(null)";
  if (s == nullptr) s = kNull;
  // With a precision, read no further than it: the text need not end.
  size_t n = 0;
  while ((!field.hasPrecision || n < field.precision) && s[n] != 0) ++n;
  Padded(sink, field, nullptr, 0, s, n, false);
}

void Run(const WCHAR *format, va_list args, Sink *sink) {
  const WCHAR *p = format;
  while (*p != 0 && !sink->overflow) {
    if (*p != u'%') {
      const WCHAR *run = p;
      while (*p != 0 && *p != u'%') ++p;
      sink->Text(run, static_cast<size_t>(p - run));
      continue;
    }
    const WCHAR *start = p++;
    if (*p == u'%') {
      sink->Text(p, 1);
      ++p;
      continue;
    }
    Field field = {false, false, 0, false, 0};
    for (;; ++p) {
      if (*p == u'-') {
        field.left = true;
      } else if (*p == u'0') {
        field.zero = true;
      } else {
        break;
      }
    }
    field.width = ReadNumber(&p);
    if (*p == u'.') {
      ++p;
      field.hasPrecision = true;
      field.precision = ReadNumber(&p);
    }
    const WCHAR conv = *p;
    const bool numeric = conv == u'd' || conv == u'i' || conv == u'u' ||
                         conv == u'x' || conv == u'X' || conv == u'c';
    if (conv == u's') {
      WideText(sink, field, va_arg(args, const WCHAR *));
    } else if (numeric && !field.hasPrecision) {
      if (conv == u'c') {
        WCHAR c = static_cast<WCHAR>(va_arg(args, int));
        Padded(sink, field, nullptr, 0, &c, 1, false);
      } else if (conv == u'd' || conv == u'i') {
        int v = va_arg(args, int);
        // Negating in unsigned arithmetic handles INT_MIN.
        unsigned mag =
            v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
        Number(sink, field, mag, v < 0, 10, false);
      } else {
        Number(sink, field, va_arg(args, unsigned), false,
               conv == u'u' ? 10 : 16, conv == u'X');
      }
    } else {
      // Not a conversion this string performs: keep it as text.
      if (conv != 0) ++p;
      sink->Text(start, static_cast<size_t>(p - start));
      continue;
    }
    ++p;
  }
}

}  // namespace

void CString::Format(LPCWSTR lpszFormat, ...) {
  if (lpszFormat == nullptr) return;
  va_list args;
  va_start(args, lpszFormat);

  va_list measureArgs;
  va_copy(measureArgs, args);
  Sink measure = {nullptr, static_cast<size_t>(kplat::kAfxMaxLength), 0, false};
  Run(lpszFormat, measureArgs, &measure);
  va_end(measureArgs);

  if (measure.overflow) {
    va_end(args);
    return;
  }
  if (measure.len == 0) {
    va_end(args);
    Release();
    return;
  }
  // A new block even when the old one is big enough: an argument may be
  // this string's own text, which must stay intact while it is read.
  const int nLength = static_cast<int>(measure.len);
  WCHAR *p = kplat::AfxAllocText(nLength);
  if (p == nullptr) {
    va_end(args);
    return;
  }
  Sink write = {p, measure.len, 0, false};
  Run(lpszFormat, args, &write);
  va_end(args);
  p[write.len] = 0;

  Release();
  m_pchData = p;
  m_nDataLength = static_cast<int>(write.len);
  m_nAllocLength = nLength;
}
