#include <gtest/gtest.h>

#include <string>

#include "afxstr.h"
#include "kestrel_testing.h"

namespace {

// The text up to the string's length; fails the test when the terminator is
// not where the length says.
std::u16string Text(const CString &s) {
  LPCWSTR p = s;
  EXPECT_EQ(0, p[s.GetLength()]);
  EXPECT_EQ(s.IsEmpty() != 0, s.GetLength() == 0);
  return std::u16string(p, s.GetLength());
}

TEST(CString, ConstructionAndAssignmentCopyTheText) {
  WCHAR src[] = u"hello";
  CString a(src);
  src[0] = u'J';
  CString b(a);
  EXPECT_EQ(u"hello", Text(a));
  EXPECT_EQ(u"hello", Text(b));
  EXPECT_NE(static_cast<LPCWSTR>(a), static_cast<LPCWSTR>(b));
  EXPECT_EQ(u"", Text(CString(static_cast<LPCWSTR>(nullptr))));

  CString s(u"a fairly long piece of text");
  s = u"short";
  s = static_cast<LPCWSTR>(s) + 1;  // overlaps its own storage
  EXPECT_EQ(u"hort", Text(s));
  s = static_cast<const CString &>(s);
  EXPECT_EQ(u"hort", Text(s));
  s = CString(u"grown well past the size of the old storage");
  EXPECT_EQ(u"grown well past the size of the old storage", Text(s));
  s = static_cast<LPCWSTR>(nullptr);
  EXPECT_EQ(u"", Text(s));
}

TEST(CString, EightBitAssignmentConvertsTheWholeText) {
  std::string message(199, 'm');
  message.front() = 'A';
  message.back() = 'Z';
  CString s;
  s = message.c_str();
  EXPECT_EQ(std::u16string(message.begin(), message.end()), Text(s));
  s = "Output file write error --- out of disk space?";  // reuses storage
  EXPECT_EQ(u"Output file write error --- out of disk space?", Text(s));
  s = "caf\xC3\xA9 \xF0\x9F\x98\x80 \xFF";
  EXPECT_EQ(u"caf\u00e9 \U0001F600 \uFFFD", Text(s));
  s = "";
  EXPECT_EQ(u"", Text(s));
}

TEST(CString, FailedAllocationLeavesAValidValue) {
  KTestResetFaults();
  CString s(u"old");
  CString longer(u"a text longer than the old one");
  std::string message(199, 'x');
  const unsigned before = KTestCallCount(KTEST_OP_MALLOC);
  KTestFailNth(KTEST_OP_MALLOC, 1);
  s = u"another text that needs new storage";
  KTestFailNth(KTEST_OP_MALLOC, 1);
  s = message.c_str();
  KTestFailNth(KTEST_OP_MALLOC, 1);
  s = longer;
  EXPECT_EQ(u"old", Text(s));
  // New strings that cannot get storage are empty, and usable.
  KTestFailNth(KTEST_OP_MALLOC, 1);
  CString copy(longer);
  KTestFailNth(KTEST_OP_MALLOC, 1);
  CString fromText(u"text");
  EXPECT_EQ(before + 5, KTestCallCount(KTEST_OP_MALLOC));
  EXPECT_EQ(u"", Text(copy));
  EXPECT_EQ(u"", Text(fromText));
  copy = longer;
  EXPECT_EQ(Text(longer), Text(copy));
}

}  // namespace
