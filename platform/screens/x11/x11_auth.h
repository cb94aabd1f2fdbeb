// The cookie an authority file holds for an X server, read here rather than
// by Xau: Xau opens the file blocking (a FIFO there holds the call in open
// for ever) and reads without a size bound (/dev/zero there is endless).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kplat {
namespace x11 {

// The one kind of cookie used.
inline constexpr char kCookieName[] = "MIT-MAGIC-COOKIE-1";

// Families as authority files write them.
const uint16_t kFamilyInternet = 0;
const uint16_t kFamilyInternet6 = 6;
const uint16_t kFamilyLocal = 256;
const uint16_t kFamilyWild = 65535;

// A larger file is not read (real ones hold a few entries per display).
const size_t kMaxAuthorityBytes = 1 << 20;

struct Cookie {
  uint8_t data[256];
  size_t size;
};

// Where a server is: its family, address and display number (as text).
struct AuthPeer {
  uint16_t family;
  const uint8_t *address;
  size_t addressLen;
  const char *number;
};

// The MIT-MAGIC-COOKIE-1 for peer in the file XAUTHORITY names (else
// $HOME/.Xauthority), matched as Xau matches. False when there is none, or
// the file is not a regular file of at most kMaxAuthorityBytes; the open
// never waits.
bool FindCookie(const AuthPeer &peer, Cookie *cookie);

// The same over a file's bytes: the first entry for the peer (families and
// addresses equal, or either family wild; numbers equal, or either empty)
// whose name is MIT-MAGIC-COOKIE-1. False at a field that runs past size.
bool CookieIn(const uint8_t *file, size_t size, const AuthPeer &peer,
              Cookie *cookie);

}  // namespace x11
}  // namespace kplat
