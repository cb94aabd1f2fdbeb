// One connection to a compositor, with the globals a capture needs and what
// is known of every output.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "wl_wait.h"

struct wl_display;
struct wl_registry;
struct wl_shm;
struct wl_output;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct zwlr_screencopy_manager_v1;

namespace kplat {
namespace wl {

struct Output {
  uint32_t globalName;
  wl_output *output;
  zxdg_output_v1 *xdgOutput;
  int32_t transform;  // wl_output_transform
  int32_t modeWidth;  // the current mode, in the output's own orientation
  int32_t modeHeight;
  // Where the output sits on the desktop, in logical units.
  int32_t x, y, width, height;
  bool haveLogicalPosition;
  bool haveLogicalSize;
};

enum { kMaxOutputs = 32 };

struct Session {
  wl_display *display;
  wl_registry *registry;
  wl_shm *shm;
  zxdg_output_manager_v1 *xdgOutputManager;
  zwlr_screencopy_manager_v1 *screencopy;
  uint32_t screencopyVersion;
  Output outputs[kMaxOutputs];
  int outputCount;
  bool tooManyOutputs;
  bool connected;       // the first exchanges are over
  bool outputsChanged;  // an output came or went since
};

// The path of a socket named as WAYLAND_DISPLAY names one: absolute, or
// inside XDG_RUNTIME_DIR as it is now. False when there is none, or when it
// takes room bytes or more.
bool SocketPath(const char *name, char *path, size_t room);

// Connects to the compositor whose socket is named as WAYLAND_DISPLAY names
// one (a name in XDG_RUNTIME_DIR, or an absolute path) and learns its
// globals and outputs. False (with nothing held) when there is no such
// compositor or it does not answer in time.
bool Connect(Session *session, const char *socket, const Deadline &deadline);

// Asks every output for its logical position and size (xdg-output), or,
// without xdg-output, derives them from wl_output. False when the
// compositor fails to answer or an output cannot be placed. On a session
// kept from an earlier call, the outputs asked then keep telling their
// changes; only new ones are asked.
bool LearnLayout(Session *session, const Deadline &deadline);

// Lets go of the connection and everything made on it, without a word to
// the compositor: safe in a forked child whose parent still uses it.
void Disconnect(Session *session);

}  // namespace wl
}  // namespace kplat
