// Pixel memory of bitmaps. Screen-sized blocks are mapped on their own,
// with transparent huge pages where the kernel gives them, so that a fresh
// block costs a few faults instead of one per 4 KiB page; one freed block
// is kept for the next bitmap of about its size.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kplat {
namespace gdi {

// size bytes of pixel memory, or NULL.
uint8_t *AllocatePixels(size_t size);

// Gives back a block of AllocatePixels(size); the block may be kept for
// the next allocation.
void ReleasePixels(uint8_t *pixels, size_t size);

// Unmaps the kept block, and keeps none from then on (at unload).
void StopKeepingPixels();

}  // namespace gdi
}  // namespace kplat
