/* The picture the board tests put on the screen: colour ramps, grey steps,
 * one-pixel lines and checks, and a block of noise, so that a capture that
 * swaps channels, drops a row, shifts a column or smooths detail differs
 * from it. Shared by the guest program that draws it and the host checker
 * that expects it. */
#ifndef KESTREL_BOARD_PATTERN_H
#define KESTREL_BOARD_PATTERN_H

#include <stdint.h>

static inline uint32_t BoardNoise(uint32_t x, uint32_t y) {
  uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0xC2B2AE3Du;
  return h ^ (h >> 13);
}

/* Red, green and blue (0..255) of the pixel at x, y on a w x h screen. */
static inline void BoardPattern(int x, int y, int w, int h, uint8_t rgb[3]) {
  unsigned r, g, b;
  const int band = h / 4;
  if (y < band) { /* red across, green down, blue in a moire of both */
    r = (unsigned)(255 * x / (w > 1 ? w - 1 : 1));
    g = (unsigned)(255 * y / (band > 1 ? band - 1 : 1));
    b = (unsigned)((x * x + 3 * y * y) / 37) & 0xFF;
  } else if (y < 2 * band) { /* every level of each channel, in columns */
    const unsigned v = (unsigned)(x * 256 / w);
    const int which = (y - band) * 4 / band;
    r = which == 0 || which == 3 ? v : 0;
    g = which == 1 || which == 3 ? v : 0;
    b = which == 2 || which == 3 ? v : 0;
  } else if (y < 3 * band) { /* one-pixel checks, lines and diagonals */
    const int cx = x / 64;
    if (cx % 3 == 0) {
      r = g = b = ((x ^ y) & 1) ? 255 : 0;
    } else if (cx % 3 == 1) {
      r = (y % 3 == 0) ? 255 : 20;
      g = (x % 5 == 0) ? 200 : 40;
      b = ((x + y) % 7 == 0) ? 255 : 60;
    } else {
      r = g = b = ((x - y) % 16 == 0 || (x + y) % 11 == 0) ? 0 : 230;
    }
  } else { /* noise on the left, flat blocks on the right */
    if (x < w / 2) {
      const uint32_t n = BoardNoise((uint32_t)x, (uint32_t)y);
      r = n & 0xFF;
      g = (n >> 8) & 0xFF;
      b = (n >> 16) & 0xFF;
    } else {
      static const uint8_t kFlat[8][3] = {
          {255, 255, 255}, {0, 0, 0},     {255, 0, 0},   {0, 255, 0},
          {0, 0, 255},     {255, 255, 0}, {0, 255, 255}, {128, 64, 192}};
      const int i = ((x - w / 2) * 8 / (w - w / 2)) & 7;
      r = kFlat[i][0];
      g = kFlat[i][1];
      b = kFlat[i][2];
    }
  }
  rgb[0] = (uint8_t)r;
  rgb[1] = (uint8_t)g;
  rgb[2] = (uint8_t)b;
}

/* A 0..255 level in a channel of the given width, as the guest stores it. */
static inline uint32_t BoardQuantize(unsigned level, unsigned bits) {
  const uint32_t max = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
  return (uint32_t)(((uint64_t)level * max + 127) / 255);
}

#endif
