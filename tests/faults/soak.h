// Long runs of captures, alternating PNG and JPEG, with the resources the
// process holds read before and after.
#pragma once

#include <stddef.h>

#include <string>

namespace kfault {

struct ProcessResources {
  size_t heapInUse = 0;  // bytes the C library's heap has handed out
  int descriptors = 0;
  int mappings = 0;     // lines of /proc/self/maps
  int shmSegments = 0;  // System V shared-memory segments it made
  int threads = 0;      // threads of this process
};
ProcessResources ReadResources();

// Under valgrind, which maps memory for the process's heap on its own, so
// that the count of mappings says nothing about the library.
bool UnderValgrind();

// Whether the count of the process's mappings speaks of the library:
// valgrind maps the heap itself, and AddressSanitizer maps as its
// quarantine fills.
bool MappingsCounted();

// Whether the heap in use at the end is no higher than at the start. The
// same requests may be given chunks one alignment step (two words) larger,
// where the allocator hands out a whole free chunk rather than split off a
// rest too small to stand alone: libxcb frees and makes anew a record of the
// connection in every call, and on AArch64 it was seen to land so. Whatever
// a call keeps takes at least a whole smallest chunk (four words) more.
bool HeapNoHigher(size_t before, size_t after);

struct SoakResult {
  int calls = 0;
  int failures = 0;         // calls that did not give 1
  ProcessResources before;  // after a warm-up of a few calls
  ProcessResources after;
};

// calls captures into dir, alternating PNG and JPEG (quality 75).
SoakResult Soak(const std::string &dir, int calls);

// The checks every soak makes: no failed call, and heap, descriptors,
// mappings (where they mean something) and shared-memory segments no higher
// at the end, with one thread throughout. Records the figures as test
// properties (--gtest_output=xml).
void ExpectHeldNothingMore(const SoakResult &r);

// Calls for the soak: KESTREL_SOAK_CALLS when set (the long run), else
// fallback.
int SoakCalls(int fallback);

}  // namespace kfault
