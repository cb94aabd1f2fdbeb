// What tests that link the library's objects statically can ask of the
// platform through its one hook: fault injection, object accounting and an
// in-process memory display. None of this is in the shared library.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "hook.h"
#include "wingdi.h"

#ifdef __cplusplus
extern "C" {
#endif

// The n-th call of op from now (1 = the next one) fails; 0 disarms op.
// Only one call fails: the ones after it succeed again.
void KTestFailNth(KTestOp op, unsigned n);
// Disarms every op and sets every call count to 0.
void KTestResetFaults(void);
// Calls of op since the last KTestResetFaults, failed ones included.
unsigned KTestCallCount(KTestOp op);

// Live graphics objects made by the platform's calls (stock objects are not
// counted): device contexts (screen and memory), screen-compatible bitmaps,
// DIB sections.
typedef struct KTestLiveObjects {
  int screenDCs;
  int memoryDCs;
  int bitmaps;
  int sections;
} KTestLiveObjects;
KTestLiveObjects KTestGetLiveObjects(void);

// A memory display for GetDC(NULL). Pixel formats as the platform supports
// them: bitsPerPixel 8 (palettised: masks all 0 and a 256-entry palette),
// 16 (masks 5-5-5 or 5-6-5), 24 or 32 (8- or 10-bit channels).
typedef struct KTestDisplayFormat {
  int bitsPerPixel;
  uint32_t redMask;
  uint32_t greenMask;
  uint32_t blueMask;
  const RGBQUAD *palette;  // 256 entries when palettised, else NULL
} KTestDisplayFormat;

// Installs (or replaces) the memory display with a copy of the pixels: rows
// top-down, stride bytes apart, little-endian pixels of the format. Returns 0
// for an unsupported format or size. Once installed it takes precedence over
// the system's display.
int KTestInstallMemoryDisplay(int width, int height,
                              const KTestDisplayFormat *format,
                              const void *pixels, size_t stride);
void KTestRemoveMemoryDisplay(void);

#ifdef __cplusplus
}
#endif
