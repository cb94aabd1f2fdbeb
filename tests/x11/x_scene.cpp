#include "x_scene.h"

#include <math.h>
#include <stdlib.h>
#include <xcb/xcb.h>

namespace ktest {
namespace {

struct Conn {
  xcb_connection_t *c = nullptr;
  const xcb_screen_t *screen = nullptr;
  const xcb_visualtype_t *visual = nullptr;
  int bpp = 0, pad = 0;
  bool msb = false;
  explicit Conn(const std::string &display) {
    int num = 0;
    c = xcb_connect(display.c_str(), &num);
    if (xcb_connection_has_error(c)) return;
    const xcb_setup_t *setup = xcb_get_setup(c);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < num; ++i) xcb_screen_next(&it);
    screen = it.data;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem;
         xcb_depth_next(&d))
      for (auto v = xcb_depth_visuals_iterator(d.data); v.rem;
           xcb_visualtype_next(&v))
        if (v.data->visual_id == screen->root_visual) visual = v.data;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem;
         xcb_format_next(&f))
      if (f.data->depth == screen->root_depth) {
        bpp = f.data->bits_per_pixel;
        pad = f.data->scanline_pad;
      }
    msb = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
  }
  ~Conn() { xcb_disconnect(c); }
  bool ok() const { return screen && visual && bpp >= 8; }
  size_t RowBytes(int w) const {
    return (size_t(w) * bpp + pad - 1) / pad * pad / 8;
  }
  size_t MaxBytes() {
    return size_t(xcb_get_maximum_request_length(c)) * 4 - 64;
  }
  void Fill(ServerImage *img) const {
    img->width = screen->width_in_pixels;
    img->height = screen->height_in_pixels;
    img->depth = screen->root_depth;
    img->bitsPerPixel = bpp;
    img->visualClass = visual->_class;
    img->redMask = visual->red_mask;
    img->greenMask = visual->green_mask;
    img->blueMask = visual->blue_mask;
  }
};

uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352d;
  x ^= x >> 15;
  x *= 0x846ca68b;
  return x ^ (x >> 16);
}

// A channel level (0..255) placed in a mask's bits.
uint32_t Place(uint32_t mask, uint32_t level) {
  if (!mask) return 0;
  const int shift = __builtin_ctz(mask);
  const uint32_t max = mask >> shift;
  return ((level * max + 127) / 255) << shift;
}

uint32_t TruePixel(const ServerImage &s, int x, int y, uint32_t seed) {
  const uint32_t all = s.redMask | s.greenMask | s.blueMask;
  if (y < s.height / 3) return Hash(seed ^ uint32_t(y * 65537 + x)) & all;
  if (y < 2 * s.height / 3) {
    const uint32_t t =
        uint32_t(x) * 255 / uint32_t(s.width > 1 ? s.width - 1 : 1);
    return Place(s.redMask, t) | Place(s.greenMask, 255 - t) |
           Place(s.blueMask, uint32_t(y) & 255);
  }
  const uint32_t block = Hash(seed + uint32_t(x / 16) * 31 + uint32_t(y / 16));
  return block & all;
}

void PutPixel(uint8_t *p, uint32_t v, int bytes, bool msb) {
  for (int b = 0; b < bytes; ++b)
    p[msb ? bytes - 1 - b : b] = uint8_t(v >> (8 * b));
}

uint32_t GetPixel(const uint8_t *p, int bytes, bool msb) {
  uint32_t v = 0;
  for (int b = 0; b < bytes; ++b)
    v |= uint32_t(p[msb ? bytes - 1 - b : b]) << (8 * b);
  return v;
}

}  // namespace

