#include "x11_connection.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "x11_handshake.h"
#include "x11_setup.h"
#include "x11_shm.h"

namespace kplat {
namespace x11 {
namespace {

// DISPLAY values longer than this are not followed (none is).
const size_t kMaxDisplayName = 256;

// Ids given back, kept for reuse: a few suffice (segments and their check
// use three at most).
const int kSpareIds = 8;

struct ConnectionState {
  xcb_connection_t *conn;
  pid_t owner;
  unsigned generation;
  bool stale;
  ScreenLayout layout;
  char displayName[kMaxDisplayName];  // DISPLAY when conn was made
  // Resource ids: idBase | the values within idMask, in turn, then spent.
  uint32_t idBase, idMask, idNext;
  bool idsSpent;
  uint32_t spareIds[kSpareIds];
  int spareCount;
};
ConnectionState g_conn;

// Whether DISPLAY still names the server conn was made for.
bool SameDisplay() {
  const char *name = getenv("DISPLAY");
  return name != nullptr && strcmp(name, g_conn.displayName) == 0;
}

bool Connect() {
  const char *name = getenv("DISPLAY");
  if (name == nullptr || strlen(name) >= kMaxDisplayName) return false;
  SetupFacts facts;
  xcb_connection_t *conn = ConnectQuietly(name, &facts);
  if (conn == nullptr) return false;
  g_conn.conn = conn;
  g_conn.owner = getpid();
  g_conn.stale = false;
  g_conn.layout = facts.layout;
  g_conn.idBase = facts.idBase & ~facts.idMask;
  g_conn.idMask = facts.idMask;
  g_conn.idNext = 0;
  g_conn.idsSpent = false;
  g_conn.spareCount = 0;
  strcpy(g_conn.displayName, name);
  ++g_conn.generation;
  return true;
}

}  // namespace

xcb_connection_t *LiveConnection() {
  if (g_conn.conn && (g_conn.owner != getpid() || g_conn.stale ||
                      xcb_connection_has_error(g_conn.conn) || !SameDisplay()))
    DropConnection();
  if (!g_conn.conn && !Connect()) return nullptr;
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

bool NewId(xcb_connection_t *conn, uint32_t *id) {
  if (conn == nullptr || conn != g_conn.conn) return false;
  if (g_conn.spareCount > 0) {
    *id = g_conn.spareIds[--g_conn.spareCount];
    return true;
  }
  if (g_conn.idsSpent) return false;
  *id = g_conn.idBase | g_conn.idNext;
  // The next value made of idMask's bits alone (the mask need not be one
  // run of bits); back at 0 once every value was handed out.
  g_conn.idNext = ((g_conn.idNext | ~g_conn.idMask) + 1) & g_conn.idMask;
  g_conn.idsSpent = g_conn.idNext == 0;
  return true;
}

void FreeId(xcb_connection_t *conn, uint32_t id) {
  if (conn != nullptr && conn == g_conn.conn && g_conn.spareCount < kSpareIds)
    g_conn.spareIds[g_conn.spareCount++] = id;
}

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
