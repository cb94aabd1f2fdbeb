// Draws the benchmark scene on the root window of the X server named by
// DISPLAY (depth 24 or 16), so that every program under test grabs the same
// picture. Exits 0 once the server has it.
#include <stdio.h>
#include <stdlib.h>
#include <xcb/xcb.h>

#include <vector>

#include "scene.h"

int main() {
  xcb_connection_t *conn = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(conn)) {
    fprintf(stderr, "draw_scene: no X server\n");
    return 1;
  }
  const xcb_screen_t *screen =
      xcb_setup_roots_iterator(xcb_get_setup(conn)).data;
  const int w = screen->width_in_pixels, h = screen->height_in_pixels;
  const int depth = screen->root_depth;
  if (depth != 24 && depth != 16) {
    fprintf(stderr, "draw_scene: depth %d not drawn\n", depth);
    return 1;
  }
  const std::vector<uint32_t> xrgb = kbench::DrawScene(w, h);
  std::vector<uint16_t> rgb565;
  if (depth == 16) rgb565 = kbench::ToRgb565(xrgb);
  const size_t bytes = depth == 16 ? 2 : 4;
  xcb_gcontext_t gc = xcb_generate_id(conn);
  xcb_create_gc(conn, gc, screen->root, 0, nullptr);
  // Bands that fit the server's request size, with room for the header.
  const size_t maxBytes = size_t(xcb_get_maximum_request_length(conn)) * 4;
  int band = int((maxBytes - 64) / (size_t(w) * bytes));
  if (band > h) band = h;
  for (int y = 0; y < h; y += band) {
    const int n = y + band > h ? h - y : band;
    const uint8_t *p =
        depth == 16
            ? reinterpret_cast<const uint8_t *>(rgb565.data() + size_t(y) * w)
            : reinterpret_cast<const uint8_t *>(xrgb.data() + size_t(y) * w);
    xcb_generic_error_t *e = xcb_request_check(
        conn, xcb_put_image_checked(conn, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                    screen->root, gc, uint16_t(w), uint16_t(n),
                                    0, int16_t(y), 0, uint8_t(depth),
                                    uint32_t(size_t(w) * n * bytes), p));
    if (e != nullptr) {
      fprintf(stderr, "draw_scene: the server refused the image (%d)\n",
              e->error_code);
      free(e);
      xcb_disconnect(conn);
      return 1;
    }
  }
  // A round trip: the image is on the screen when the reply comes.
  free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
  const int err = xcb_connection_has_error(conn);
  xcb_disconnect(conn);
  return err ? 1 : 0;
}
