#include "soak.h"

#include <gtest/gtest.h>
#include <kestrel/kestrel.h>
#include <stdlib.h>

#include "emulation.h"
#include "test_support.h"

namespace kfault {
SoakResult Soak(const std::string &dir, int calls) {
  SoakResult result;
  const std::u16string png = ktest::Utf16(dir + "/soak.png");
  const std::u16string jpeg = ktest::Utf16(dir + "/soak.jpg");
  for (int i = 0; i < 4; ++i)
    SnapShot(i % 2 ? jpeg.c_str() : png.c_str(), i % 2 ? 75 : 0);
  result.before = ReadResources();
  for (int i = 0; i < calls; ++i) {
    const bool isJpeg = i % 2 != 0;
    if (SnapShot(isJpeg ? jpeg.c_str() : png.c_str(), isJpeg ? 75 : 0) != 1)
      ++result.failures;
    ++result.calls;
  }
  result.after = ReadResources();
  return result;
}

int SoakCalls(int fallback) {
  const char *text = getenv("KESTREL_SOAK_CALLS");
  const int n = text != nullptr ? atoi(text) : 0;
  return n > 0 ? n : fallback;
}

void ExpectHeldNothingMore(const SoakResult &r) {
  EXPECT_EQ(r.failures, 0);
  EXPECT_TRUE(HeapNoHigher(r.before.heapInUse, r.after.heapInUse))
      << r.before.heapInUse << " bytes before, " << r.after.heapInUse
      << " after";
  EXPECT_EQ(r.after.descriptors, r.before.descriptors);
  // The sanitizers' and valgrind's allocators map on their own; the
  // normal build counts mappings.
  if (MappingsCounted()) {
    EXPECT_LE(r.after.mappings, r.before.mappings);
  }
  EXPECT_EQ(r.after.shmSegments, r.before.shmSegments);
  // The library starts no thread of its own.
  EXPECT_EQ(r.before.threads, ktest::ThreadsAtStart());
  EXPECT_EQ(r.after.threads, ktest::ThreadsAtStart());
  using ::testing::Test;
  Test::RecordProperty("calls", r.calls);
  Test::RecordProperty("heap_before", std::to_string(r.before.heapInUse));
  Test::RecordProperty("heap_after", std::to_string(r.after.heapInUse));
  Test::RecordProperty("fds_before", r.before.descriptors);
  Test::RecordProperty("fds_after", r.after.descriptors);
  Test::RecordProperty("maps_before", r.before.mappings);
  Test::RecordProperty("maps_after", r.after.mappings);
  Test::RecordProperty("shm_before", r.before.shmSegments);
  Test::RecordProperty("shm_after", r.after.shmSegments);
}

}  // namespace kfault
