// A framebuffer device faked behind the kernel seam: screen information and
// colour map from memory, the device's memory in a memfd (so that mapping
// and pread are real), and counts of what is held.
#pragma once

#include <linux/fb.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace ktest {

struct FakeFramebuffer {
  std::string path = "/dev/fake-fb";
  fb_var_screeninfo var = {};
  fb_fix_screeninfo fix = {};
  uint16_t red[256] = {}, green[256] = {}, blue[256] = {};
  uint32_t cmapLength = 256;  // entries the driver keeps
  std::vector<uint8_t> memory;
  bool mmapAllowed = true;

  // Counts.
  int opens = 0;
  int openFds = 0;
  int liveMappings = 0;
  int mmaps = 0;
  int preads = 0;
  std::string lastPath;

  // A packed-pixel screen of the given visible size and depth whose virtual
  // screen is the same size; line length and memory follow.
  void SetUp(uint32_t xres, uint32_t yres, uint32_t bpp, uint32_t visual);
  void SetField(fb_bitfield *f, uint32_t offset, uint32_t length) {
    *f = {offset, length, 0};
  }
  void SetChannels(uint32_t redOffset, uint32_t redLength, uint32_t greenOffset,
                   uint32_t greenLength, uint32_t blueOffset,
                   uint32_t blueLength) {
    SetField(&var.red, redOffset, redLength);
    SetField(&var.green, greenOffset, greenLength);
    SetField(&var.blue, blueOffset, blueLength);
  }
  // Stores bytes at a row and byte of the virtual screen.
  void Put(uint32_t row, uint32_t byte, std::vector<uint8_t> bytes);
  // Stores a pixel of 16 bits or more (little-endian) at a row and column.
  void PutPixel(uint32_t row, uint32_t x, uint32_t pixel);

  // Pushes the memory to the device; call after changing it.
  void Sync();
  // The device goes away: every call on it fails, its memory shrinks to
  // nothing (touching an old mapping would raise SIGBUS).
  void Vanish();
};

// Puts the fake in front of the kernel calls until UninstallFake.
void InstallFake(FakeFramebuffer *fake);
void UninstallFake();

}  // namespace ktest
