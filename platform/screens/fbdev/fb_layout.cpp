#include "fb_layout.h"

#include <string.h>

namespace kplat {
namespace fbdev {
namespace {

bool IsMono(uint32_t visual) {
  return visual == FB_VISUAL_MONO01 || visual == FB_VISUAL_MONO10;
}

bool IsPseudo(uint32_t visual) {
  return visual == FB_VISUAL_PSEUDOCOLOR ||
         visual == FB_VISUAL_STATIC_PSEUDOCOLOR;
}

uint32_t Reverse(uint32_t v, uint32_t bits) {
  uint32_t r = 0;
  for (uint32_t i = 0; i < bits; ++i) r |= ((v >> i) & 1) << (bits - 1 - i);
  return r;
}

// v of `bits` bits at `outBits`: 0 stays 0 and full scale stays full scale.
uint32_t Scale(uint32_t v, uint32_t bits, uint32_t outBits) {
  if (bits == 0) return 0;
  const uint32_t max = (1u << bits) - 1, outMax = (1u << outBits) - 1;
  return (v * outMax + max / 2) / max;
}

// Turns the raw bits of a pixel's fields into colour channels.
class Decoder {
 public:
  Decoder(const fb_var_screeninfo &var, uint32_t visual, const ColourMap *cmap)
      : var_(var), visual_(visual), cmap_(cmap) {
    // A grey screen keeps its level in the red field, or fills the pixel.
    const fb_bitfield whole = {0, var.bits_per_pixel, 0};
    const fb_bitfield grey = var.red.length != 0 ? var.red : whole;
    const bool isGrey = var.grayscale == 1;
    fields_[0] = isGrey ? grey : var.red;
    fields_[1] = isGrey ? grey : var.green;
    fields_[2] = isGrey ? grey : var.blue;
    lookUp_ = visual == FB_VISUAL_DIRECTCOLOR && !isGrey;
  }

  const fb_bitfield &Field(int c) const { return fields_[c]; }

  // Fields inside the pixel and short enough to be tabled (and, through a
  // colour map, to index it).
  bool FieldsValid() const {
    const uint32_t limit = lookUp_ ? 8 : ChannelMap::kMaxFieldBits;
    uint32_t used = 0;
    for (const fb_bitfield &f : fields_) {
      if (f.length > limit || f.offset >= 32 ||
          f.offset + f.length > var_.bits_per_pixel)
        return false;
      used += f.length;
    }
    return used != 0;
  }

  uint32_t Bits(uint32_t pixel, int c) const {
    const fb_bitfield &f = fields_[c];
    return f.length == 0 ? 0 : (pixel >> f.offset) & ((1u << f.length) - 1);
  }

  // Channel c's output, at outBits, for the raw bits of its field.
  uint16_t Channel(int c, uint32_t raw, uint32_t outBits) const {
    const fb_bitfield &f = fields_[c];
    const uint32_t v = f.msb_right ? Reverse(raw, f.length) : raw;
    if (!lookUp_) return uint16_t(Scale(v, f.length, outBits));
    const uint16_t *entries[3] = {cmap_->red, cmap_->green, cmap_->blue};
    return Scale16To8(entries[c][v]);
  }

  // The colour of a whole pixel of 8 bits or fewer.
  RGBQUAD Colour(uint32_t pixel) const {
    uint8_t rgb[3];
    if (IsMono(visual_)) {
      const bool white = (pixel & 1) == (visual_ == FB_VISUAL_MONO10);
      rgb[0] = rgb[1] = rgb[2] = white ? 255 : 0;
    } else if (IsPseudo(visual_) && var_.grayscale == 0) {
      rgb[0] = Scale16To8(cmap_->red[pixel]);
      rgb[1] = Scale16To8(cmap_->green[pixel]);
      rgb[2] = Scale16To8(cmap_->blue[pixel]);
    } else {
      for (int c = 0; c < 3; ++c)
        rgb[c] = uint8_t(Channel(c, Bits(pixel, c), 8));
    }
    RGBQUAD q = {};
    q.rgbRed = rgb[0];
    q.rgbGreen = rgb[1];
    q.rgbBlue = rgb[2];
    return q;
  }

