#include "x11_connection.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "x11_handshake.h"
#include "x11_shm.h"

namespace kplat {
namespace x11 {
namespace {

// DISPLAY values longer than this are not followed (none is).
const size_t kMaxDisplayName = 256;

struct ConnectionState {
  xcb_connection_t *conn;
  pid_t owner;
  unsigned generation;
  bool stale;
  ScreenLayout layout;
  char displayName[kMaxDisplayName];  // DISPLAY when conn was made
};
ConnectionState g_conn;

// Whether DISPLAY still names the server conn was made for.
bool SameDisplay() {
  const char *name = getenv("DISPLAY");
  return name != nullptr && strcmp(name, g_conn.displayName) == 0;
}

const xcb_visualtype_t *FindVisual(const xcb_screen_t *screen) {
  for (xcb_depth_iterator_t d = xcb_screen_allowed_depths_iterator(screen);
       d.rem; xcb_depth_next(&d)) {
    if (d.data->depth != screen->root_depth) continue;
    for (xcb_visualtype_iterator_t v = xcb_depth_visuals_iterator(d.data);
         v.rem; xcb_visualtype_next(&v))
      if (v.data->visual_id == screen->root_visual) return v.data;
  }
  return nullptr;
}

bool ReadLayout(const xcb_setup_t *setup, int screenNum, ScreenLayout *out) {
  if (!setup || screenNum < 0) return false;
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
  for (int i = 0; i < screenNum && it.rem; ++i) xcb_screen_next(&it);
  if (!it.rem) return false;
  const xcb_screen_t *screen = it.data;
  const xcb_visualtype_t *visual = FindVisual(screen);
  if (!visual) return false;
  const xcb_format_t *format = nullptr;
  for (xcb_format_iterator_t f = xcb_setup_pixmap_formats_iterator(setup);
       f.rem; xcb_format_next(&f))
    if (f.data->depth == screen->root_depth) format = f.data;
  if (!format || format->scanline_pad == 0) return false;
  out->root = screen->root;
  out->colormap = screen->default_colormap;
  out->visualId = screen->root_visual;
  out->depth = screen->root_depth;
  out->visualClass = visual->_class;
  out->redMask = visual->red_mask;
  out->greenMask = visual->green_mask;
  out->blueMask = visual->blue_mask;
  out->bitsPerPixel = format->bits_per_pixel;
  out->scanlinePad = format->scanline_pad;
  out->msbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
  return true;
}

bool Connect() {
  const char *name = getenv("DISPLAY");
  if (name == nullptr || strlen(name) >= kMaxDisplayName) return false;
  int screenNum = 0;
  xcb_connection_t *conn = ConnectQuietly(name, &screenNum);
  if (conn == nullptr) return false;
  ScreenLayout layout;
  if (!ReadLayout(xcb_get_setup(conn), screenNum, &layout)) {
    xcb_disconnect(conn);
    return false;
  }
  g_conn.conn = conn;
  g_conn.owner = getpid();
  g_conn.stale = false;
  g_conn.layout = layout;
  strcpy(g_conn.displayName, name);
  ++g_conn.generation;
  return true;
}

}  // namespace

xcb_connection_t *LiveConnection(bool *fresh) {
  *fresh = false;
  if (g_conn.conn && (g_conn.owner != getpid() || g_conn.stale ||
                      xcb_connection_has_error(g_conn.conn) || !SameDisplay()))
    DropConnection();
  if (!g_conn.conn) {
    if (!Connect()) return nullptr;
    *fresh = true;
  }
  // Errors of unchecked requests arrive as events; nobody else reads them.
  while (xcb_generic_event_t *event = xcb_poll_for_queued_event(g_conn.conn))
    free(event);
  return g_conn.conn;
}

xcb_connection_t *ExistingConnection() {
  if (!g_conn.conn || g_conn.owner != getpid() || g_conn.stale ||
      xcb_connection_has_error(g_conn.conn) || !SameDisplay())
    return nullptr;
  return g_conn.conn;
}

const ScreenLayout &Layout() { return g_conn.layout; }

unsigned Generation() { return g_conn.generation; }

void MarkStale(xcb_connection_t *conn) {
  if (conn != nullptr && conn == g_conn.conn) g_conn.stale = true;
}

bool IsStale(xcb_connection_t *conn) {
  return conn != nullptr && conn == g_conn.conn && g_conn.stale;
}

void DropConnection() {
  if (!g_conn.conn) return;
  const bool ours = g_conn.owner == getpid();
  // A stale server may not read what we would send it now.
  ShmForget(ours && !g_conn.stale ? g_conn.conn : nullptr);
  if (ours) {
    xcb_disconnect(g_conn.conn);
  } else {
    // The parent's socket: xcb_disconnect would shut it down for the parent
    // too. Close only our copy of the descriptor; the small client state is
    // left behind once per fork.
    close(xcb_get_file_descriptor(g_conn.conn));
  }
  g_conn.conn = nullptr;
}

}  // namespace x11
}  // namespace kplat
