// Drives the Wayland screen the way the graphics calls do: open, a frame,
// every pixel, the frame's end.
#pragma once

#include "display.h"
#include "images.h"

namespace ktest {

struct Capture {
  kplat::Frame frame;
  Image image;  // the frame's pixels as 8-bit RGB
};

// Truecolour pixels (rows stride bytes apart) as 8-bit RGB.
Image RgbImage(int w, int h, const kplat::PixelFormat &format,
               const uint8_t *pixels, size_t stride);

// One whole frame of the Wayland screen; false when open, the frame or the
// read failed. With lent, read into memory the display lends (as into a
// screen bitmap), which the compositor writes into where it can.
bool CaptureWayland(Capture *capture, bool lent = false);

// The first pixel where two images differ, as text, or "" when they are
// equal (sizes included).
std::string FirstDifference(const Image &a, const Image &b);

// The w x h part of image at (x, y).
Image Crop(const Image &image, int x, int y, int w, int h);

}  // namespace ktest
