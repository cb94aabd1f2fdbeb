#include <gtest/gtest.h>
#include <limits.h>

#include <string>

#include "afxstr.h"
#include "kestrel_testing.h"

namespace {

template <typename... Args>
std::u16string Fmt(LPCWSTR format, Args... args) {
  CString s;
  s.Format(format, args...);
  EXPECT_EQ(0, static_cast<LPCWSTR>(s)[s.GetLength()]);
  return std::u16string(s, s.GetLength());
}

TEST(CStringFormat, EveryConversion) {
  EXPECT_EQ(
      u"[abc|  abc|abc  |ab|   ab]",
      Fmt(u"[%s|%5s|%-5s|%.2s|%5.2s]", u"abc", u"abc", u"abc", u"abc", u"abc"));
  EXPECT_EQ(u"(null)", Fmt(u"%s", static_cast<LPCWSTR>(nullptr)));
  const WCHAR unterminated[3] = {u'x', u'y', u'z'};  // read no further
  EXPECT_EQ(u"xyz", Fmt(u"%.3s", unterminated));
  EXPECT_EQ(u"x\u00e9 y", Fmt(u"%c%c%2c", u'x', u'\u00e9', u'y'));
  EXPECT_EQ(u"0 -7 -2147483648 2147483647",
            Fmt(u"%d %i %d %d", 0, -7, INT_MIN, INT_MAX));
  EXPECT_EQ(u"[-0042|  -42|-42  |42   ]",
            Fmt(u"[%05d|%5d|%-5d|%-05d]", -42, -42, -42, 42));
  EXPECT_EQ(u"4294967295 ff FF 00C0FFEE 100%",
            Fmt(u"%u %x %X %08X 100%%", 4294967295u, 255u, 255u, 0xC0FFEEu));
}

TEST(CStringFormat, UnknownConversionsAreCopiedAndTakeNoArgument) {
  EXPECT_EQ(u"%n %q %ld %+d %.3d 5 end%-0",
            Fmt(u"%n %q %ld %+d %.3d %d end%-0", 5));
}

TEST(CStringFormat, ArgumentTextIsCopiedWholeAndLiterally) {
  const LPCWSTR format = u"Can't open file\"%s\"";
  EXPECT_EQ(u"Can't open file\"a%s%n%%b\"", Fmt(format, u"a%s%n%%b"));
  std::u16string path(300, u'p');
  path.back() = u'!';
  EXPECT_EQ(u"Can't open file\"" + path + u"\"", Fmt(format, path.c_str()));
  CString s(u"inner");
  s.Format(u"<%s|%s>", static_cast<LPCWSTR>(s), static_cast<LPCWSTR>(s));
  EXPECT_EQ(u"<inner|inner>", std::u16string(s, s.GetLength()));
}

TEST(CStringFormat, FailureKeepsTheOldText) {
  CString s(u"kept");
  const unsigned before = KTestCallCount(KTEST_OP_MALLOC);
  KTestFailNth(KTEST_OP_MALLOC, 1);
  s.Format(u"%s and more", u"something");
  // Results too long for an int length are refused before any allocation.
  s.Format(u"%2147483647d%2147483647d", 1, 2);
  s.Format(u"%99999999999999999999d", 1);
  // 2^32 + 1: a width that wraps to 1 in 32-bit arithmetic.
  s.Format(u"%4294967297d", 1);
  EXPECT_EQ(before + 1, KTestCallCount(KTEST_OP_MALLOC));
  EXPECT_EQ(u"kept", std::u16string(s, s.GetLength()));
}

}  // namespace
