// Reading what an X server sends about itself: the connection setup and the
// replies whose lists it sizes. Every count is checked against the bytes it
// came in before anything is walked; nothing here trusts a length.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "display.h"
#include "x11_connection.h"

namespace kplat {
namespace x11 {

// What an accepted setup tells about the connection and the screen asked for.
struct SetupFacts {
  ScreenLayout layout;
  uint32_t idBase;  // resource ids: idBase | any value within idMask
  uint32_t idMask;
};

// Reads a whole setup reply (its 8-byte head included, in this machine's
// byte order, as it was asked for). False unless it is an accepted setup
// whose head gives its size, whose vendor, formats, screens, depths and
// visuals all lie within it, and whose screen number screen exists and has
// its root visual and a pixmap format for its depth.
bool ReadSetup(const uint8_t *reply, size_t size, int screen,
               SetupFacts *facts);

// The bytes libxcb holds for a reply: the 32-byte head and the 4-byte words
// its length field counts.
size_t ReplySize(const void *reply);

// A QueryColors reply for pixels 0 to 255 as an 8-bit palette; false unless
// it holds 256 entries within its size.
bool PaletteFromColors(const uint8_t *reply, size_t size, PixelFormat *format);

}  // namespace x11
}  // namespace kplat
