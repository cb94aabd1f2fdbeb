// CString::Format with a format text from the input and arguments of the
// kinds its directives ask for, against a plain reference built on the C
// library's own printf for the numbers.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "afxstr.h"

namespace {

enum Kind { kText, kNumber };
const int kMaxArgs = 4;
const size_t kMaxField = 300;  // keeps reference and result small

struct Args {
  int count = 0;
  Kind kind[kMaxArgs];
  std::u16string text[kMaxArgs];
  int number[kMaxArgs];
};

// The directives the string performs: flags - and 0, a width, and for %s
// a precision; any other directive is copied as text and takes nothing.
// Returns false for formats the fuzzer does not run (too many arguments or
// fields too wide).
bool Reference(const std::u16string &fmt, const Args &args, std::u16string *out,
               Args *kinds) {
  size_t i = 0;
  int arg = 0;
  while (i < fmt.size()) {
    if (fmt[i] != u'%') {
      *out += fmt[i++];
      continue;
    }
    const size_t start = i++;
    if (i < fmt.size() && fmt[i] == u'%') {
      *out += u'%';
      ++i;
      continue;
    }
    bool left = false, zero = false;
    for (; i < fmt.size() && (fmt[i] == u'-' || fmt[i] == u'0'); ++i)
      (fmt[i] == u'-' ? left : zero) = true;
    auto number = [&](size_t *v) {
      *v = 0;
      for (; i < fmt.size() && fmt[i] >= u'0' && fmt[i] <= u'9'; ++i) {
        *v = *v * 10 + size_t(fmt[i] - u'0');
        if (*v > kMaxField) return false;
      }
      return true;
    };
    size_t width, precision = 0;
    if (!number(&width)) return false;
    bool hasPrecision = false;
    if (i < fmt.size() && fmt[i] == u'.') {
      ++i;
      hasPrecision = true;
      if (!number(&precision)) return false;
    }
    const char16_t conv = i < fmt.size() ? fmt[i] : 0;
    const bool numeric = conv == u'd' || conv == u'i' || conv == u'u' ||
                         conv == u'x' || conv == u'X' || conv == u'c';
    if (conv != u's' && !(numeric && !hasPrecision)) {
      if (conv != 0) ++i;
      *out += fmt.substr(start, i - start);
      continue;
    }
    ++i;
    if (arg == kMaxArgs) return false;
    kinds->kind[arg] = conv == u's' ? kText : kNumber;
    std::u16string body;
    bool zeroPads = false;
    if (conv == u's') {
      body = args.text[arg];
      if (hasPrecision && body.size() > precision) body.resize(precision);
    } else if (conv == u'c') {
      body = std::u16string(1, char16_t(args.number[arg]));
    } else {
      char directive[8] = {'%', char(conv), 0};
      char buf[64];
      snprintf(buf, sizeof buf, directive, args.number[arg]);
      body.assign(buf, buf + strlen(buf));
      zeroPads = true;
    }
    ++arg;
    const size_t pad = width > body.size() ? width - body.size() : 0;
    if (left) {
      *out += body + std::u16string(pad, u' ');
    } else if (zero && zeroPads && !body.empty() && body[0] == u'-') {
      *out += u'-' + std::u16string(pad, u'0') + body.substr(1);
    } else {
      *out += std::u16string(pad, zero && zeroPads ? u'0' : u' ') + body;
    }
  }
  kinds->count = arg;
  return true;
}

LPCWSTR TextArg(const Args &a, int i) { return a.text[i].c_str(); }

// Calls Format with the arguments in their kinds, one level per argument.
template <typename... A>
void Call(CString &s, LPCWSTR fmt, const Args &a, A... given) {
  constexpr int n = sizeof...(A);
  if constexpr (n < kMaxArgs) {
    if (n < a.count) {
      if (a.kind[n] == kText) {
        Call(s, fmt, a, given..., TextArg(a, n));
      } else {
        Call(s, fmt, a, given..., a.number[n]);
      }
      return;
    }
  }
  s.Format(fmt, given...);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  Args args;
  for (int i = 0; i < kMaxArgs; ++i) {
    args.number[i] = in.ConsumeIntegral<int>();
    const std::string t = in.ConsumeRandomLengthString(40);
    // Bytes as units, with the odd character beyond ASCII and a %.
    for (unsigned char c : t)
      args.text[i] += c == 0 ? u'\u00e9' : c == 1 ? u'%' : char16_t(c);
  }
  const std::string f = in.ConsumeRemainingBytesAsString();
  std::u16string fmt;
  for (unsigned char c : f)
    if (c != 0) fmt += c >= 0xF0 ? char16_t(0x4E00 + c) : char16_t(c);

  std::u16string want;
  Args kinds = args;
  if (!Reference(fmt, args, &want, &kinds)) return 0;
  for (int i = 0; i < kinds.count; ++i) args.kind[i] = kinds.kind[i];
  args.count = kinds.count;

  CString s(u"previous");
  Call(s, fmt.c_str(), args);
  const std::u16string got(static_cast<LPCWSTR>(s), size_t(s.GetLength()));
  if (static_cast<LPCWSTR>(s)[s.GetLength()] != 0) abort();
  // An empty result empties the string too.
  if (got != want) abort();
  return 0;
}
