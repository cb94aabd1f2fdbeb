// What an X server and an authority file hand the X display, as arbitrary
// bytes: the connection setup, a colour-map reply and the authority file's
// entries. Each input is copied into a block of exactly its size, so that
// the sanitizers see any read past it. The first byte picks the reader and
// the second its argument (the screen number; for setups, bit 7 also makes
// the head's length agree with the size, so that the walk itself is
// reached).
#include <stdlib.h>
#include <string.h>

#include "x11_auth.h"
#include "x11_setup.h"

namespace {

using namespace kplat::x11;

void Setup(uint8_t *bytes, size_t size, uint8_t arg) {
  if (arg & 0x80 && size >= 8) {
    size = 8 + (size - 8) / 4 * 4;
    const uint16_t words =
        uint16_t((size - 8) / 4 > 0xFFFF ? 0xFFFF : (size - 8) / 4);
    size = 8 + size_t(words) * 4;
    bytes[0] = 1;
    memcpy(bytes + 6, &words, 2);
  }
  SetupFacts facts;
  if (!ReadSetup(bytes, size, arg & 0x7F, &facts)) return;
  // An accepted screen's pixmap format has a pad; its visual was found.
  if (facts.layout.scanlinePad == 0) abort();
}

void Colors(const uint8_t *bytes, size_t size) {
  kplat::PixelFormat format;
  if (PaletteFromColors(bytes, size, &format) &&
      (format.bitsPerPixel != 8 || size < 32 + 256 * 8))
    abort();
}

void Authority(const uint8_t *bytes, size_t size, uint8_t arg) {
  static const uint8_t kHost[] = "host";
  const AuthPeer peer = {uint16_t(arg & 1 ? kFamilyWild : kFamilyLocal), kHost,
                         arg & 2 ? 0 : sizeof kHost - 1, arg & 4 ? "" : "0"};
  Cookie cookie;
  if (CookieIn(bytes, size, peer, &cookie) && cookie.size > sizeof cookie.data)
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const uint8_t which = data[0] % 3, arg = data[1];
  const size_t n = size - 2;
  uint8_t *bytes = static_cast<uint8_t *>(malloc(n ? n : 1));
  memcpy(bytes, data + 2, n);
  if (which == 0) Setup(bytes, n, arg);
  if (which == 1) Colors(bytes, n);
  if (which == 2) Authority(bytes, n, arg);
  free(bytes);
  return 0;
}
