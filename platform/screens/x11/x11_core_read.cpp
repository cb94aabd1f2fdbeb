#include "x11_core_read.h"

#include <stdlib.h>

#include "x11_rows.h"
#include "x11_wait.h"

namespace kplat {
namespace x11 {
namespace {

// Bands in flight at once: enough to hide the round trips, few enough that
// queued replies stay small.
const int kPipeline = 4;
const size_t kReplyHeader = 32;

struct Band {
  xcb_get_image_cookie_t cookie;
  int top;
  int rows;
};

bool TakeBand(xcb_connection_t *conn, const ScreenLayout &layout,
              const Band &band, int w, size_t rowBytes, uint8_t *dst,
              ptrdiff_t dstStride) {
  xcb_get_image_reply_t *reply =
      ReplyWithin<xcb_get_image_reply_t>(conn, band.cookie);
  if (!reply) return false;
  const size_t len = size_t(xcb_get_image_data_length(reply));
  const bool ok = reply->depth == layout.depth &&
                  reply->visual == layout.visualId &&
                  len >= rowBytes * size_t(band.rows);
  if (ok)
    CopyRows(xcb_get_image_data(reply), rowBytes,
             dst + ptrdiff_t(band.top) * dstStride, dstStride, w, band.rows,
             layout.bitsPerPixel / 8, layout.msbFirst);
  free(reply);
  return ok;
}

}  // namespace

bool CoreRead(xcb_connection_t *conn, const ScreenLayout &layout, int x, int y,
              int w, int h, uint8_t *dst, ptrdiff_t dstStride) {
  const size_t rowBytes =
      PaddedRowBytes(w, layout.bitsPerPixel, layout.scanlinePad);
  // The length libxcb learns from the server once per connection: asked
  // for without waiting, then waited for with the bound.
  static unsigned s_lengthKnownFor = 0;
  if (s_lengthKnownFor != Generation()) {
    xcb_prefetch_maximum_request_length(conn);
    if (!SyncWithin(conn)) return false;
    s_lengthKnownFor = Generation();
  }
  const size_t limit = size_t(xcb_get_maximum_request_length(conn)) * 4;
  if (rowBytes == 0 || limit <= kReplyHeader) return false;
  size_t rowsPerBand = (limit - kReplyHeader) / rowBytes;
  if (rowsPerBand == 0) rowsPerBand = 1;
  if (rowsPerBand > size_t(h)) rowsPerBand = size_t(h);

  Band bands[kPipeline];
  int sent = 0, taken = 0, nextTop = 0;
  bool ok = true;
  while (ok && (nextTop < h || taken < sent)) {
    if (nextTop < h && sent - taken < kPipeline) {
      Band &band = bands[sent % kPipeline];
      band.top = nextTop;
      band.rows =
          int(rowsPerBand) < h - nextTop ? int(rowsPerBand) : h - nextTop;
      band.cookie = xcb_get_image(conn, XCB_IMAGE_FORMAT_Z_PIXMAP, layout.root,
                                  int16_t(x), int16_t(y + nextTop), uint16_t(w),
                                  uint16_t(band.rows), 0xFFFFFFFFu);
      nextTop += band.rows;
      ++sent;
      continue;
    }
    ok = TakeBand(conn, layout, bands[taken % kPipeline], w, rowBytes, dst,
                  dstStride);
    ++taken;
  }
  // Replies of bands still in flight after a failure are thrown away.
  for (; taken < sent; ++taken)
    xcb_discard_reply(conn, bands[taken % kPipeline].cookie.sequence);
  return ok;
}

}  // namespace x11
}  // namespace kplat
