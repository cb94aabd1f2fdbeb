// The board tests' host-side checks must tell a faithful capture from a
// faulty one; these feed them both.
#include "board_image.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include "test_support.h"

namespace {

using kboard::Bits;
using ktest::Image;

Bits B(const char *text) {
  Bits bits;
  EXPECT_TRUE(kboard::ParseBits(text, &bits)) << text;
  return bits;
}

void WritePpm(const std::string &path, const std::string &header,
              const Image &image, size_t cut = 0) {
  FILE *f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fputs(header.c_str(), f);
  fwrite(image.rgb.data(), 1, image.rgb.size() - cut, f);
  fclose(f);
}

Image Pattern(int w, int h, const char *bits) {
  Image image;
  kboard::PatternLevels(w, h, B(bits), &image);
  return kboard::Widen(image, B(bits));
}

TEST(BoardBits, OnlyThreeDigitsOfOneToEight) {
  Bits bits;
  EXPECT_TRUE(kboard::ParseBits("565", &bits));
  EXPECT_EQ(bits.width[0], 5);
  EXPECT_EQ(bits.width[1], 6);
  EXPECT_EQ(bits.width[2], 5);
  for (const char *bad : {"56", "5655", "095", "595x", "", "9a8"})
    EXPECT_FALSE(kboard::ParseBits(bad, &bits)) << bad;
}

// QEMU widens a 5- or 6-bit level by shifting in zeros or by repeating its
// top bits; the level read back is the same either way, and the library's
// rounding then gives each level its own exact byte.
TEST(BoardLevels, BothWideningsOfAScreenGiveItsLevels) {
  Image shifted, repeated;
  shifted.width = repeated.width = 64;
  shifted.height = repeated.height = 1;
  for (unsigned v = 0; v < 64; ++v) {
    const unsigned r = v & 31, g = v, b = 31 - (v & 31);
    shifted.rgb.insert(shifted.rgb.end(),
                       {uint8_t(r << 3), uint8_t(g << 2), uint8_t(b << 3)});
    repeated.rgb.insert(repeated.rgb.end(),
                        {uint8_t(r << 3 | r >> 2), uint8_t(g << 2 | g >> 4),
                         uint8_t(b << 3 | b >> 2)});
  }
  const Image a = kboard::Levels(shifted, B("565"));
  EXPECT_FALSE(kboard::Compare(a, kboard::Levels(repeated, B("565"))).found);
  const Image wide = kboard::Widen(a, B("565"));
  EXPECT_EQ(wide.rgb[3 * 3 + 0], 25);  // red 3 of 31: 24.7 rounds up
  EXPECT_EQ(wide.rgb[31 * 3 + 0], 255);
  EXPECT_EQ(wide.rgb[63 * 3 + 1], 255);
  EXPECT_EQ(wide.rgb[1 * 3 + 1], 4);  // green 1 of 63
  EXPECT_EQ(wide.rgb[0 * 3 + 0], 0);
}

TEST(BoardLevels, EightBitsPassUnchanged) {
  const Image p = Pattern(37, 16, "888");
  EXPECT_FALSE(
      kboard::Compare(kboard::Widen(kboard::Levels(p, B("888")), B("888")), p)
          .found);
}

TEST(BoardCompare, NamesTheFirstDifferenceAndCountsThem) {
  const Image want = Pattern(64, 40, "888");
  Image got = want;
  EXPECT_FALSE(kboard::Compare(got, want).found);
  got.rgb[(5 * 64 + 7) * 3 + 1] ^= 1;
  got.rgb[(9 * 64 + 2) * 3 + 2] ^= 0x80;
  const kboard::Mismatch m = kboard::Compare(got, want);
  ASSERT_TRUE(m.found);
  EXPECT_EQ(m.text.rfind("2 pixels differ; first at 7,5", 0), 0u) << m.text;
}

TEST(BoardCompare, ASizeMismatchIsOne) {
  const Image a = Pattern(64, 40, "888"), b = Pattern(64, 41, "888");
  EXPECT_TRUE(kboard::Compare(a, b).found);
}

// The faults a capture path can make must all change the picture.
TEST(BoardPattern, ShowsSwappedChannelsShiftsAndDroppedRows) {
  const int w = 200, h = 120;
  const Image want = Pattern(w, h, "888");
  Image swapped = want, shifted = want, dropped = want, flipped = want;
  for (size_t i = 0; i < want.rgb.size(); i += 3)
    std::swap(swapped.rgb[i], swapped.rgb[i + 2]);
  for (int y = 0; y < h; ++y)
    for (int x = 1; x < w; ++x)
      for (int c = 0; c < 3; ++c)
        shifted.rgb[size_t((y * w + x) * 3 + c)] =
            want.rgb[size_t((y * w + x - 1) * 3 + c)];
  for (int y = 50; y + 1 < h; ++y)
    for (int i = 0; i < w * 3; ++i)
      dropped.rgb[size_t(y * w * 3 + i)] =
          want.rgb[size_t((y + 1) * w * 3 + i)];
  for (int y = 0; y < h; ++y)
    for (int i = 0; i < w * 3; ++i)
      flipped.rgb[size_t(y * w * 3 + i)] =
          want.rgb[size_t((h - 1 - y) * w * 3 + i)];
  for (const Image *bad : {&swapped, &shifted, &dropped, &flipped})
    EXPECT_TRUE(kboard::Compare(*bad, want).found);
}

// Rounding the low bits away, as a 16-bit screen does, must still leave
// levels that the pattern's own 565 levels match.
TEST(BoardPattern, SixteenBitLevelsComeFromTheQuantizedPattern) {
  Image levels;
  kboard::PatternLevels(80, 40, B("565"), &levels);
  for (size_t i = 0; i < levels.rgb.size(); ++i)
    ASSERT_LT(levels.rgb[i], (i % 3 == 1) ? 64 : 32) << i;
  Image again = kboard::Levels(kboard::Widen(levels, B("565")), B("565"));
  EXPECT_FALSE(kboard::Compare(again, levels).found);
}

TEST(BoardPpm, ReadsQemusHeaderAndRefusesOthers) {
  ktest::TempDir dir;
  const Image p = Pattern(33, 7, "888");
  WritePpm(dir.File("ok.ppm"), "P6\n33 7\n255\n", p);
  WritePpm(dir.File("comment.ppm"), "P6\n# made here\n33 7\n255\n", p);
  WritePpm(dir.File("wide.ppm"), "P6\n33 7\n65535\n", p);
  WritePpm(dir.File("short.ppm"), "P6\n33 7\n255\n", p, 1);
  WritePpm(dir.File("ascii.ppm"), "P3\n33 7\n255\n", p);
  Image got;
  ASSERT_TRUE(kboard::ReadPpm(dir.File("ok.ppm"), &got));
  EXPECT_FALSE(kboard::Compare(got, p).found);
  EXPECT_TRUE(kboard::ReadPpm(dir.File("comment.ppm"), &got));
  for (const char *bad : {"wide.ppm", "short.ppm", "ascii.ppm", "missing.ppm"})
    EXPECT_FALSE(kboard::ReadPpm(dir.File(bad), &got)) << bad;
}

}  // namespace
