// The floor of a call: the encoders alone, with the writers' settings, on a
// packed buffer already in memory. Nothing else: no grab, no conversion.
#pragma once

#include <stdint.h>

namespace kbench {

// Red-green-blue rows, libjpeg's defaults at the quality (baseline limit).
bool FloorJpeg(const char *path, const uint8_t *rgb, int w, int h, int quality);

// Blue-green-red rows, libpng's defaults, written through fwrite.
bool FloorPng(const char *path, const uint8_t *bgr, int w, int h);

}  // namespace kbench
