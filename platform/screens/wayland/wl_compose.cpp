#include "wl_compose.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <wayland-client-protocol.h>

#include "wincrt.h"
#include "wl_formats.h"

namespace kplat {
namespace wl {
namespace {

// Where the pixel at (x, y) of the picture as the user sees it (w x h) is
// stored in the output's buffer, for a wl_output transform: the buffer holds
// the picture flipped about the vertical axis (flipped variants), then
// turned counter-clockwise by a quarter turn per step.
void ToBuffer(int32_t transform, int64_t x, int64_t y, int64_t w, int64_t h,
              int64_t *bx, int64_t *by) {
  if (transform & 4) x = w - 1 - x;
  for (int turn = 0; turn < (transform & 3); ++turn) {
    const int64_t nx = y, ny = w - 1 - x;
    x = nx;
    y = ny;
    const int64_t nw = h;
    h = w;
    w = nw;
  }
  *bx = x;
  *by = y;
}

struct Channel {
  int shift;
  int bits;
};

Channel ChannelOf(uint32_t mask) {
  return Channel{__builtin_ctz(mask), __builtin_popcount(mask)};
}

uint32_t LoadPixel(const uint8_t *p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

void StorePixel(uint8_t *p, int bytes, uint32_t v) {
  for (int i = 0; i < bytes; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Re-encodes pixels from one truecolour format to another, each channel
// rescaled exactly (rounded to nearest).
struct Converter {
  Channel from[3], to[3];
  int fromBytes, toBytes;
  bool same;

  void Init(const PixelFormat &src, const PixelFormat &dst) {
    const uint32_t s[3] = {src.redMask, src.greenMask, src.blueMask};
    const uint32_t d[3] = {dst.redMask, dst.greenMask, dst.blueMask};
    for (int c = 0; c < 3; ++c) {
      from[c] = ChannelOf(s[c]);
      to[c] = ChannelOf(d[c]);
    }
    fromBytes = src.BytesPerPixel();
    toBytes = dst.BytesPerPixel();
    same = SameFormat(src, dst);
  }

  void Copy(const uint8_t *src, uint8_t *dst) const {
    if (same) {
      memcpy(dst, src, size_t(toBytes));
      return;
    }
    const uint32_t v = LoadPixel(src, fromBytes);
    uint32_t out = 0;
    for (int c = 0; c < 3; ++c) {
      const uint32_t fromMax = (1u << from[c].bits) - 1;
      const uint32_t toMax = (1u << to[c].bits) - 1;
      const uint32_t value = (v >> from[c].shift) & fromMax;
      out |= ((value * toMax + fromMax / 2) / fromMax) << to[c].shift;
    }
    StorePixel(dst, toBytes, out);
  }
};

// The picture's format: the outputs' own when they share one, else XRGB
// wide enough for the deepest of them.
bool PictureFormat(const OutputImage *images, int count, PixelFormat *format) {
  bool shared = true, deep = false;
  for (int i = 0; i < count; ++i) {
    PixelFormat f;
    if (!ShmFormat(images[i].shmFormat, &f)) return false;
    if (i == 0)
      *format = f;
    else if (!SameFormat(f, *format))
      shared = false;
    deep = deep || __builtin_popcount(f.greenMask) > 8;
  }
  if (!shared) {
    memset(format, 0, sizeof *format);
    format->bitsPerPixel = 32;
    if (deep) {
      format->redMask = 0x3ff00000;
      format->greenMask = 0xffc00;
      format->blueMask = 0x3ff;
    } else {
      format->redMask = 0xff0000;
      format->greenMask = 0xff00;
      format->blueMask = 0xff;
    }
  }
  return true;
}

// Draws one output into its w x h rectangle at (left, top) of the picture.
bool Draw(const OutputImage &image, int32_t transform, int left, int top, int w,
          int h, Picture *picture) {
  PixelFormat format;
  if (!ShmFormat(image.shmFormat, &format)) return false;
  const int bytes = format.BytesPerPixel();
  int64_t rowBytes = 0;
  if (__builtin_mul_overflow(int64_t(image.width), int64_t(bytes), &rowBytes) ||
      image.stride < rowBytes)
    return false;
  // The output's size as the user sees it, in its own pixels.
  const bool turned = transform & 1;
  const int64_t ow = turned ? image.height : image.width;
  const int64_t oh = turned ? image.width : image.height;
  Converter convert;
  convert.Init(format, picture->format);
  const size_t outBytes = size_t(picture->format.BytesPerPixel());

  // The common case, an upright output at the picture's density in its
  // format: whole rows.
  if (transform == WL_OUTPUT_TRANSFORM_NORMAL && convert.same &&
      w == image.width && h == image.height) {
    for (int j = 0; j < h; ++j) {
      const int32_t row = image.yInvert ? image.height - 1 - j : j;
      memcpy(picture->pixels + size_t(top + j) * picture->stride +
                 size_t(left) * outBytes,
             image.data + size_t(row) * size_t(image.stride), size_t(rowBytes));
    }
    return true;
  }

  // Buffer position of the picture's (0, 0), and its steps along x and y.
  int64_t x0, y0, x1, y1, x2, y2;
  ToBuffer(transform, 0, 0, ow, oh, &x0, &y0);
  ToBuffer(transform, 1, 0, ow, oh, &x1, &y1);
  ToBuffer(transform, 0, 1, ow, oh, &x2, &y2);
  const int64_t dxx = x1 - x0, dyx = y1 - y0, dxy = x2 - x0, dyy = y2 - y0;

  // Source column and row for each column and row of the rectangle.
  int64_t *columns =
      static_cast<int64_t *>(malloc(sizeof(int64_t) * size_t(w)));
  if (!columns) return false;
  for (int i = 0; i < w; ++i) columns[i] = (2 * int64_t(i) + 1) * ow / (2 * w);

  for (int j = 0; j < h; ++j) {
    const int64_t oy = (2 * int64_t(j) + 1) * oh / (2 * h);
    uint8_t *dst = picture->pixels + size_t(top + j) * picture->stride +
                   size_t(left) * outBytes;
    for (int i = 0; i < w; ++i, dst += outBytes) {
      const int64_t ox = columns[i];
      const int64_t bx = x0 + dxx * ox + dxy * oy;
      int64_t by = y0 + dyx * ox + dyy * oy;
      if (image.yInvert) by = image.height - 1 - by;
      convert.Copy(image.data + by * image.stride + bx * bytes, dst);
    }
  }
  free(columns);
  return true;
}

}  // namespace

namespace {

// The bounding box of the placements and the largest density among the
// outputs (image pixels per logical unit).
struct Layout {
  int64_t minX, minY, maxX, maxY;
  double density;
};

bool Measure(const Placement *placements, const OutputImage *images, int count,
             Layout *layout) {
  if (count <= 0) return false;
  *layout = Layout{INT64_MAX, INT64_MAX, INT64_MIN, INT64_MIN, 0};
  for (int i = 0; i < count; ++i) {
    const Placement &p = placements[i];
    const OutputImage &image = images[i];
    if (p.width <= 0 || p.height <= 0 || image.width <= 0 || image.height <= 0)
      return false;
    const int64_t right = int64_t(p.x) + p.width;
    const int64_t bottom = int64_t(p.y) + p.height;
    layout->minX = p.x < layout->minX ? p.x : layout->minX;
    layout->minY = p.y < layout->minY ? p.y : layout->minY;
    layout->maxX = right > layout->maxX ? right : layout->maxX;
    layout->maxY = bottom > layout->maxY ? bottom : layout->maxY;
    const int32_t ow = (p.transform & 1) ? image.height : image.width;
    const double d = double(ow) / p.width;
    layout->density = d > layout->density ? d : layout->density;
  }
  return true;
}

// A logical coordinate, relative to the box's origin, in picture pixels.
int ToPixels(const Layout &layout, int64_t offset) {
  return int(nearbyint(double(offset) * layout.density));
}

}  // namespace

bool PlanPicture(const Placement *placements, const OutputImage *images,
                 int count, int *width, int *height, PixelFormat *format) {
  Layout layout;
  if (!Measure(placements, images, count, &layout) ||
      !PictureFormat(images, count, format))
    return false;
  const double w =
      nearbyint(double(layout.maxX - layout.minX) * layout.density);
  const double h =
      nearbyint(double(layout.maxY - layout.minY) * layout.density);
  if (w < 1 || h < 1 || w > kMaxPictureSide || h > kMaxPictureSide)
    return false;
  *width = int(w);
  *height = int(h);
  return true;
}

namespace {

// Where an output goes in the picture, in pixels; false when it lands
// outside or empty.
bool OutputRect(const Layout &layout, const Placement &p, int width, int height,
                int *left, int *top, int *w, int *h) {
  *left = ToPixels(layout, p.x - layout.minX);
  *top = ToPixels(layout, p.y - layout.minY);
  const int right = ToPixels(layout, int64_t(p.x) + p.width - layout.minX);
  const int bottom = ToPixels(layout, int64_t(p.y) + p.height - layout.minY);
  *w = right - *left;
  *h = bottom - *top;
  return right > *left && bottom > *top && *left >= 0 && *top >= 0 &&
         right <= width && bottom <= height;
}

// Turns the w x h rectangle at (left, top) upside down in place.
void FlipRows(Picture *picture, int left, int top, int w, int h) {
  const size_t bytes = size_t(picture->format.BytesPerPixel());
  const size_t rowBytes = size_t(w) * bytes;
  for (int j = 0; j < h / 2; ++j) {
    uint8_t *a = picture->pixels + size_t(top + j) * picture->stride +
                 size_t(left) * bytes;
    uint8_t *b = picture->pixels + size_t(top + h - 1 - j) * picture->stride +
                 size_t(left) * bytes;
    uint8_t chunk[256];
    for (size_t done = 0; done < rowBytes; done += sizeof chunk) {
      const size_t n =
          rowBytes - done < sizeof chunk ? rowBytes - done : sizeof chunk;
      memcpy(chunk, a + done, n);
      memcpy(a + done, b + done, n);
      memcpy(b + done, chunk, n);
    }
  }
}

}  // namespace

bool Compose(const Placement *placements, const OutputImage *images, int count,
             Picture *picture, const bool *inPlace) {
  int width = 0, height = 0;
  PixelFormat format;
  Layout layout;
  if (!PlanPicture(placements, images, count, &width, &height, &format) ||
      !Measure(placements, images, count, &layout))
    return false;
  const bool given = picture->pixels != nullptr;
  if (given ? picture->width != width || picture->height != height ||
                  !SameFormat(picture->format, format)
            : !AllocatePicture(width, height, format, picture))
    return false;
  for (int i = 0; i < count; ++i) {
    int left, top, w, h;
    bool ok =
        OutputRect(layout, placements[i], width, height, &left, &top, &w, &h);
    if (ok && inPlace && inPlace[i]) {
      if (images[i].yInvert) FlipRows(picture, left, top, w, h);
    } else if (ok) {
      ok = Draw(images[i], placements[i].transform, left, top, w, h, picture);
    }
    if (!ok) {
      if (!given) FreePicture(picture);
      return false;
    }
  }
  return true;
}

void PlaceInPicture(const Placement *placements, const OutputImage *images,
                    int count, const Picture &picture, int64_t *offsets) {
  Layout layout;
  const bool measured = Measure(placements, images, count, &layout);
  const size_t bytes = size_t(picture.format.BytesPerPixel());
  for (int i = 0; i < count; ++i) {
    offsets[i] = -1;
    const OutputImage &image = images[i];
    PixelFormat format;
    int left, top, w, h;
    if (!measured || !picture.pixels ||
        placements[i].transform != WL_OUTPUT_TRANSFORM_NORMAL ||
        !ShmFormat(image.shmFormat, &format) ||
        !SameFormat(format, picture.format) ||
        size_t(image.stride) != picture.stride ||
        !OutputRect(layout, placements[i], picture.width, picture.height, &left,
                    &top, &w, &h) ||
        w != image.width || h != image.height)
      continue;
    offsets[i] = int64_t(size_t(top) * picture.stride + size_t(left) * bytes);
  }
}

}  // namespace wl
}  // namespace kplat
