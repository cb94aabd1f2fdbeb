// Puts the captured outputs together into one picture of the desktop.
#pragma once

#include <stdint.h>

#include "picture.h"

namespace kplat {
namespace wl {

// One output's pixels as the compositor copied them: in the output's own
// orientation (before its transform is undone).
struct OutputImage {
  const uint8_t *data;
  int32_t width, height, stride;
  uint32_t shmFormat;
  bool yInvert;  // rows stored bottom-up
};

// Where and how an output is shown: its logical rectangle on the desktop and
// its wl_output transform.
struct Placement {
  int32_t x, y, width, height;
  int32_t transform;
};

// The bounding box of all placements at the largest pixel density among
// the outputs: each output turned the way the user sees it and put at its
// position, an output of lower density enlarged by nearest neighbour (whole
// pixels repeated, no colours made up), the gaps black. The picture takes
// the outputs' format when they share one, else 8- or 10-bit XRGB. A
// picture that already has (black) pixels is drawn into when its size and
// format are right; otherwise one is allocated. False for an unreadable
// format, a size out of range, or a given picture that does not fit. Outputs
// whose inPlace entry is set are already at their place in the picture (the
// compositor wrote them there) and are only turned upright if stored
// bottom-up.
bool Compose(const Placement *placements, const OutputImage *images, int count,
             Picture *picture, const bool *inPlace = nullptr);

// For each output, the byte offset in picture (of the size and format
// PlanPicture gives) where the compositor can write it straight, with the
// picture's stride: an upright output at the picture's density, in its
// format, whose described stride is the picture's (a compositor takes only
// the stride it described). -1 for an output that has to be copied.
void PlaceInPicture(const Placement *placements, const OutputImage *images,
                    int count, const Picture &picture, int64_t *offsets);

// The size and format Compose gives for outputs of these shapes, before
// any pixel is there (only the images' sizes and formats are read).
bool PlanPicture(const Placement *placements, const OutputImage *images,
                 int count, int *width, int *height, PixelFormat *format);

}  // namespace wl
}  // namespace kplat
