// Screen pictures of the board tests as channel levels: reading QEMU's PPM
// files, reducing bytes to the screen's channel widths and widening them
// back the way the library does.
#pragma once

#include <string>

#include "images.h"

namespace kboard {

struct Bits {
  int width[3] = {8, 8, 8};  // red, green, blue
};
// "565", "888": one digit per channel.
bool ParseBits(const char *text, Bits *bits);

// A binary (P6) PPM with 8-bit samples.
bool ReadPpm(const std::string &path, ktest::Image *image);

// Each byte cut to the top bits of its channel: the level the screen holds,
// whether a widening replicated the top bits or shifted in zeros.
ktest::Image Levels(const ktest::Image &bytes, const Bits &bits);
// Levels back to bytes: v * 255 / max, rounded.
ktest::Image Widen(const ktest::Image &levels, const Bits &bits);
// The board pattern at w x h, as levels of these widths.
void PatternLevels(int w, int h, const Bits &bits, ktest::Image *out);

struct Mismatch {
  bool found = false;
  std::string text;  // the size, or the first differing pixel and a count
};
Mismatch Compare(const ktest::Image &got, const ktest::Image &want);

}  // namespace kboard
