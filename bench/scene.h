// The benchmark's screen: a fixed desktop-like picture (a gradient
// wallpaper, windows with title bars and flat panels, lines of text-like
// glyphs, and a photo-like area), the same on every run.
#pragma once

#include <stdint.h>

#include <vector>

namespace kbench {

// w x h pixels, top-down, each 0x00RRGGBB.
std::vector<uint32_t> DrawScene(int w, int h);

// The same picture as 5-6-5 pixels.
std::vector<uint16_t> ToRgb565(const std::vector<uint32_t> &xrgb);

}  // namespace kbench
