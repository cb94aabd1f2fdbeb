// The process's one connection to the X server named by DISPLAY, kept open
// between calls: connecting costs far more than a capture's round trips.
#pragma once

#include <stdint.h>
#include <xcb/xcb.h>

namespace kplat {
namespace x11 {

// What the connection's setup says about the default screen's root window.
struct ScreenLayout {
  xcb_window_t root;
  xcb_colormap_t colormap;
  xcb_visualid_t visualId;
  uint8_t depth;
  uint8_t visualClass;
  uint32_t redMask, greenMask, blueMask;
  int bitsPerPixel;
  int scanlinePad;
  bool msbFirst;  // image_byte_order of the server
};

// The live connection to the server DISPLAY names now, made (or made
// again, when the old one broke, went stale, belongs to the parent of a
// fork, or DISPLAY has changed since) as needed; NULL when no server can be
// reached now.
xcb_connection_t *LiveConnection();

// The connection this process made, if it is still working and DISPLAY
// still names its server; never connects.
xcb_connection_t *ExistingConnection();

// The layout of the live connection's screen; only valid while it lives.
const ScreenLayout &Layout();

// Changes whenever a new connection is made.
unsigned Generation();

// A resource id for a new object on conn, from the range its setup
// granted (ids given back first); false when conn is not the live
// connection or the range is spent. libxcb's own xcb_generate_id would ask
// the server for more with a round trip that has no bound.
bool NewId(xcb_connection_t *conn, uint32_t *id);
// Gives back an id whose object the server was told to free (or never
// made); later requests on conn may reuse it.
void FreeId(xcb_connection_t *conn, uint32_t id);

// A connection whose server did not answer in time: a late answer could be
// taken for the answer to a later request, so it serves no more requests
// and the next LiveConnection replaces it.
void MarkStale(xcb_connection_t *conn);
bool IsStale(xcb_connection_t *conn);

// Forgets the connection (and the shared memory tied to it): disconnects
// when this process made it, only lets go of it in a forked child, whose
// parent still talks over the same socket.
void DropConnection();

}  // namespace x11
}  // namespace kplat
