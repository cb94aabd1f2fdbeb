// BitBlt from a memory display of a random format, size and content into a
// 24-bit DIB section, directly and through a screen-compatible bitmap, with
// a random (often clipped) rectangle; and a section onto itself. Every pixel
// of the result is compared with a plain per-pixel reference.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <vector>

#include "kestrel_testing.h"

namespace {

struct Format {
  int bpp;
  uint32_t mask[3];  // red, green, blue
  RGBQUAD palette[256];
};

uint32_t MaskAt(int bits, int shift) { return ((1u << bits) - 1) << shift; }

// A format the platform supports, mostly; sometimes a random one, which the
// display must refuse or handle.
Format PickFormat(FuzzedDataProvider &in) {
  Format f = {};
  switch (in.ConsumeIntegralInRange(0, 6)) {
    case 0:
      f.bpp = 8;
      for (RGBQUAD &q : f.palette) {
        q.rgbRed = in.ConsumeIntegral<uint8_t>();
        q.rgbGreen = in.ConsumeIntegral<uint8_t>();
        q.rgbBlue = in.ConsumeIntegral<uint8_t>();
      }
      break;
    case 1: {
      f.bpp = 16;
      const int g = in.ConsumeBool() ? 6 : 5;
      f.mask[0] = MaskAt(5, 5 + g);
      f.mask[1] = MaskAt(g, 5);
      f.mask[2] = MaskAt(5, 0);
      if (in.ConsumeBool()) std::swap(f.mask[0], f.mask[2]);
      break;
    }
    case 2:
    case 3:
    case 4: {
      // 24 or 32 bits, 8- or 10-bit channels in any order and position.
      f.bpp = in.ConsumeBool() ? 24 : 32;
      const int bits = f.bpp == 32 && in.ConsumeBool() ? 10 : 8;
      int order[3] = {0, 1, 2};
      for (int i = 2; i > 0; --i)
        std::swap(order[i], order[in.ConsumeIntegralInRange(0, i)]);
      const int spare = f.bpp - 3 * bits;
      int shift = spare > 0 ? in.ConsumeIntegralInRange(0, spare) : 0;
      for (int i = 0; i < 3; ++i) {
        f.mask[order[i]] = MaskAt(bits, shift);
        shift += bits;
      }
      break;
    }
    default:
      f.bpp = in.PickValueInArray({1, 4, 8, 15, 16, 24, 32, 48});
      for (uint32_t &m : f.mask) m = in.ConsumeIntegral<uint32_t>();
      break;
  }
  return f;
}

uint8_t Scale(uint32_t v, uint32_t max) {
  return uint8_t((v * 255 + max / 2) / max);
}

// The blue-green-red bytes of screen pixel (x, y).
void Reference(const Format &f, const std::vector<uint8_t> &pixels,
               size_t stride, int x, int y, uint8_t out[3]) {
  const uint8_t *p = &pixels[size_t(y) * stride + size_t(x) * (f.bpp / 8)];
  if (f.bpp == 8) {
    out[0] = f.palette[*p].rgbBlue;
    out[1] = f.palette[*p].rgbGreen;
    out[2] = f.palette[*p].rgbRed;
    return;
  }
  uint32_t v = 0;
  for (int i = 0; i < f.bpp / 8; ++i) v |= uint32_t(p[i]) << (8 * i);
  for (int c = 0; c < 3; ++c) {
    const uint32_t m = f.mask[c];
    const int shift = __builtin_ctz(m);
    out[2 - c] = Scale((v & m) >> shift, m >> shift);
  }
}

struct Section {
  HBITMAP bitmap = NULL;
  uint8_t *bits = NULL;
  int w = 0, h = 0;
  bool bottomUp = true;
  size_t stride = 0;
  uint8_t *At(int x, int y) const {
    const int row = bottomUp ? h - 1 - y : y;
    return bits + size_t(row) * stride + size_t(x) * 3;
  }
};

bool MakeSection(FuzzedDataProvider &in, Section *s) {
  s->w = in.ConsumeIntegralInRange(1, 40);
  s->h = in.ConsumeIntegralInRange(1, 40);
  s->bottomUp = in.ConsumeBool();
  BITMAPINFO bmi = {};
  bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = s->w;
  bmi.bmiHeader.biHeight = s->bottomUp ? s->h : -s->h;
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 24;
  bmi.bmiHeader.biCompression = BI_RGB;
  void *bits = NULL;
  s->bitmap = CreateDIBSection(NULL, &bmi, DIB_RGB_COLORS, &bits, NULL, 0);
  if (s->bitmap == NULL || bits == NULL) return false;
  s->bits = static_cast<uint8_t *>(bits);
  s->stride = (size_t(s->w) * 3 + 3) / 4 * 4;
  for (size_t i = 0; i < s->stride * size_t(s->h); ++i)
    s->bits[i] = uint8_t(i * 7 + 1);
  return true;
}

struct Rect {
  int x, y, cx, cy, xs, ys;
};

Rect PickRect(FuzzedDataProvider &in) {
  Rect r;
  r.x = in.ConsumeIntegralInRange(-50, 50);
  r.y = in.ConsumeIntegralInRange(-50, 50);
  r.cx = in.ConsumeIntegralInRange(-3, 60);
  r.cy = in.ConsumeIntegralInRange(-3, 60);
  r.xs = in.ConsumeIntegralInRange(-50, 50);
  r.ys = in.ConsumeIntegralInRange(-50, 50);
  return r;
}

// source(sx, sy, out) gives the expected bytes of a source pixel.
template <typename Source>
void Check(const Section &dst, const std::vector<uint8_t> &before,
           const Rect &r, int sw, int sh, BOOL ok, Source source) {
  for (int y = 0; y < dst.h; ++y) {
    for (int x = 0; x < dst.w; ++x) {
      const int sx = r.xs + (x - r.x), sy = r.ys + (y - r.y);
      const bool written = ok && r.cx >= 0 && r.cy >= 0 && x >= r.x &&
                           x - r.x < r.cx && y >= r.y && y - r.y < r.cy &&
                           sx >= 0 && sx < sw && sy >= 0 && sy < sh;
      uint8_t want[3];
      if (written) {
        source(sx, sy, want);
      } else {
        const size_t off = size_t(dst.At(x, y) - dst.bits);
        memcpy(want, &before[off], 3);
      }
      if (memcmp(dst.At(x, y), want, 3) != 0) abort();
    }
  }
}

std::vector<uint8_t> Bytes(const Section &s) {
  return std::vector<uint8_t>(s.bits, s.bits + s.stride * size_t(s.h));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  KTestResetFaults();
  const Format f = PickFormat(in);
  const int sw = in.ConsumeIntegralInRange(1, 40);
  const int sh = in.ConsumeIntegralInRange(1, 40);
  const size_t stride = size_t(sw) * size_t(f.bpp > 0 ? (f.bpp + 7) / 8 : 1) +
                        size_t(in.ConsumeIntegralInRange(0, 5));
  std::vector<uint8_t> pixels(stride * size_t(sh));
  const std::vector<uint8_t> given = in.ConsumeBytes<uint8_t>(pixels.size());
  std::copy(given.begin(), given.end(), pixels.begin());

  const KTestDisplayFormat df = {f.bpp, f.mask[0], f.mask[1], f.mask[2],
                                 f.bpp == 8 ? f.palette : NULL};
  const bool installed =
      KTestInstallMemoryDisplay(sw, sh, &df, pixels.data(), stride) != 0;
  const bool known = f.bpp == 8 || f.bpp == 16 || f.bpp == 24 || f.bpp == 32;
  if (!installed) {
    KTestRemoveMemoryDisplay();
    return 0;
  }
  if (!known) abort();  // a format the reference cannot read was taken

  auto screenPixel = [&](int x, int y, uint8_t out[3]) {
    Reference(f, pixels, stride, x, y, out);
  };
  HDC screen = GetDC(NULL);
  HDC mem = CreateCompatibleDC(screen);
  Section dst;
  if (screen == NULL || mem == NULL || !MakeSection(in, &dst)) abort();
  HGDIOBJ old = SelectObject(mem, dst.bitmap);

  // Screen straight into the section.
  Rect r = PickRect(in);
  std::vector<uint8_t> before = Bytes(dst);
  BOOL ok = BitBlt(mem, r.x, r.y, r.cx, r.cy, screen, r.xs, r.ys, SRCCOPY);
  if (r.cx >= 0 && r.cy >= 0 && !ok) abort();
  Check(dst, before, r, sw, sh, ok, screenPixel);

  // Screen into a compatible bitmap whole, then from there into the section.
  HBITMAP compat = CreateCompatibleBitmap(screen, sw, sh);
  HDC mem2 = CreateCompatibleDC(screen);
  if (compat == NULL || mem2 == NULL) abort();
  HGDIOBJ old2 = SelectObject(mem2, compat);
  if (!BitBlt(mem2, 0, 0, sw, sh, screen, 0, 0, SRCCOPY)) abort();
  r = PickRect(in);
  before = Bytes(dst);
  ok = BitBlt(mem, r.x, r.y, r.cx, r.cy, mem2, r.xs, r.ys, SRCCOPY);
  if (r.cx >= 0 && r.cy >= 0 && !ok) abort();
  Check(dst, before, r, sw, sh, ok, screenPixel);

  // The section onto itself: overlapping blocks copy as if from a snapshot.
  r = PickRect(in);
  before = Bytes(dst);
  const Section snapshot = dst;
  ok = BitBlt(mem, r.x, r.y, r.cx, r.cy, mem, r.xs, r.ys, SRCCOPY);
  if (r.cx >= 0 && r.cy >= 0 && !ok) abort();
  Check(dst, before, r, dst.w, dst.h, ok, [&](int x, int y, uint8_t out[3]) {
    memcpy(out, &before[size_t(snapshot.At(x, y) - snapshot.bits)], 3);
  });

  SelectObject(mem2, old2);
  DeleteDC(mem2);
  DeleteObject(compat);
  SelectObject(mem, old);
  DeleteDC(mem);
  ReleaseDC(NULL, screen);
  DeleteObject(dst.bitmap);
  KTestRemoveMemoryDisplay();
  const KTestLiveObjects live = KTestGetLiveObjects();
  if (live.screenDCs || live.memoryDCs || live.bitmaps || live.sections)
    abort();
  return 0;
}
