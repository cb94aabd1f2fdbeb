#include "x11_resolve.h"

#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

namespace kplat {
namespace x11 {
namespace {

// Everything the C library's thread reads or writes while it looks up: it
// must outlive the call that gave up on it.
struct Lookup {
  struct gaicb request;
  struct addrinfo hints;
  char host[256];
  char port[16];
};

// Lookups given up on, still in the C library's hands. Heap memory, never
// freed at unload: a late answer is written into memory that stays valid.
Lookup *g_abandoned[kMaxAbandoned];

void Release(Lookup *lookup) {
  if (lookup->request.ar_result) freeaddrinfo(lookup->request.ar_result);
  free(lookup);
}

bool Finished(Lookup *lookup) {
  return gai_error(&lookup->request) != EAI_INPROGRESS;
}

// Frees the abandoned lookups that have finished; the index of a free
// slot, or -1 when every slot still holds an unfinished one.
int ReapAbandoned() {
  int freeSlot = -1;
  for (int i = 0; i < kMaxAbandoned; ++i) {
    if (g_abandoned[i] && Finished(g_abandoned[i])) {
      Release(g_abandoned[i]);
      g_abandoned[i] = nullptr;
    }
    if (!g_abandoned[i]) freeSlot = i;
  }
  return freeSlot;
}

}  // namespace

struct addrinfo *LookUpWithin(const char *host, const char *port,
                              const struct addrinfo &hints,
                              const Deadline &deadline) {
  // A numeric address needs no lookup, nor a thread.
  struct addrinfo numeric = hints;
  numeric.ai_flags |= AI_NUMERICHOST;
  struct addrinfo *address = nullptr;
  if (getaddrinfo(host, port, &numeric, &address) == 0) return address;
  const int slot = ReapAbandoned();
  if (slot < 0 || strlen(host) >= sizeof(Lookup::host) ||
      strlen(port) >= sizeof(Lookup::port))
    return nullptr;
  Lookup *lookup = static_cast<Lookup *>(calloc(1, sizeof(Lookup)));
  if (lookup == nullptr) return nullptr;
  strcpy(lookup->host, host);
  strcpy(lookup->port, port);
  lookup->hints = hints;
  lookup->request.ar_name = lookup->host;
  lookup->request.ar_service = lookup->port;
  lookup->request.ar_request = &lookup->hints;
  struct gaicb *list[1] = {&lookup->request};
  struct sigevent none;
  memset(&none, 0, sizeof none);
  none.sigev_notify = SIGEV_NONE;
  if (getaddrinfo_a(GAI_NOWAIT, list, 1, &none) != 0) {
    free(lookup);
    return nullptr;
  }
  for (int left = deadline.RemainingMs(); left > 0 && !Finished(lookup);
       left = deadline.RemainingMs()) {
    const struct timespec wait = {left / 1000, long(left % 1000) * 1000000};
    gai_suspend(list, 1, &wait);  // signals end it early; the loop goes on
  }
  // A request the C library has not started yet is taken back whole.
  if (!Finished(lookup) && gai_cancel(&lookup->request) != EAI_CANCELED &&
      !Finished(lookup)) {
    g_abandoned[slot] = lookup;
    return nullptr;
  }
  struct addrinfo *result = nullptr;
  if (gai_error(&lookup->request) == 0) {
    result = lookup->request.ar_result;
    lookup->request.ar_result = nullptr;
  }
  Release(lookup);
  return result;
}

}  // namespace x11
}  // namespace kplat