 private:
  const fb_var_screeninfo &var_;
  uint32_t visual_;
  const ColourMap *cmap_;
  fb_bitfield fields_[3];
  bool lookUp_;
};

bool DescribeGeometry(const fb_var_screeninfo &var,
                      const fb_fix_screeninfo &fix, Geometry *g) {
  if (var.xres == 0 || var.yres == 0 || var.xres > kMaxSide ||
      var.yres > kMaxSide)
    return false;
  const uint64_t bpp = var.bits_per_pixel;
  uint64_t line = fix.line_length;
  // Some old drivers leave the line length to be worked out.
  if (line == 0) line = (uint64_t(var.xres_virtual) * bpp + 7) / 8;
  const uint64_t rowBits = (uint64_t(var.xoffset) + var.xres) * bpp;
  if (line == 0 || line > UINT32_MAX || rowBits > line * 8) return false;
  const uint64_t firstRow = uint64_t(var.yoffset) * line;
  uint64_t end;
  if (__builtin_add_overflow(firstRow, uint64_t(var.yres - 1) * line, &end) ||
      __builtin_add_overflow(end, (rowBits + 7) / 8, &end) ||
      end > fix.smem_len)
    return false;
  g->width = var.xres;
  g->height = var.yres;
  g->bitsPerPixel = var.bits_per_pixel;
  g->lineLength = uint32_t(line);
  g->firstRow = firstRow;
  g->firstPixel = var.xoffset;
  g->end = end;
  return true;
}

// 8 bits or fewer: each pixel value is an index into a palette of its
// colours.
bool DescribePalettised(const Decoder &decoder, const fb_var_screeninfo &var,
                        uint32_t visual, Layout *layout) {
  const uint32_t bpp = var.bits_per_pixel;
  bool valid;
  if (IsMono(visual))
    valid = bpp == 1;
  else if (IsPseudo(visual) && var.grayscale == 0)
    valid = true;  // the colour map says it all
  else
    valid = decoder.FieldsValid();
  if (!valid) return false;
  for (uint32_t p = 0; p < (1u << bpp); ++p)
    layout->format.palette[p] = decoder.Colour(p);
  layout->format.bitsPerPixel = 8;
  layout->conversion = bpp == 8 ? Conversion::kCopy : Conversion::kUnpack;
  return true;
}

uint32_t Mask(const fb_bitfield &f) {
  return f.length == 0 ? 0 : ((1u << f.length) - 1) << f.offset;
}

bool DescribeChannels(const Decoder &decoder, const fb_var_screeninfo &var,
                      uint32_t visual, Layout *layout) {
  if (IsMono(visual) || (IsPseudo(visual) && var.grayscale == 0) ||
      !decoder.FieldsValid())
    return false;
  PixelFormat &format = layout->format;
  const bool plain = visual == FB_VISUAL_TRUECOLOR && var.grayscale == 0 &&
                     !var.red.msb_right && !var.green.msb_right &&
                     !var.blue.msb_right;
  if (plain) {
    format.bitsPerPixel = int(var.bits_per_pixel);
    format.redMask = Mask(var.red);
    format.greenMask = Mask(var.green);
    format.blueMask = Mask(var.blue);
    if (IsSupportedFormat(format)) {
      layout->conversion = Conversion::kCopy;
      return true;
    }
  }
  uint32_t widest = 0;
  for (int c = 0; c < 3; ++c)
    if (decoder.Field(c).length > widest) widest = decoder.Field(c).length;
  const uint32_t outBits =
      visual != FB_VISUAL_DIRECTCOLOR && widest > 8 ? 10 : 8;
  const uint32_t outMax = (1u << outBits) - 1;
  format.bitsPerPixel = 32;
  format.redMask = outMax << (2 * outBits);
  format.greenMask = outMax << outBits;
  format.blueMask = outMax;
  ChannelMap &map = layout->channels;
  map.bytesPerPixel = int(var.bits_per_pixel / 8);
  for (int c = 0; c < 3; ++c) {
    const fb_bitfield &f = decoder.Field(c);
    map.fieldShift[c] = int(f.offset);
    map.fieldMask[c] = f.length == 0 ? 0 : (1u << f.length) - 1;
    map.outShift[c] = int(outBits) * (2 - c);
    for (uint32_t raw = 0; raw <= map.fieldMask[c]; ++raw)
      map.table[c][raw] = decoder.Channel(c, raw, outBits);
  }
  layout->conversion = Conversion::kChannels;
  return true;
}

}  // namespace

uint32_t ColourMapLength(const fb_var_screeninfo &var,
                         const fb_fix_screeninfo &fix) {
  if (var.grayscale != 0) return 0;
  if (IsPseudo(fix.visual))
    return var.bits_per_pixel <= 8 ? 1u << var.bits_per_pixel : 0;
  if (fix.visual != FB_VISUAL_DIRECTCOLOR) return 0;
  uint32_t widest = var.red.length;
  if (var.green.length > widest) widest = var.green.length;
  if (var.blue.length > widest) widest = var.blue.length;
  return widest <= 8 ? 1u << widest : 0;
}

bool Describe(const fb_var_screeninfo &var, const fb_fix_screeninfo &fix,
              const ColourMap *cmap, Layout *layout) {
  memset(layout, 0, sizeof(*layout));
  const uint32_t visual = fix.visual;
  // Planar and interleaved memory, FOURCC formats (grayscale above 1) and
  // the drivers' own non-standard layouts are not read.
  if (fix.type != FB_TYPE_PACKED_PIXELS || var.nonstd != 0 ||
      var.grayscale > 1 || visual > FB_VISUAL_STATIC_PSEUDOCOLOR)
    return false;
  if (ColourMapLength(var, fix) != 0 && cmap == nullptr) return false;
  if (!DescribeGeometry(var, fix, &layout->geometry)) return false;
  const Decoder decoder(var, visual, cmap);
  switch (var.bits_per_pixel) {
    case 1:
    case 2:
    case 4:
    case 8:
      return DescribePalettised(decoder, var, visual, layout);
    case 16:
    case 24:
    case 32:
      return DescribeChannels(decoder, var, visual, layout);
    default:
      return false;
  }
}

bool SameLayout(const Layout &a, const Layout &b) {
  const Geometry &x = a.geometry, &y = b.geometry;
  if (x.width != y.width || x.height != y.height ||
      x.bitsPerPixel != y.bitsPerPixel || x.lineLength != y.lineLength ||
      x.firstRow != y.firstRow || x.firstPixel != y.firstPixel ||
      x.end != y.end || a.conversion != b.conversion ||
      !SameFormat(a.format, b.format))
    return false;
  return a.conversion != Conversion::kChannels ||
         memcmp(&a.channels, &b.channels, sizeof(a.channels)) == 0;
}

}  // namespace fbdev
}  // namespace kplat
