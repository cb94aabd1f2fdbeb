#include "x11_xwayland.h"

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <xcb/randr.h>

#include "x11_setup.h"
#include "x11_wait.h"

namespace kplat {
namespace x11 {
namespace {

struct Known {
  unsigned generation;  // 0 = not asked yet
  bool xwayland;
};
Known g_known = {0, false};

// Whether bytes at p lie inside a reply of the server's stated length:
// xcb's accessors follow the counts in the reply without checking them.
bool InReply(const void *reply, const void *p, size_t bytes) {
  const size_t size = ReplySize(reply);
  const size_t offset = size_t(static_cast<const uint8_t *>(p) -
                               static_cast<const uint8_t *>(reply));
  return offset <= size && bytes <= size - offset;
}

bool NamedLikeXwayland(const uint8_t *name, int length) {
  static const char kPrefix[] = "XWAYLAND";
  const int prefix = int(sizeof kPrefix - 1);
  if (length <= prefix || memcmp(name, kPrefix, size_t(prefix)) != 0)
    return false;
  for (int i = prefix; i < length; ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  return true;
}

bool Ask(xcb_connection_t *conn, xcb_window_t root) {
  xcb_prefetch_extension_data(conn, &xcb_randr_id);
  if (!SyncWithin(conn)) return false;
  const xcb_query_extension_reply_t *ext =
      xcb_get_extension_data(conn, &xcb_randr_id);
  if (!ext || !ext->present) return false;
  // The version is announced before any request of RandR 1.2 and later.
  const xcb_randr_query_version_cookie_t version =
      xcb_randr_query_version(conn, 1, 3);
  const xcb_randr_get_screen_resources_current_cookie_t resources =
      xcb_randr_get_screen_resources_current(conn, root);
  free(ReplyWithin<xcb_randr_query_version_reply_t>(conn, version));
  xcb_randr_get_screen_resources_current_reply_t *reply =
      ReplyWithin<xcb_randr_get_screen_resources_current_reply_t>(conn,
                                                                  resources);
  if (!reply) return false;
  const xcb_randr_output_t *outputs =
      xcb_randr_get_screen_resources_current_outputs(reply);
  const bool any =
      xcb_randr_get_screen_resources_current_outputs_length(reply) > 0 &&
      InReply(reply, outputs, sizeof *outputs);
  const xcb_randr_output_t first = any ? outputs[0] : 0;
  const xcb_timestamp_t stamp = reply->config_timestamp;
  free(reply);
  if (!any) return false;
  xcb_randr_get_output_info_reply_t *info =
      ReplyWithin<xcb_randr_get_output_info_reply_t>(
          conn, xcb_randr_get_output_info(conn, first, stamp));
  if (!info) return false;
  const uint8_t *name = xcb_randr_get_output_info_name(info);
  const int length = xcb_randr_get_output_info_name_length(info);
  const bool xwayland =
      InReply(info, name, size_t(length)) && NamedLikeXwayland(name, length);
  free(info);
  return xwayland;
}

}  // namespace

bool ServerIsXwayland(xcb_connection_t *conn, unsigned generation,
                      xcb_window_t root) {
  if (g_known.generation != generation) {
    g_known.xwayland = Ask(conn, root);
    g_known.generation = generation;
  }
  return g_known.xwayland;
}

}  // namespace x11
}  // namespace kplat
