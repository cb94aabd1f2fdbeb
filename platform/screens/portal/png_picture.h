// Reads a PNG file (as the desktop portal leaves one) into a picture.
#pragma once

#include <stdio.h>

#include "picture.h"

namespace kplat {
namespace portal {

// The stream's pixels as 8-bit XRGB (alpha dropped). False, holding
// nothing, when the stream is not a PNG, cannot be decoded, or its header
// gives a size above the screen size ceiling (checked before any pixel is
// decoded or memory for the pixels is taken).
bool ReadPngPicture(FILE *file, Picture *picture);

}  // namespace portal
}  // namespace kplat
