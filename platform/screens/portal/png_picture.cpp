#include "png_picture.h"

#include <png.h>
#include <string.h>

namespace kplat {
namespace portal {

bool ReadPngPicture(FILE *file, Picture *picture) {
  memset(picture, 0, sizeof *picture);
  // libpng's simplified interface keeps its error recovery to itself.
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_stdio(&image, file)) return false;
  image.format = PNG_FORMAT_BGRA;
  PixelFormat format;
  memset(&format, 0, sizeof format);
  format.bitsPerPixel = 32;
  format.redMask = 0xff0000;
  format.greenMask = 0xff00;
  format.blueMask = 0xff;
  if (!FitsSizeCeiling(image.width, image.height) ||
      !AllocatePicture(int(image.width), int(image.height), format, picture)) {
    png_image_free(&image);
    return false;
  }
  if (!png_image_finish_read(&image, nullptr, picture->pixels,
                             png_int_32(picture->stride), nullptr)) {
    png_image_free(&image);
    FreePicture(picture);
    return false;
  }
  return true;
}

}  // namespace portal
}  // namespace kplat
