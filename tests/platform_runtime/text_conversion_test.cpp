#include <gtest/gtest.h>

#include <string>

#include "utf.h"
#include "winnls.h"

namespace {

// Converts all of bytes (no terminator); '?' in a result stands for U+FFFD.
std::u16string Convert(const std::string &bytes, DWORD flags = 0) {
  char16_t buf[64];
  int r = MultiByteToWideChar(CP_UTF8, flags, bytes.data(),
                              static_cast<int>(bytes.size()), buf, 64);
  std::u16string s(buf, r > 0 ? r : 0);
  for (char16_t &c : s) c = c == 0xFFFD ? u'?' : c;
  return s;
}

TEST(MultiByteToWideChar, ValidTextAndSurrogatePairs) {
  EXPECT_EQ(std::u16string(u"a\0b", 3), Convert(std::string("a\0b", 3)));
  EXPECT_EQ(u"\u00e9\u20ac\U0001F600",
            Convert("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
  EXPECT_EQ(std::u16string({0xD83D, 0xDE00}), Convert("\xF0\x9F\x98\x80"));
  // The edges of the valid ranges.
  EXPECT_EQ(std::u16string({0x80, 0x800, 0xD7FF, 0xE000, 0xDBFF, 0xDFFF}),
            Convert("\xC2\x80\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80"
                    "\xF4\x8F\xBF\xBF"));
}

TEST(MultiByteToWideChar, InvalidInputIsReplacedOrRefused) {
  const struct {
    const char *bytes;
    const char16_t *replaced;
  } cases[] = {
      {"a\x80z", u"a?z"},
      {"\xC0\xAF", u"??"},  // overlong
      {"\xE0\x80\xAF", u"???"},
      {"\xF0\x80\x80\xAF", u"????"},
      {"\xC2", u"?"},
      {"\xE2\x82z", u"?z"},  // truncated
      {"\xF0\x9F\x98", u"?"},
      {"\xED\xA0\x80", u"???"},       // surrogate
      {"\xF4\x90\x80\x80", u"????"},  // above U+10FFFF
      {"\xF5\x80\xFF", u"???"},
      {"\xE2\x82\xF0\x9F\x98\x80", u"?\U0001F600"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(c.replaced, Convert(c.bytes)) << c.bytes;
    SetLastError(0);
    EXPECT_EQ(u"", Convert(c.bytes, MB_ERR_INVALID_CHARS));
    EXPECT_EQ(DWORD{ERROR_NO_UNICODE_TRANSLATION}, GetLastError());
  }
}

TEST(MultiByteToWideChar, CountsTheNulAndChecksTheBufferSize) {
  const char *text = "x\xF0\x9F\x98\x80y";  // 4 units and the NUL
  char16_t buf[5];
  EXPECT_EQ(5, MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0));
  SetLastError(0);
  EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, text, -1, buf, 4));
  EXPECT_EQ(DWORD{ERROR_INSUFFICIENT_BUFFER}, GetLastError());
  EXPECT_EQ(5, MultiByteToWideChar(CP_ACP, 0, text, -1, buf, 5));
  EXPECT_EQ(std::u16string(u"x\U0001F600y", 5), std::u16string(buf, 5));
}

TEST(MultiByteToWideChar, RejectsBadParameters) {
  // The call's result is evaluated before the check reads its error.
  auto refused = [](int result) {
    bool ok = result == 0 && GetLastError() == ERROR_INVALID_PARAMETER;
    SetLastError(0);
    return ok;
  };
  char16_t b[4];
  EXPECT_TRUE(refused(MultiByteToWideChar(1252, 0, "a", -1, b, 4)));
  EXPECT_TRUE(refused(MultiByteToWideChar(CP_UTF8, 1, "a", -1, b, 4)));
  EXPECT_TRUE(refused(MultiByteToWideChar(CP_UTF8, 0, "a", 0, b, 4)));
  EXPECT_TRUE(refused(MultiByteToWideChar(CP_UTF8, 0, "a", -2, b, 4)));
  EXPECT_TRUE(refused(MultiByteToWideChar(CP_UTF8, 0, "a", -1, nullptr, 4)));
}

TEST(Utf16ToUtf8, RoundTripsEveryCodePoint) {
  std::u16string all;
  for (char32_t cp = 1; cp <= 0x10FFFF; ++cp) {
    if (cp > 0xFFFF) {
      all += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      all += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else if (cp < 0xD800 || cp > 0xDFFF) {
      all += static_cast<char16_t>(cp);
    }
  }
  size_t n = 0;
  ASSERT_TRUE(kplat::Utf16ToUtf8Length(all.data(), all.size(), &n));
  std::string bytes(n, '\0');
  ASSERT_EQ(n, kplat::Utf16ToUtf8(all.data(), all.size(), &bytes[0]));
  std::u16string back(all.size(), u'\0');
  ASSERT_EQ(static_cast<int>(all.size()),
            MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                static_cast<int>(n), &back[0],
                                static_cast<int>(back.size())));
  EXPECT_TRUE(back == all);
}

}  // namespace
