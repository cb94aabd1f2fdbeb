/* Draws a demo scene on the root window of $DISPLAY (text, flat areas and a
 * gradient), so that a capture on a bare X server shows something. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <xcb/xcb.h>

static xcb_connection_t *g_conn;
static xcb_screen_t *g_screen;

static uint32_t Place(uint32_t mask, unsigned level) {
  if (!mask) return 0;
  const int shift = __builtin_ctz(mask);
  return ((level * (mask >> shift) + 127) / 255) << shift;
}

static const xcb_visualtype_t *RootVisual(void) {
  for (xcb_depth_iterator_t d = xcb_screen_allowed_depths_iterator(g_screen);
       d.rem; xcb_depth_next(&d))
    for (xcb_visualtype_iterator_t v = xcb_depth_visuals_iterator(d.data);
         v.rem; xcb_visualtype_next(&v))
      if (v.data->visual_id == g_screen->root_visual) return v.data;
  return NULL;
}

static uint32_t Color(unsigned r, unsigned g, unsigned b) {
  xcb_alloc_color_reply_t *reply = xcb_alloc_color_reply(
      g_conn,
      xcb_alloc_color(g_conn, g_screen->default_colormap, (uint16_t)(r * 257),
                      (uint16_t)(g * 257), (uint16_t)(b * 257)),
      NULL);
  uint32_t pixel = reply ? reply->pixel : g_screen->black_pixel;
  free(reply);
  return pixel;
}

static void Fill(xcb_gcontext_t gc, uint32_t pixel, int x, int y, int w,
                 int h) {
  xcb_change_gc(g_conn, gc, XCB_GC_FOREGROUND, &pixel);
  const xcb_rectangle_t r = {(int16_t)x, (int16_t)y, (uint16_t)w, (uint16_t)h};
  xcb_poly_fill_rectangle(g_conn, g_screen->root, gc, 1, &r);
}

/* A horizontal rainbow-to-grey gradient, put as an image row by row. */
static int Gradient(xcb_gcontext_t gc, int top, int height) {
  const xcb_visualtype_t *visual = RootVisual();
  const xcb_setup_t *setup = xcb_get_setup(g_conn);
  int bpp = 0;
  for (xcb_format_iterator_t f = xcb_setup_pixmap_formats_iterator(setup);
       f.rem; xcb_format_next(&f))
    if (f.data->depth == g_screen->root_depth) bpp = f.data->bits_per_pixel;
  if (!visual || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR ||
      (bpp != 16 && bpp != 32))
    return 0; /* other screens get flat areas only */
  const int w = g_screen->width_in_pixels, bytes = bpp / 8;
  const int msb = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
  uint8_t *row = malloc((size_t)w * bytes);
  if (!row) return 0;
  for (int y = 0; y < height; ++y) {
    const unsigned fade = (unsigned)(255 * y / (height > 1 ? height - 1 : 1));
    for (int x = 0; x < w; ++x) {
      const unsigned t = (unsigned)(x * 1530 / (w > 1 ? w - 1 : 1));
      unsigned r, g, b; /* hue ramp: red, yellow, green, cyan, blue, magenta */
      const unsigned s = t % 255, seg = t / 255;
      r = seg == 0 || seg == 5 ? 255 : seg == 1 ? 255 - s : seg == 4 ? s : 0;
      g = seg == 0 ? s : seg <= 2 ? 255 : seg == 3 ? 255 - s : 0;
      b = seg == 2 ? s : seg == 3 || seg == 4 ? 255 : seg == 5 ? 255 - s : 0;
      r = (r * (255 - fade) + 128 * fade) / 255;
      g = (g * (255 - fade) + 128 * fade) / 255;
      b = (b * (255 - fade) + 128 * fade) / 255;
      const uint32_t v = Place(visual->red_mask, r) |
                         Place(visual->green_mask, g) |
                         Place(visual->blue_mask, b);
      for (int k = 0; k < bytes; ++k)
        row[x * bytes + (msb ? bytes - 1 - k : k)] = (uint8_t)(v >> (8 * k));
    }
    xcb_put_image(g_conn, XCB_IMAGE_FORMAT_Z_PIXMAP, g_screen->root, gc,
                  (uint16_t)w, 1, 0, (int16_t)(top + y), 0,
                  g_screen->root_depth, (uint32_t)(w * bytes), row);
  }
  free(row);
  return 1;
}

static void Text(xcb_gcontext_t gc, xcb_font_t font, uint32_t fg, uint32_t bg,
                 int x, int y, const char *text) {
  const uint32_t values[3] = {fg, bg, font};
  xcb_change_gc(g_conn, gc, XCB_GC_FOREGROUND | XCB_GC_BACKGROUND | XCB_GC_FONT,
                values);
  xcb_image_text_8(g_conn, (uint8_t)strlen(text), g_screen->root, gc,
                   (int16_t)x, (int16_t)y, text);
}

int main(int argc, char **argv) {
  /* --check: only tell (by the exit status) whether $DISPLAY answers. */
  const int checkOnly = argc > 1 && strcmp(argv[1], "--check") == 0;
  int num = 0;
  g_conn = xcb_connect(NULL, &num);
  if (xcb_connection_has_error(g_conn)) {
    xcb_disconnect(g_conn);
    if (!checkOnly)
      fprintf(stderr, "kestrel-demo-scene: cannot reach the X server\n");
    return 1;
  }
  if (checkOnly) {
    xcb_disconnect(g_conn);
    return 0;
  }
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(g_conn));
  for (int i = 0; i < num && it.rem; ++i) xcb_screen_next(&it);
  g_screen = it.data;
  const int w = g_screen->width_in_pixels, h = g_screen->height_in_pixels;

  const xcb_gcontext_t gc = xcb_generate_id(g_conn);
  xcb_create_gc(g_conn, gc, g_screen->root, 0, NULL);
  const uint32_t navy = Color(20, 30, 70), white = Color(255, 255, 255);
  Fill(gc, navy, 0, 0, w, h);
  const unsigned flats[][3] = {{220, 40, 40},  {240, 200, 40},  {40, 170, 80},
                               {40, 120, 220}, {250, 250, 250}, {0, 0, 0}};
  const int n = (int)(sizeof(flats) / sizeof(flats[0]));
  for (int i = 0; i < n; ++i)
    Fill(gc, Color(flats[i][0], flats[i][1], flats[i][2]), w * i / n, h * 3 / 5,
         w / n, h / 5);
  Gradient(gc, h * 1 / 5, h * 2 / 5 - 8);

  const xcb_font_t font = xcb_generate_id(g_conn);
  xcb_void_cookie_t opened = xcb_open_font_checked(g_conn, font, 5, "fixed");
  xcb_generic_error_t *error = xcb_request_check(g_conn, opened);
  if (!error) {
    Text(gc, font, white, navy, 16, 28,
         "Kestrel quick start: a capture of this X screen");
    Text(gc, font, white, navy, 16, 46,
         "flat areas, a gradient and core-font text");
    xcb_close_font(g_conn, font);
  }
  free(error);
  xcb_free_gc(g_conn, gc);
  /* A round trip: everything drawn has been handled when it returns. */
  free(xcb_get_input_focus_reply(g_conn, xcb_get_input_focus(g_conn), NULL));
  const int ok = !xcb_connection_has_error(g_conn);
  xcb_disconnect(g_conn);
  return ok ? 0 : 1;
}
