// Host names of TCP displays looked up within a deadline. getaddrinfo waits
// as long as the resolver's settings say (10 s by default, minutes with
// long timeouts), so the lookup is made with getaddrinfo_a, on a helper
// thread the C library starts and ends, and abandoned at the deadline.
// Numeric addresses are read without either.
#pragma once

#include <netdb.h>

#include "x11_wait.h"

namespace kplat {
namespace x11 {

// The addresses of host and port (freed with freeaddrinfo), or NULL when the
// lookup failed or the deadline passed first. An abandoned lookup keeps its
// memory until the C library has finished with it; a later lookup frees it,
// and while kMaxAbandoned are still unfinished no new one is started.
struct addrinfo *LookUpWithin(const char *host, const char *port,
                              const struct addrinfo &hints,
                              const Deadline &deadline);

const int kMaxAbandoned = 4;

}  // namespace x11
}  // namespace kplat
