#include "soak.h"

#include <kestrel/kestrel.h>
#include <stdlib.h>

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

}  // namespace kfault
