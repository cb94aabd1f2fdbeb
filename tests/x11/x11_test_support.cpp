#include "x11_test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "display_probe.h"
#include "x_scene.h"

namespace ktest {

void UseServer(const Xvfb &server) {
  setenv("DISPLAY", server.name().c_str(), 1);
  kplat::CloseDisplays();
}

bool ReadScreen(std::vector<uint32_t> *pixels, int *width, int *height,
                kplat::PixelFormat *format, int stridePad, bool bottomUp) {
  ktest::DisplayProbe *display = ktest::SystemDisplay();
  if (!display || !display->GetSize(width, height) ||
      !display->GetFormat(format))
    return false;
  const int bytes = format->BytesPerPixel();
  const ptrdiff_t stride = ptrdiff_t(*width) * bytes + stridePad;
  std::vector<uint8_t> buffer(size_t(stride) * size_t(*height), 0xEE);
  uint8_t *first = buffer.data();
  ptrdiff_t step = stride;
  if (bottomUp) {
    first += stride * (*height - 1);
    step = -stride;
  }
  if (!display->ReadPixels(0, 0, *width, *height, first, step)) return false;
  *pixels = DecodeLittleEndian(first, *width, *height, step, bytes);
  // Padding after each row must be left alone.
  for (int y = 0; y < *height; ++y)
    for (int p = 0; p < stridePad; ++p)
      if (first[y * step + ptrdiff_t(*width) * bytes + p] != 0xEE) return false;
  return true;
}

int CountOwnSysVSegments(bool notMarkedOnly) {
  FILE *f = fopen("/proc/sysvipc/shm", "r");
  if (!f) return -1;
  char line[512];
  int n = 0;
  const long self = long(getpid());
  if (!fgets(line, sizeof(line), f)) {  // header
    fclose(f);
    return 0;
  }
  while (fgets(line, sizeof(line), f)) {
    long key, id, perms, size, cpid;
    if (sscanf(line, "%ld %ld %lo %ld %ld", &key, &id, &perms, &size, &cpid) ==
            5 &&
        cpid == self && !(notMarkedOnly && (perms & 01000)))  // SHM_DEST
      ++n;
  }
  fclose(f);
  return n;
}

}  // namespace ktest
