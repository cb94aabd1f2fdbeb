// Pixel memory of bitmaps, and of the module's screen-sized heap blocks.
// Screen-sized blocks are mapped on their own and populated in one call,
// rather than faulted in a page at a time; the last few freed blocks are
// kept for the next allocations of their sizes, so a host that captures
// repeatedly faults in no fresh pages.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kplat {
namespace gdi {

// Blocks from this size up are mapped; smaller ones come from the C heap.
const size_t kMapMinBytes = size_t(64) << 10;

// size bytes of pixel memory, or NULL.
uint8_t *AllocatePixels(size_t size);

// Gives back a block of AllocatePixels(size); the block may be kept for
// the next allocation.
void ReleasePixels(uint8_t *pixels, size_t size);

// Unmaps the kept blocks, and keeps none from then on (at unload).
void StopKeepingPixels();

}  // namespace gdi
}  // namespace kplat
