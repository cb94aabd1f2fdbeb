#include "scene.h"

#include <math.h>

namespace kbench {
namespace {

uint32_t Rgb(int r, int g, int b) {
  auto clamp = [](int v) { return uint32_t(v < 0 ? 0 : v > 255 ? 255 : v); };
  return clamp(r) << 16 | clamp(g) << 8 | clamp(b);
}

struct Canvas {
  std::vector<uint32_t> &px;
  int w, h;
  void Fill(int x0, int y0, int x1, int y1, uint32_t c) {
    for (int y = y0 < 0 ? 0 : y0; y < y1 && y < h; ++y)
      for (int x = x0 < 0 ? 0 : x0; x < x1 && x < w; ++x)
        px[size_t(y) * w + x] = c;
  }
};

uint32_t g_seed = 1;
uint32_t Next() {
  g_seed = g_seed * 1103515245 + 12345;
  return g_seed >> 8;
}

// Lines of 'words': glyphs of 6 x 9 cells from a fixed pseudo-random font.
void Text(Canvas &cv, int x0, int y0, int x1, int y1, uint32_t ink) {
  uint16_t font[64][9];
  uint32_t s = 99;
  for (auto &glyph : font)
    for (auto &row : glyph) {
      s = s * 1103515245 + 12345;
      row = uint16_t((s >> 16) & 0x3E);
    }
  for (int y = y0; y + 12 < y1; y += 14) {
    int x = x0;
    while (x + 8 < x1) {
      const int word = 2 + int(Next() % 9);
      for (int i = 0; i < word && x + 8 < x1; ++i, x += 7) {
        const uint16_t *g = font[Next() % 64];
        for (int r = 0; r < 9; ++r)
          for (int c = 0; c < 6; ++c)
            if (g[r] >> c & 1) cv.Fill(x + c, y + r, x + c + 1, y + r + 1, ink);
      }
      x += 7;
    }
  }
}

// Smooth shapes and fine grain, as a photograph has.
void Photo(Canvas &cv, int x0, int y0, int x1, int y1) {
  for (int y = y0; y < y1 && y < cv.h; ++y)
    for (int x = x0; x < x1 && x < cv.w; ++x) {
      const double u = (x - x0) / 90.0, v = (y - y0) / 70.0;
      const double sky = 120 + 80 * sin(u * 0.7 + v * 0.3) * cos(v * 0.9);
      const int grain = int(Next() % 17) - 8;
      cv.px[size_t(y) * cv.w + x] =
          Rgb(int(sky * 0.6 + 40 * sin(u * 2.1)) + grain,
              int(sky * 0.8 + 30 * cos(v * 1.7 + u)) + grain,
              int(sky + 20 * sin(u * v)) + grain);
    }
}

void Window(Canvas &cv, int x, int y, int w, int h, bool photo) {
  cv.Fill(x - 1, y - 1, x + w + 1, y + h + 1, Rgb(60, 60, 70));
  cv.Fill(x, y, x + w, y + 24, Rgb(40, 90, 160));  // title bar
  Text(cv, x + 8, y + 6, x + w / 2, y + 22, Rgb(255, 255, 255));
  cv.Fill(x, y + 24, x + w, y + h, Rgb(246, 246, 246));
  cv.Fill(x, y + 24, x + w, y + 48, Rgb(225, 225, 230));  // tool bar
  if (photo) {
    Photo(cv, x + 6, y + 54, x + w - 6, y + h - 6);
  } else {
    Text(cv, x + 10, y + 56, x + w - 10, y + h - 8, Rgb(20, 20, 20));
  }
}

}  // namespace

std::vector<uint32_t> DrawScene(int w, int h) {
  g_seed = 1;
  std::vector<uint32_t> px(size_t(w) * h);
  Canvas cv{px, w, h};
  for (int y = 0; y < h; ++y)  // wallpaper gradient
    for (int x = 0; x < w; ++x)
      px[size_t(y) * w + x] =
          Rgb(30 + 60 * y / h, 60 + 90 * x / w, 120 + 100 * (x + y) / (w + h));
  Window(cv, w / 20, h / 12, w * 9 / 20, h * 6 / 10, false);
  Window(cv, w * 9 / 20, h / 5, w / 2, h * 6 / 10, true);
  Window(cv, w / 8, h * 2 / 3, w / 3, h / 4, false);
  cv.Fill(0, h - h / 24, w, h, Rgb(32, 32, 36));  // panel
  Text(cv, 8, h - h / 24 + 4, w / 3, h, Rgb(220, 220, 220));
  return px;
}

std::vector<uint16_t> ToRgb565(const std::vector<uint32_t> &xrgb) {
  std::vector<uint16_t> out(xrgb.size());
  for (size_t i = 0; i < xrgb.size(); ++i) {
    const uint32_t p = xrgb[i];
    out[i] = uint16_t((p >> 8 & 0xF800) | (p >> 5 & 0x07E0) | (p >> 3 & 0x1F));
  }
  return out;
}

}  // namespace kbench
