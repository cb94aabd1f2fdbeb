// What an X screen should look like once captured, computed by the test
// from the server's own read-back and nothing of the library.
#pragma once

#include "images.h"
#include "x_scene.h"

namespace ktest {

// The read-back pixels as RGB: channels scaled to 8 bits with rounding,
// colormapped pixels through the server's palette.
bool ExpectedRgb(const std::string &display, const ServerImage &screen,
                 Image *rgb);

}  // namespace ktest
