// Turning screen pixels into the 24-bit blue-green-red of DIB sections.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "display.h"

namespace kplat {

// Everything a conversion needs, worked out once per format so that the
// row loops do no per-pixel decisions.
struct Bgr24Converter {
  enum class Path : uint8_t {
    kPalette,  // 8-bit index into a palette
    kBytes24,  // 24 bits: each channel is one whole byte
    kShift32,  // 32 bits with 8-bit channels
    kTable16,  // 16 bits: 5- or 6-bit channels through tables
    kTable32,  // 32 bits: 10-bit channels through tables
  };
  Path path;
  bool byteAligned;         // every channel starts on a byte boundary
  uint8_t shift[3];         // blue, green, red: lowest bit of each channel
  uint32_t max[3];          // largest channel value, after the shift
  uint8_t table[3][1024];   // filled for the table paths only
  uint8_t palette[256][3];  // blue, green, red
  uint32_t entry[256];      // the palette as blue | green << 8 | red << 16
};

// Fills conv for a supported format; false for anything else.
bool PrepareBgr24Converter(const PixelFormat &format, Bgr24Converter *conv);

// Which row routines a conversion uses. kBest is what the graphics calls
// use; the others exist so that tests and benchmarks can compare them.
enum class ConvertKernel : uint8_t {
  kBest,   // SSSE3 or NEON where the CPU has it and the path allows,
           // else kBlock
  kPlain,  // one pixel at a time
  kBlock,  // four pixels at a time in 32-bit words, any CPU
  kSsse3,  // 16-byte shuffles; only when the CPU has SSSE3
  kNeon,   // 16-pixel NEON loads and stores; only when the CPU has NEON
};

// Converts a width x height block. Row r of the source starts at
// src + r * srcStride and of the destination at dst + r * dstStride; either
// stride may be negative. The blocks must not overlap.
void ConvertToBgr24(const Bgr24Converter &conv, const uint8_t *src,
                    ptrdiff_t srcStride, uint8_t *dst, ptrdiff_t dstStride,
                    int width, int height,
                    ConvertKernel kernel = ConvertKernel::kBest);

// Copies a width x height block of 3-byte pixels as ConvertToBgr24 does,
// with the first and third byte of each pixel swapped when swapRedBlue is
// set (CopyPixels24 with a choice of routines).
void CopyBgr24(const uint8_t *src, ptrdiff_t srcStride, uint8_t *dst,
               ptrdiff_t dstStride, int width, int height, bool swapRedBlue,
               ConvertKernel kernel = ConvertKernel::kBest);

}  // namespace kplat
