// The PNG file a portal hands over, as any bytes: the reader gives a
// picture of the size its header states, within the size ceiling, with
// every byte of it written, or nothing.
#include <stdio.h>
#include <stdlib.h>

#include "png_picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "rb");
  if (!file) return 0;
  kplat::Picture picture;
  const bool ok = kplat::portal::ReadPngPicture(file, &picture);
  fclose(file);
  if (!ok) {
    if (picture.pixels) abort();
    return 0;
  }
  if (!kplat::FitsSizeCeiling(picture.width, picture.height) ||
      picture.stride < size_t(picture.width) * 4)
    abort();
  // Reading every byte lets the sanitizers see any left undefined.
  unsigned sum = 0;
  for (size_t i = 0; i < picture.stride * size_t(picture.height); ++i)
    sum += picture.pixels[i];
  kplat::FreePicture(&picture);
  return sum == 1u << 31;
}
