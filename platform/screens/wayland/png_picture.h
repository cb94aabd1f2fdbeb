// Reads a PNG file (as the desktop portal leaves one) into a picture.
#pragma once

#include "wl_picture.h"

namespace kplat {
namespace wl {

// The file's pixels as 8-bit XRGB (alpha dropped). False, holding nothing,
// when the file cannot be read or decoded.
bool ReadPngPicture(const char *path, Picture *picture);

}  // namespace wl
}  // namespace kplat