bool DrawScene(const std::string &display, uint32_t seed, ServerImage *drawn) {
  Conn x(display);
  if (!x.ok()) return false;
  x.Fill(drawn);
  const int w = drawn->width, h = drawn->height;
  const bool colormapped = drawn->visualClass != XCB_VISUAL_CLASS_TRUE_COLOR;
  if (colormapped) {
    // Gives a PseudoColor or GrayScale map some entries of our choosing.
    for (uint32_t i = 0; i < 40; ++i) {
      const uint32_t v = Hash(seed + i);
      free(xcb_alloc_color_reply(
          x.c,
          xcb_alloc_color(x.c, x.screen->default_colormap, uint16_t(v),
                          uint16_t(v >> 8), uint16_t(v >> 16)),
          nullptr));
    }
  }
  drawn->pixels.resize(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int px = 0; px < w; ++px)
      drawn->pixels[size_t(y) * w + px] =
          colormapped ? Hash(seed ^ uint32_t(y * 4099 + px)) & 0xFF
                      : TruePixel(*drawn, px, y, seed);

  const xcb_gcontext_t gc = xcb_generate_id(x.c);
  xcb_create_gc(x.c, gc, x.screen->root, 0, nullptr);
  const size_t rowBytes = x.RowBytes(w);
  const int bandRows =
      int(x.MaxBytes() / rowBytes) < h ? int(x.MaxBytes() / rowBytes) : h;
  std::vector<uint8_t> band(rowBytes * size_t(bandRows));
  const int bytes = x.bpp / 8;
  for (int top = 0; top < h; top += bandRows) {
    const int rows = bandRows < h - top ? bandRows : h - top;
    for (int r = 0; r < rows; ++r)
      for (int px = 0; px < w; ++px)
        PutPixel(&band[size_t(r) * rowBytes + size_t(px) * bytes],
                 drawn->pixels[size_t(top + r) * w + px], bytes, x.msb);
    xcb_put_image(x.c, XCB_IMAGE_FORMAT_Z_PIXMAP, x.screen->root, gc,
                  uint16_t(w), uint16_t(rows), 0, int16_t(top), 0,
                  x.screen->root_depth, uint32_t(rowBytes * rows), band.data());
  }
  xcb_free_gc(x.c, gc);
  // A round trip: every image request has been handled when it returns.
  free(xcb_get_input_focus_reply(x.c, xcb_get_input_focus(x.c), nullptr));
  return !xcb_connection_has_error(x.c);
}

bool ReadBack(const std::string &display, ServerImage *image) {
  Conn x(display);
  if (!x.ok()) return false;
  x.Fill(image);
  const int w = image->width, h = image->height;
  const size_t rowBytes = x.RowBytes(w);
  int bandRows = int(x.MaxBytes() / rowBytes);
  if (bandRows > h) bandRows = h;
  image->pixels.assign(size_t(w) * h, 0);
  const int bytes = x.bpp / 8;
  for (int top = 0; top < h; top += bandRows) {
    const int rows = bandRows < h - top ? bandRows : h - top;
    xcb_get_image_reply_t *reply = xcb_get_image_reply(
        x.c,
        xcb_get_image(x.c, XCB_IMAGE_FORMAT_Z_PIXMAP, x.screen->root, 0,
                      int16_t(top), uint16_t(w), uint16_t(rows), 0xFFFFFFFFu),
        nullptr);
    if (!reply) return false;
    const uint8_t *data = xcb_get_image_data(reply);
    const bool enough =
        size_t(xcb_get_image_data_length(reply)) >= rowBytes * rows;
    for (int r = 0; enough && r < rows; ++r)
      for (int px = 0; px < w; ++px)
        image->pixels[size_t(top + r) * w + px] = GetPixel(
            data + size_t(r) * rowBytes + size_t(px) * bytes, bytes, x.msb);
    free(reply);
    if (!enough) return false;
  }
  return true;
}

bool ReadPalette(const std::string &display,
                 std::vector<std::array<uint8_t, 3>> *palette) {
  Conn x(display);
  if (!x.ok()) return false;
  std::vector<uint32_t> pixels(256);
  for (uint32_t i = 0; i < 256; ++i) pixels[i] = i;
  xcb_query_colors_reply_t *reply = xcb_query_colors_reply(
      x.c,
      xcb_query_colors(x.c, x.screen->default_colormap, 256, pixels.data()),
      nullptr);
  if (!reply) return false;
  const xcb_rgb_t *c = xcb_query_colors_colors(reply);
  palette->clear();
  for (int i = 0; i < xcb_query_colors_colors_length(reply); ++i) {
    auto to8 = [](uint16_t v) { return uint8_t(lround(v * 255.0 / 65535.0)); };
    palette->push_back({to8(c[i].red), to8(c[i].green), to8(c[i].blue)});
  }
  free(reply);
  return palette->size() == 256;
}

std::vector<uint32_t> DecodeLittleEndian(const uint8_t *data, int w, int h,
                                         ptrdiff_t stride, int bytesPerPixel) {
  std::vector<uint32_t> out(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      out[size_t(y) * w + x] =
          GetPixel(data + y * stride + x * bytesPerPixel, bytesPerPixel, false);
  return out;
}

}  // namespace ktest
