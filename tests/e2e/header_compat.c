/* Built, never run: the public header next to a host's own WCHAR of
 * another type, in C. A clash fails the build. */
#include <wchar.h>
typedef wchar_t WCHAR;
#define KESTREL_NO_WCHAR
#include "kestrel/kestrel.h"

int CaptureFromHost(const KESTREL_WCHAR *path, const WCHAR *unused) {
  (void)unused;
  return SnapShot(path, 0);
}
