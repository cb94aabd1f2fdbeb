#include "pixel_convert.h"

#include "convert_rows.h"

namespace kplat {
namespace {

// Wider and narrower channels scale to 0..255 with rounding, so the largest
// value of any width maps to 255 and 8-bit channels pass unchanged.
void FillTable(uint32_t max, uint8_t *table) {
  for (uint32_t v = 0; v <= max; ++v)
    table[v] = uint8_t((v * 255 + max / 2) / max);
}

rows::RowFn ChooseRow(const Bgr24Converter &c, ConvertKernel kernel) {
  rows::RowFn fn = nullptr;
  switch (kernel) {
    case ConvertKernel::kBest:
      if (rows::HaveSsse3()) fn = rows::Ssse3Row(c);
      if (fn == nullptr && rows::HaveNeon()) fn = rows::NeonRow(c);
      if (fn == nullptr) fn = rows::BlockRow(c);
      break;
    case ConvertKernel::kBlock:
      fn = rows::BlockRow(c);
      break;
    case ConvertKernel::kSsse3:
      if (rows::HaveSsse3()) fn = rows::Ssse3Row(c);
      break;
    case ConvertKernel::kNeon:
      if (rows::HaveNeon()) fn = rows::NeonRow(c);
      break;
    case ConvertKernel::kPlain:
      break;
  }
  return fn != nullptr ? fn : rows::PlainRow(c);
}

}  // namespace

bool PrepareBgr24Converter(const PixelFormat &f, Bgr24Converter *c) {
  if (!IsSupportedFormat(f)) return false;
  if (f.IsPalettised()) {
    c->path = Bgr24Converter::Path::kPalette;
    c->byteAligned = true;
    for (int i = 0; i < 256; ++i) {
      const RGBQUAD &e = f.palette[i];
      c->palette[i][0] = e.rgbBlue;
      c->palette[i][1] = e.rgbGreen;
      c->palette[i][2] = e.rgbRed;
      c->entry[i] = uint32_t(e.rgbBlue) | uint32_t(e.rgbGreen) << 8 |
                    uint32_t(e.rgbRed) << 16;
    }
    return true;
  }
  const uint32_t masks[3] = {f.blueMask, f.greenMask, f.redMask};
  bool allEight = true;
  c->byteAligned = true;
  for (int i = 0; i < 3; ++i) {
    c->shift[i] = uint8_t(__builtin_ctz(masks[i]));
    c->max[i] = masks[i] >> c->shift[i];
    allEight = allEight && c->max[i] == 0xFF;
    c->byteAligned = c->byteAligned && c->shift[i] % 8 == 0;
  }
  switch (f.bitsPerPixel) {
    case 16:
      c->path = Bgr24Converter::Path::kTable16;
      break;
    case 24:
      c->path = Bgr24Converter::Path::kBytes24;
      break;
    default:
      c->path = allEight ? Bgr24Converter::Path::kShift32
                         : Bgr24Converter::Path::kTable32;
      break;
  }
  // Only the table paths read them; filling them costs more than a small
  // screen's conversion.
  if (c->path == Bgr24Converter::Path::kTable16 ||
      c->path == Bgr24Converter::Path::kTable32)
    for (int i = 0; i < 3; ++i) FillTable(c->max[i], c->table[i]);
  return true;
}

void ConvertToBgr24(const Bgr24Converter &c, const uint8_t *src,
                    ptrdiff_t srcStride, uint8_t *dst, ptrdiff_t dstStride,
                    int width, int height, ConvertKernel kernel) {
  if (width <= 0 || height <= 0) return;
  // One choice per block; the row routine then runs without decisions.
  const rows::RowFn row = ChooseRow(c, kernel);
  for (int y = 0; y < height; ++y)
    row(c, src + y * srcStride, dst + y * dstStride, width);
}

}  // namespace kplat
