// DRM cards faked behind the kernel and libdrm seams: CRTCs and
// framebuffers from memory, each framebuffer's object in a memfd (so that
// mappings are real), and counts of everything handed out.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

namespace ktest {

struct FakeDrmFb {
  uint32_t id = 0;
  uint32_t width = 0, height = 0;
  uint32_t fourcc = 0;
  uint64_t modifier = 0;
  bool modifiers = false;  // DRM_MODE_FB_MODIFIERS
  int planes = 1;          // each plane's object gets its own handle
  uint32_t pitch = 0, offset = 0;
  uint32_t bpp = 0, depth = 0;  // for the older query
  std::vector<uint8_t> memory;  // the object
};

struct FakeCrtc {
  uint32_t id = 0;
  uint32_t fbId = 0;
  uint32_t x = 0, y = 0, width = 0, height = 0;
  bool modeValid = true;
};

struct FakeCard {
  bool exists = true;
  std::vector<FakeCrtc> crtcs;  // in the order the resources list them
  std::vector<FakeDrmFb> fbs;
  bool master = true;  // handles are given back
  bool hasFb2 = true;  // the kernel knows the newer query
  bool dumbMap = true;
  bool prime = true;
};

struct FakeDrm {
  std::vector<FakeCard> cards;  // card0, card1, ...

  // Counts.
  std::vector<std::string> opened;
  int openFds = 0;
  int liveMappings = 0;
  int liveAllocations = 0;  // libdrm results not freed
  int handlesGiven = 0;
  std::map<uint32_t, int> liveHandles;  // handle -> card
  int syncStarts = 0, syncEnds = 0;
  int dumbMaps = 0, primeExports = 0;
  int fb2Queries = 0, fbQueries = 0;

  // An XRGB8888-style framebuffer of the given size whose object holds
  // pixel values (y << 16 | x << 8 | id) at `offset`, rows `pitch` apart.
  static FakeDrmFb Fb(uint32_t id, uint32_t width, uint32_t height,
                      uint32_t fourcc, uint32_t pitch, uint32_t offset);
  static uint32_t Pixel(const FakeDrmFb &fb, uint32_t x, uint32_t y);
  // The fake's pixels changed: push them to the objects.
  void Sync();
};

void InstallFakeDrm(FakeDrm *fake);
void UninstallFakeDrm();

}  // namespace ktest
