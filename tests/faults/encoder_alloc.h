// A failing allocator for the encoding libraries. The test executable that
// links encoder_alloc.cpp replaces the process's malloc family with thin
// forwarders to the C library's own; once armed, the n-th allocation made
// directly by libjpeg, libpng or zlib returns null. Every block is counted,
// so a test can see whether a call gave back all it took.
#pragma once

#include <stddef.h>

namespace kfault {

// False in builds whose allocator belongs to a sanitizer or to valgrind:
// the replacement is left out there.
bool EncoderAllocAvailable();

// Counts, from now, the encoding libraries' allocations, and fails the
// n-th of them (0: none fails).
void ArmEncoderAllocFailure(unsigned n);
void DisarmEncoderAlloc();
unsigned EncoderAllocations();  // since the last arming

// Heap blocks the whole process holds now.
long LiveBlocks();

}  // namespace kfault
